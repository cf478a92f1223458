// SPDX-License-Identifier: MIT
#include "AdapterLink.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr const char *kDefaultPort = "1234";
/** What an adapter may send unasked before it is read (a chatty one must not grow memory). */
constexpr std::size_t kInputLimit = 4096;

int openSerial(const std::string &path, int &error)
{
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = errno;
        return -1;
    }
    const auto refuse = [&](int cause) {
        ::close(fd);
        error = cause;
        return -1;
    };
    if (!::isatty(fd))
        return refuse(ENOTTY);
    // The lock keeps out another panel even as root, whom TIOCEXCL does not stop.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0)
        return refuse(errno == EWOULDBLOCK ? EBUSY : errno);
    if (::ioctl(fd, TIOCEXCL) != 0)
        return refuse(errno);
    termios tio {};
    if (::tcgetattr(fd, &tio) != 0)
        return refuse(errno);
    ::cfmakeraw(&tio);
    tio.c_cflag &= ~(CSIZE | PARENB | CSTOPB | HUPCL); // no hang-up: an Arduino resets on it
#if defined(CRTSCTS)
    tio.c_cflag &= ~CRTSCTS;
#endif
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    tio.c_iflag &= ~(IXON | IXOFF | IXANY);
    // With O_NONBLOCK a read then gives EAGAIN when nothing is there, and 0 only on hang-up.
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    // The Prologix ignores the rate; the AR488 needs it.
    if (::cfsetispeed(&tio, B115200) != 0 || ::cfsetospeed(&tio, B115200) != 0
        || ::tcsetattr(fd, TCSANOW, &tio) != 0)
        return refuse(errno);
    ::tcflush(fd, TCIOFLUSH);
    return fd;
}

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

int remainingMs(AdapterLink::Clock::time_point deadline)
{
    using namespace std::chrono;
    const auto left = ceil<milliseconds>(deadline - AdapterLink::Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, 60'000));
}

int connectTcp(const std::string &where, AdapterLink::Clock::time_point deadline, int &error)
{
    std::string host;
    std::string port;
    if (!splitHost(where, host, port)) {
        error = EINVAL;
        return -1;
    }
    addrinfo hints {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo *found = nullptr;
    if (const int rc = ::getaddrinfo(host.c_str(), port.c_str(), &hints, &found); rc != 0) {
        error = rc == EAI_SYSTEM ? errno : EHOSTUNREACH;
        return -1;
    }
    error = ETIMEDOUT;
    int fd = -1;
    for (const addrinfo *at = found; at && fd < 0; at = at->ai_next) {
        fd = ::socket(at->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            error = errno;
            continue;
        }
        int result = ::connect(fd, at->ai_addr, at->ai_addrlen) == 0 ? 0 : errno;
        if (result == EINPROGRESS) {
            pollfd wait {fd, POLLOUT, 0};
            int ready = 0;
            while ((ready = ::poll(&wait, 1, remainingMs(deadline))) < 0 && errno == EINTR) { }
            socklen_t size = sizeof result;
            if (ready <= 0)
                result = ready == 0 ? ETIMEDOUT : errno;
            else if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &result, &size) != 0)
                result = errno;
        }
        if (result != 0) {
            error = result;
            ::close(fd);
            fd = -1;
        }
    }
    ::freeaddrinfo(found);
    if (fd >= 0) {
        const int on = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    }
    return fd;
}

} // namespace

std::unique_ptr<AdapterLink> AdapterLink::open(const std::string &where, Clock::time_point deadline,
                                               int &error)
{
    error = 0;
    const bool serial = where.starts_with('/');
    const int fd = serial ? openSerial(where, error) : connectTcp(where, deadline, error);
    if (fd < 0)
        return nullptr;
    return std::unique_ptr<AdapterLink>(new AdapterLink(fd, serial));
}

AdapterLink::AdapterLink(int fd, bool serial)
    : m_fd(fd)
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
    if (m_fd >= 0) {
        if (m_serial)
            ::ioctl(m_fd, TIOCNXCL); // the flag outlives this descriptor while others hold the port
        ::close(m_fd);
        m_fd = -1;
    }
    return false;
}

bool AdapterLink::wait(short events, Clock::time_point deadline)
{
    for (;;) {
        if (m_fd < 0)
            return false;
        pollfd ready {m_fd, events, 0};
        const int timeout = remainingMs(deadline);
        const int rc = ::poll(&ready, 1, timeout);
        if (rc > 0)
            return true; // a hang-up or error shows in the read or write that follows
        if (rc < 0 && errno != EINTR)
            return fail(errno);
        if (rc == 0 && timeout == 0)
            return false;
    }
}

bool AdapterLink::receive()
{
    char buffer[512];
    for (;;) {
        if (m_fd < 0)
            return false;
        const ssize_t got = ::read(m_fd, buffer, sizeof buffer);
        if (got > 0) {
            m_input.append(buffer, static_cast<std::size_t>(got));
            if (m_input.size() > kInputLimit)
                m_input.erase(0, m_input.size() - kInputLimit);
        } else if (got == 0) {
            // The end of the stream: a port whose adapter was unplugged, or a closed connection.
            return fail(m_serial ? ENODEV : ECONNRESET);
        } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
            return true;
        } else if (errno != EINTR) {
            return fail(errno);
        }
    }
}

bool AdapterLink::drain()
{
    const bool alive = receive();
    m_input.clear();
    return alive;
}

bool AdapterLink::send(std::string_view bytes, Clock::time_point deadline)
{
    while (!bytes.empty()) {
        if (m_fd < 0)
            return false;
        const ssize_t sent = m_serial ? ::write(m_fd, bytes.data(), bytes.size())
                                      : ::send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent > 0) {
            bytes.remove_prefix(static_cast<std::size_t>(sent));
        } else if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // A line cut short leaves the adapter in an unknown state: the link ends here.
            if (!wait(POLLOUT, deadline))
                return fail(ETIMEDOUT);
        } else if (sent == 0 || errno != EINTR) {
            return fail(sent == 0 ? EIO : errno);
        }
    }
    return true;
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
        if (!wait(POLLIN, deadline) || !receive())
            return std::nullopt;
    }
}
