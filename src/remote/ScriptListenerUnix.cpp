// SPDX-License-Identifier: MIT
#include "ScriptListener.h"

#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <cstring>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

QString words(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

/** Whether the other end of `fd` runs as this process's user. */
bool sameUser(int fd)
{
    struct ucred peer
    {
    };
    socklen_t size = sizeof peer;
    return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 && peer.uid == ::geteuid();
}

/** An address and port as the kernel's table of TCP sockets writes them: the address's bytes
    as the 32-bit words it prints, in hexadecimal, then the port. */
QByteArray tableEntry(const sockaddr_storage &address)
{
    if (address.ss_family == AF_INET) {
        const auto &in = reinterpret_cast<const sockaddr_in &>(address);
        return QString::asprintf("%08X:%04X", in.sin_addr.s_addr, ntohs(in.sin_port)).toLatin1();
    }
    const auto &in6 = reinterpret_cast<const sockaddr_in6 &>(address);
    std::uint32_t words[4] = {};
    std::memcpy(words, &in6.sin6_addr, sizeof words);
    return QString::asprintf("%08X%08X%08X%08X:%04X", words[0], words[1], words[2], words[3],
                             ntohs(in6.sin6_port))
        .toLatin1();
}

/** Whether the other end of the TCP connection `fd` belongs to this user: its socket, found in
    the kernel's table by its address, must be this user's. An owner not found is no one's.
    A client that has closed already leaves an entry that no process holds (inode 0); once
    the kernel keeps only its address (TIME_WAIT), its uid reads 0 whoever it was, which root
    cannot tell from its own. */
bool sameUserTcp(int fd)
{
    sockaddr_storage peer {}, own {};
    socklen_t peerSize = sizeof peer, ownSize = sizeof own;
    if (::getpeername(fd, reinterpret_cast<sockaddr *>(&peer), &peerSize) != 0
        || ::getsockname(fd, reinterpret_cast<sockaddr *>(&own), &ownSize) != 0)
        return false;
    QFile table(peer.ss_family == AF_INET ? QStringLiteral("/proc/net/tcp")
                                          : QStringLiteral("/proc/net/tcp6"));
    if (!table.open(QIODevice::ReadOnly))
        return false;
    const QByteArray local = tableEntry(peer), remote = tableEntry(own);
    for (const QByteArray &line : table.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() > 9 && fields[1] == local && fields[2] == remote)
            return fields[7].toUInt() == ::geteuid() && (::geteuid() != 0 || fields[9] != "0");
    }
    return false;
}

/** `folder` made 0700 and this user's; empty when it is, else why not. */
QString makePrivate(const QByteArray &folder)
{
    const QString shown = QString::fromLocal8Bit(folder);
    if (::mkdir(folder.constData(), 0700) != 0 && errno != EEXIST)
        return QStringLiteral("cannot make %1: %2").arg(shown, words(errno));
    struct stat status
    {
    };
    if (::lstat(folder.constData(), &status) != 0 || !S_ISDIR(status.st_mode)
        || status.st_uid != ::geteuid())
        return QStringLiteral("%1 is not a folder of this user's").arg(shown);
    if ((status.st_mode & 077) != 0 && ::chmod(folder.constData(), 0700) != 0)
        return QStringLiteral("cannot make %1 private: %2").arg(shown, words(errno));
    return {};
}

/** What stands at a path that should be free or a socket, in words. */
QString whatIs(const struct stat &status)
{
    return S_ISLNK(status.st_mode)   ? QStringLiteral("a link")
           : S_ISDIR(status.st_mode) ? QStringLiteral("a folder")
                                     : QStringLiteral("a file");
}

} // namespace

struct ScriptLink::Platform
{
    QSocketNotifier reading;
    QSocketNotifier writing;
};

ScriptLink::ScriptLink(std::intptr_t handle, QObject *parent)
    : QObject(parent)
    , m_handle(handle)
    , m_platform(new Platform {QSocketNotifier(handle, QSocketNotifier::Read),
                               QSocketNotifier(handle, QSocketNotifier::Write)})
{
    connect(&m_platform->reading, &QSocketNotifier::activated, this, &ScriptLink::readSome);
    connect(&m_platform->writing, &QSocketNotifier::activated, this, &ScriptLink::writeSome);
    updateNotifiers();
}

ScriptLink::~ScriptLink()
{
    m_platform.reset();
    ::close(static_cast<int>(m_handle));
}

void ScriptLink::take(qsizetype size)
{
    m_input.remove(0, size);
    updateNotifiers();
}

