// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>

class InstanceLock;
class PanelControl;
class RemotePanel;
class RemoteServer;

/**
 * The instance a panel runs for, one panel per instance: its lock, taken before anything is
 * read and held while the panel lives, and the socket on which its scripts find it.
 */
class Instance
{
public:
    /** `context` of the store at `location`. */
    Instance(std::string location, std::string context);
    ~Instance();

    enum class Claim {
        Ours, ///< this panel holds the instance, or nobody can tell whether another does
        Raised, ///< its running panel was asked to the front
        NotRaised, ///< a panel holds it that could not be asked to the front
    };
    /** Takes the instance's lock; where its panel runs, asks that one to the front. Says on
        `err` what it found, naming the instance `instanceName`, unless the instance is ours. */
    Claim claim(const std::string &instanceName, std::ostream &err);

    /** Takes the scripts' requests on the instance's socket, for `panel`, which must outlive
        this; only where this panel holds the instance's lock. */
    void listen(RemotePanel &panel, std::ostream &err);
    /** Takes SCPI on loopback `port` for `panel`, which must outlive this, as the instrument
        named `instanceName`; only where this panel holds the instance's lock. */
    void offerScpi(PanelControl &panel, const std::string &instanceName, std::uint16_t port,
                   std::ostream &err);

private:
    std::string m_location;
    std::string m_context;
    std::unique_ptr<InstanceLock> m_lock; ///< while the instance is this panel's
    std::unique_ptr<RemoteServer> m_remote; ///< the scripts' socket, once the instance is ours
    std::unique_ptr<RemoteServer> m_scpi; ///< its SCPI port, when asked for
};
