// SPDX-License-Identifier: MIT
#include "ScriptClient.h"

#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <cerrno>
#include <cstring>
#include <utility>

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

constexpr qsizetype kAnswerLimit = 1024 * 1024;

QString words(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

/** Waits for `events` on `fd` until `deadline`; whether they came. */
bool await(int fd, short events, const QDeadlineTimer &deadline)
{
    for (;;) {
        pollfd watched {fd, events, 0};
        const int ready =
            ::poll(&watched, 1, int(std::min<qint64>(deadline.remainingTime(), INT_MAX)));
        if (ready >= 0 || errno != EINTR)
            return ready > 0;
    }
}

} // namespace

ScriptClient::~ScriptClient()
{
    if (m_handle >= 0)
        ::close(static_cast<int>(m_handle));
}

ScriptClient::Outcome ScriptClient::fail(Outcome outcome, const QString &why)
{
    m_why = why;
    return outcome;
}

ScriptClient::Outcome ScriptClient::connect(const QString &name, const QDeadlineTimer &deadline)
{
    if (m_handle >= 0)
        ::close(static_cast<int>(std::exchange(m_handle, -1)));
    m_pending.clear();
    const QByteArray path = QFile::encodeName(name);
    const QString folder = QFileInfo(name).path();
    sockaddr_un address {};
    if (std::size_t(path.size()) >= sizeof address.sun_path)
        return fail(Outcome::NoPanel, QStringLiteral("%1 is too long for a socket").arg(name));
    // Whatever stands in this user's private folder, nobody else can have put it there.
    struct stat status
    {
    };
    if (::lstat(QFile::encodeName(folder).constData(), &status) != 0)
        return fail(Outcome::NoPanel, QStringLiteral("nothing listens at %1").arg(name));
    if (!S_ISDIR(status.st_mode) || status.st_uid != ::geteuid() || (status.st_mode & 077) != 0)
        return fail(Outcome::Untrusted,
                    QStringLiteral("%1 is not a private folder of this user's").arg(folder));
    if (::lstat(path.constData(), &status) != 0)
        return fail(Outcome::NoPanel, QStringLiteral("nothing listens at %1").arg(name));
    if (!S_ISSOCK(status.st_mode) || status.st_uid != ::geteuid())
        return fail(Outcome::Untrusted,
                    QStringLiteral("%1 is not a socket of this user's").arg(name));

    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return fail(Outcome::NoPanel, QStringLiteral("cannot make a socket: %1").arg(words(errno)));
    m_handle = fd;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.constData(), std::size_t(path.size()));
    while (::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN) // a full backlog only: the panel is busy
            return fail(errno == EACCES ? Outcome::Untrusted : Outcome::NoPanel,
                        errno == EACCES
                            ? QStringLiteral("this user may not open %1").arg(name)
                            : QStringLiteral("nothing listens at %1: %2").arg(name, words(errno)));
        if (deadline.hasExpired())
            return fail(Outcome::Late, QStringLiteral("%1 took no connection in time").arg(name));
        QThread::msleep(10);
    }
    struct ucred peer
    {
    };
    socklen_t size = sizeof peer;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 || peer.uid != ::geteuid())
        return fail(Outcome::Untrusted,
                    QStringLiteral("the other end of %1 is not this user's").arg(name));
    return Outcome::Done;
}

ScriptClient::Outcome ScriptClient::ask(const QByteArray &line, const QDeadlineTimer &deadline,
                                        QByteArray *answer)
{
    const int fd = static_cast<int>(m_handle);
    const QByteArray bytes = line + '\n';
    for (qsizetype sent = 0; sent < bytes.size();) {
        const ssize_t size =
            ::send(fd, bytes.constData() + sent, std::size_t(bytes.size() - sent), MSG_NOSIGNAL);
        if (size >= 0)
            sent += size;
        else if (errno == EPIPE || errno == ECONNRESET) // closed before this request arrived
            return fail(Outcome::Closed,
                        QStringLiteral("closed the connection before it answered"));
        else if (errno != EINTR && errno != EAGAIN)
            return fail(Outcome::Closed, words(errno));
        else if (errno == EAGAIN && !await(fd, POLLOUT, deadline))
            return fail(Outcome::Late, QStringLiteral("did not answer in time"));
    }
    for (;;) {
        if (const qsizetype end = m_pending.indexOf('\n'); end >= 0) {
            *answer = m_pending.left(end);
            m_pending.remove(0, end + 1);
            return Outcome::Done;
        }
        if (m_pending.size() > kAnswerLimit)
            return fail(Outcome::Closed, QStringLiteral("answered with no end of line"));
        if (!await(fd, POLLIN, deadline))
            return fail(Outcome::Late, QStringLiteral("did not answer in time"));
        char buffer[16 * 1024];
        const ssize_t size = ::recv(fd, buffer, sizeof buffer, 0);
        if (size > 0)
            m_pending.append(buffer, size);
        else if (size == 0 || (errno != EINTR && errno != EAGAIN))
            return fail(Outcome::Closed,
                        QStringLiteral("closed the connection before it answered"));
    }
}

void ScriptClient::letToTheFront() { }