void ScriptLink::send(const QByteArray &bytes)
{
    if (m_gone)
        return;
    m_output += bytes;
    writeSome();
}

bool ScriptLink::hungUp()
{
    pollfd watched {static_cast<int>(m_handle), POLLOUT, 0};
    if (!m_gone && ::poll(&watched, 1, 0) == 1 && (watched.revents & (POLLHUP | POLLERR)))
        end();
    return m_gone;
}

void ScriptLink::readSome()
{
    char buffer[16 * 1024];
    while (!m_gone && !m_inputEnded && m_input.size() < kInputLimit
           && m_output.size() <= kOutputLimit) {
        const auto room =
            std::min<qsizetype>(qsizetype(sizeof buffer), kInputLimit - m_input.size());
        const ssize_t size = ::recv(static_cast<int>(m_handle), buffer, std::size_t(room), 0);
        if (size > 0) {
            m_input.append(buffer, size);
        } else if (size == 0) {
            // A client that only shut its writing side still reads its answers.
            if (hungUp())
                return;
            m_inputEnded = true;
        } else if (errno != EINTR) {
            if (errno != EAGAIN && errno != EWOULDBLOCK)
                return end();
            break;
        }
    }
    updateNotifiers();
    emit changed();
}

void ScriptLink::writeSome()
{
    const bool full = m_output.size() > kOutputLimit, waiting = !m_output.isEmpty();
    while (!m_gone && !m_output.isEmpty()) {
        const ssize_t size = ::send(static_cast<int>(m_handle), m_output.constData(),
                                    std::size_t(m_output.size()), MSG_NOSIGNAL);
        if (size > 0)
            m_output.remove(0, size);
        else if (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK)
            return end();
        else if (errno != EINTR)
            break;
    }
    updateNotifiers();
    if ((full && m_output.size() <= kOutputLimit) || (waiting && m_output.isEmpty()))
        emit changed(); // reading may go on, or a finished script may be let go
}

void ScriptLink::updateNotifiers()
{
    m_platform->reading.setEnabled(!m_gone && !m_inputEnded && m_input.size() < kInputLimit
                                   && m_output.size() <= kOutputLimit);
    m_platform->writing.setEnabled(!m_gone && !m_output.isEmpty());
}

void ScriptLink::end()
{
    if (std::exchange(m_gone, true))
        return;
    m_inputEnded = true;
    m_output.clear();
    updateNotifiers();
    emit gone();
    deleteLater();
}

struct ScriptListener::Platform
{
    QSocketNotifier accepting;
    QTimer retry; ///< while no descriptor is free, besides the end of a connection
    dev_t device = 0; ///< of the socket's file; 0 for a TCP port
    ino_t inode = 0;
};

ScriptListener::ScriptListener(QObject *parent)
    : QObject(parent)
    , m_handle(-1)
{ }

ScriptListener::~ScriptListener()
{
    if (m_handle < 0)
        return;
    m_platform->retry.stop(); // nothing is taken while closing
    m_platform->accepting.setEnabled(false);
    for (ScriptLink *link : findChildren<ScriptLink *>(Qt::FindDirectChildrenOnly))
        delete link; // while the listener they report to is whole
    ::close(static_cast<int>(m_handle));
    // Only the socket this listener made: one made since by a panel that took over stays.
    struct stat status
    {
    };
    const QByteArray path = QFile::encodeName(m_name);
    if (m_platform->inode != 0 && ::lstat(path.constData(), &status) == 0
        && status.st_dev == m_platform->device && status.st_ino == m_platform->inode)
        ::unlink(path.constData());
}

QString ScriptListener::listenTcp(const QString &address, std::uint16_t port, bool *missing)
{
    sockaddr_storage bound {};
    socklen_t size = 0;
    const bool six = address.contains(u':');
    if (six) {
        auto &in6 = reinterpret_cast<sockaddr_in6 &>(bound);
        in6.sin6_family = AF_INET6;
        in6.sin6_port = htons(port);
        ::inet_pton(AF_INET6, address.toLatin1().constData(), &in6.sin6_addr);
        size = sizeof in6;
    } else {
        auto &in = reinterpret_cast<sockaddr_in &>(bound);
        in.sin_family = AF_INET;
        in.sin_port = htons(port);
        ::inet_pton(AF_INET, address.toLatin1().constData(), &in.sin_addr);
        size = sizeof in;
    }
    const QString where = six ? QStringLiteral("[%1]:%2").arg(address).arg(port)
                              : QStringLiteral("%1:%2").arg(address).arg(port);
    const int fd = ::socket(bound.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    const int on = 1;
    // A port left in TIME_WAIT by the last run is taken again; one that is listened on is not.
    if (fd < 0 || ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0
        || (six && ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on) != 0)
        || ::bind(fd, reinterpret_cast<const sockaddr *>(&bound), size) != 0
        || ::listen(fd, SOMAXCONN) != 0) {
        const int error = errno;
        if (missing)
            *missing = error == EADDRNOTAVAIL || error == EAFNOSUPPORT;
        if (fd >= 0)
            ::close(fd);
        return QStringLiteral("cannot listen at %1: %2").arg(where, words(error));
    }
    watch(fd, where, new Platform {QSocketNotifier(fd, QSocketNotifier::Read), QTimer(), 0, 0});
    return {};
}

