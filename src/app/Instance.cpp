// SPDX-License-Identifier: MIT
#include "Instance.h"

#include "remote/RemoteServer.h"
#include "remote/ScpiInstrument.h"
#include "settings/InstanceLock.h"

#include <utility>

namespace {

constexpr int kRaiseWaitMs = 5000; // for the running panel of the instance to answer

} // namespace

Instance::Instance(std::string location, std::string context)
    : m_location(std::move(location))
    , m_context(std::move(context))
{ }

Instance::~Instance() = default;

Instance::Claim Instance::claim(const std::string &instanceName, std::ostream &err)
{
    m_lock = std::make_unique<InstanceLock>(m_location, m_context);
    if (m_lock->state() == InstanceLock::State::Running) {
        const QString why =
            RemoteServer::raisePanel(RemoteServer::panelOf(m_location, m_context), kRaiseWaitMs);
        // An import or a closing panel, which nobody can raise, holds it for a moment only.
        if (!why.isEmpty())
            m_lock = std::make_unique<InstanceLock>(m_location, m_context);
        if (why.isEmpty() || m_lock->state() == InstanceLock::State::Running) {
            const std::string panel = instanceName.empty() ? std::string("the default instance")
                                                           : "instance " + instanceName;
            err << "selvane: the panel of " << panel << " is already running"
                << (why.isEmpty() ? "; brought it to the front"
                                  : "; it could not be asked to come to the front: "
                                        + why.toStdString() + "; no second panel is opened")
                << '\n';
            return why.isEmpty() ? Claim::Raised : Claim::NotRaised;
        }
    }
    if (m_lock->state() == InstanceLock::State::Unknown)
        err << "selvane: the instance cannot be locked: " << m_lock->reason()
            << "; imports into it are refused, and scripts cannot reach it, while this panel "
               "runs\n";
    return Claim::Ours;
}

void Instance::listen(RemotePanel &panel, std::ostream &err)
{
    // Only the lock's holder may make the name, or replace a socket it finds there.
    if (m_lock->state() != InstanceLock::State::Held)
        return;
    m_remote = std::make_unique<RemoteServer>(panel);
    m_remote->listen(RemoteServer::nameOf(m_location, m_context), err);
}

void Instance::offerScpi(PanelControl &panel, const std::string &instanceName, std::uint16_t port,
                         std::ostream &err)
{
    if (m_lock->state() != InstanceLock::State::Held)
        return;
    const QString name = QString::fromLocal8Bit(instanceName.c_str());
    m_scpi = std::make_unique<RemoteServer>(
        [&panel, name] { return std::make_unique<ScpiInstrument>(panel, name); });
    if (!m_scpi->listenLoopback(port, err))
        m_scpi.reset();
}
