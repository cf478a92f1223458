// SPDX-License-Identifier: MIT
#include "AdapterLink.h"

#include <algorithm>
#include <cerrno>
#include <charconv>

namespace {

constexpr const char *kDefaultPort = "1234";
/** What an adapter may send unasked before it is read (a chatty one must not grow memory). */
constexpr std::size_t kInputLimit = 4096;

/** HOST[:PORT], [HOST]:PORT or a bare IPv6 address; false when the port is not a number. */
bool splitHost(const std::string &where, std::string &host, std::string &port)
{
    port = kDefaultPort;
    std::string rest;
    if (where.starts_with('[')) {
        const auto close = where.find(']');
        if (close == std::string::npos)
            return false;
        host = where.substr(1, close - 1);
        rest = where.substr(close + 1);
        if (!rest.empty() && !rest.starts_with(':'))
            return false;
    } else if (const auto colon = where.find(':');
               colon != std::string::npos && where.find(':', colon + 1) == std::string::npos) {
        host = where.substr(0, colon);
        rest = where.substr(colon);
    } else {
        host = where;
    }
    if (!rest.empty()) {
        port = rest.substr(1);
        int number = 0;
        const auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), number);
        if (ec != std::errc() || end != port.data() + port.size() || number < 1 || number > 65535)
            return false;
    }
    return !host.empty();
}

} // namespace

int AdapterLink::remainingMs(Clock::time_point deadline)
{
    using namespace std::chrono;
    const auto left = ceil<milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, 60'000));
}

std::unique_ptr<AdapterLink> AdapterLink::open(const std::string &where, Clock::time_point deadline,
                                               int &error)
{
    error = 0;
    const bool serial = namesSerialPort(where);
    Handle handle = -1;
    if (serial) {
        handle = openSerial(where, error);
    } else {
        std::string host;
        std::string port;
        if (!splitHost(where, host, port))
            error = EINVAL;
        else
            handle = connectTcp(host, port, deadline, error);
    }
    if (handle == -1)
        return nullptr;
    return std::unique_ptr<AdapterLink>(new AdapterLink(handle, serial));
}

AdapterLink::AdapterLink(Handle handle, bool serial)
    : m_handle(handle)
    , m_serial(serial)
{ }

AdapterLink::~AdapterLink()
{
    fail(0);
}

bool AdapterLink::fail(int error)
{
    if (m_error == 0)
        m_error = error;
    if (m_handle != -1) {
        close();
        m_handle = -1;
    }
    return false;
}

void AdapterLink::keepTail()
{
    if (m_input.size() > kInputLimit)
        m_input.erase(0, m_input.size() - kInputLimit);
}

bool AdapterLink::drain()
{
    receive(Clock::time_point {}); // what is there, without waiting
    m_input.clear();
    return m_error == 0;
}

std::optional<std::string> AdapterLink::readLine(Clock::time_point deadline)
{
    for (;;) {
        if (const auto end = m_input.find('\n'); end != std::string::npos) {
            std::string line = m_input.substr(0, end);
            m_input.erase(0, end + 1);
            while (!line.empty() && line.back() == '\r')
                line.pop_back();
            return line;
        }
        if (!receive(deadline))
            return std::nullopt;
    }
}