void ScriptListener::watch(std::intptr_t handle, const QString &name, Platform *platform)
{
    m_handle = handle;
    m_name = name;
    m_platform.reset(platform);
    connect(&m_platform->accepting, &QSocketNotifier::activated, this, &ScriptListener::acceptSome);
    m_platform->retry.setInterval(1000);
    connect(&m_platform->retry, &QTimer::timeout, this, &ScriptListener::acceptSome);
}

QString ScriptListener::listen(const QString &name)
{
    const QByteArray path = QFile::encodeName(name);
    sockaddr_un address {};
    if (std::size_t(path.size()) >= sizeof address.sun_path)
        return QStringLiteral("%1 is longer than a socket's name may be (%2 bytes)")
            .arg(name)
            .arg(sizeof address.sun_path - 1);
    if (const QString why = makePrivate(QFile::encodeName(QFileInfo(name).path())); !why.isEmpty())
        return why;
    struct stat status
    {
    };
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.constData(), std::size_t(path.size()));
    const auto *at = reinterpret_cast<const sockaddr *>(&address);
    if (::lstat(path.constData(), &status) == 0) {
        if (!S_ISSOCK(status.st_mode))
            return QStringLiteral("%1 is in the way of the socket: %2").arg(name, whatIs(status));
        // Left by a panel that ended, unless one answers there: its lock file was removed.
        const int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        const bool live =
            probe >= 0 && (::connect(probe, at, sizeof address) == 0 || errno == EAGAIN);
        if (probe >= 0)
            ::close(probe);
        if (live)
            return QStringLiteral("another panel listens at %1").arg(name);
        ::unlink(path.constData());
    }
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return QStringLiteral("cannot make a socket: %1").arg(words(errno));
    // Made with its mode, never widened meanwhile: the start is single-threaded here.
    const mode_t kept = ::umask(0177);
    const int bound = ::bind(fd, at, sizeof address);
    const int bindError = errno;
    ::umask(kept);
    if (bound != 0 || ::listen(fd, SOMAXCONN) != 0 || ::lstat(path.constData(), &status) != 0) {
        const QString why =
            QStringLiteral("cannot listen at %1: %2").arg(name, words(bound ? bindError : errno));
        ::close(fd);
        return why;
    }
    watch(fd, name,
          new Platform {QSocketNotifier(fd, QSocketNotifier::Read), QTimer(), status.st_dev,
                        status.st_ino});
    return {};
}

void ScriptListener::acceptSome()
{
    m_platform->retry.stop();
    m_platform->accepting.setEnabled(true);
    // A few per turn, the rest in later ones: a flood of connections, each looked up in the
    // kernel's table, must not keep the operator's events waiting.
    for (int taken = 0; taken < kAcceptsPerTurn; ++taken) {
        const int fd =
            ::accept4(static_cast<int>(m_handle), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd >= 0) {
            if (!(m_platform->inode != 0 ? sameUser(fd) : sameUserTcp(fd))) {
                // another user's, or no one's to be found: closed unanswered
                ::close(fd);
                continue;
            }
            auto *link = new ScriptLink(fd, this);
            connect(link, &QObject::destroyed, this, [this] {
                if (m_platform->retry.isActive())
                    acceptSome(); // a descriptor has come free
            });
            emit connected(link);
        } else if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
            // Listening goes on: the connection waits in the backlog for a descriptor.
            m_platform->accepting.setEnabled(false);
            m_platform->retry.start();
            if (!std::exchange(m_troubleSaid, true))
                emit trouble(QStringLiteral("cannot accept a script's connection: %1; waiting "
                                            "for a connection to end")
                                 .arg(words(errno)));
            return;
        } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
            m_troubleSaid = false; // every waiting connection taken: the trouble is over
            return;
        } // else a connection that failed before it was taken: the next one
    }
}
