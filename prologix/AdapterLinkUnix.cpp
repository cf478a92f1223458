// SPDX-License-Identifier: MIT
// The adapter's serial port (a terminal device) and its TCP connection on POSIX systems.
#include "AdapterLink.h"

#include <cerrno>
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

/** Waits for `events` on `fd`: 1 when they came (or a hang-up or error, which the read or
    write that follows shows), 0 at the deadline, -1 on failure with errno set. */
int waitFor(int fd, short events, AdapterLink::Clock::time_point deadline)
{
    for (;;) {
        pollfd ready {fd, events, 0};
        const int timeout = AdapterLink::remainingMs(deadline);
        const int rc = ::poll(&ready, 1, timeout);
        if (rc > 0)
            return 1;
        if (rc < 0 && errno != EINTR)
            return -1;
        if (rc == 0 && timeout == 0)
            return 0;
    }
}

} // namespace

bool AdapterLink::namesSerialPort(const std::string &where)
{
    return where.starts_with('/');
}

AdapterLink::Handle AdapterLink::openSerial(const std::string &path, int &error)
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

AdapterLink::Handle AdapterLink::connectTcp(const std::string &host, const std::string &port,
                                            Clock::time_point deadline, int &error)
{
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
            const int ready = waitFor(fd, POLLOUT, deadline);
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

void AdapterLink::close()
{
    const int fd = static_cast<int>(m_handle);
    if (m_serial)
        ::ioctl(fd, TIOCNXCL); // the flag outlives this descriptor while others hold the port
    ::close(fd);
}

bool AdapterLink::receive(Clock::time_point deadline)
{
    if (m_handle == -1)
        return false;
    const int fd = static_cast<int>(m_handle);
    if (const int ready = waitFor(fd, POLLIN, deadline); ready <= 0)
        return ready == 0 ? false : fail(errno);
    char buffer[512];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got > 0) {
            m_input.append(buffer, static_cast<std::size_t>(got));
            keepTail();
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

bool AdapterLink::send(std::string_view bytes, Clock::time_point deadline)
{
    while (!bytes.empty()) {
        if (m_handle == -1)
            return false;
        const int fd = static_cast<int>(m_handle);
        const ssize_t sent = m_serial ? ::write(fd, bytes.data(), bytes.size())
                                      : ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent > 0) {
            bytes.remove_prefix(static_cast<std::size_t>(sent));
        } else if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // A line cut short leaves the adapter in an unknown state: the link ends here.
            if (const int ready = waitFor(fd, POLLOUT, deadline); ready <= 0)
                return fail(ready == 0 ? ETIMEDOUT : errno);
        } else if (sent == 0 || errno != EINTR) {
            return fail(sent == 0 ? EIO : errno);
        }
    }
    return true;
}
