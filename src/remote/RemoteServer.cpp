// SPDX-License-Identifier: MIT
#include "RemoteServer.h"

#include "settings/InstanceLock.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QLocalSocket>
#include <QPointer>
#include <QThread>

#include <cerrno>
#include <cstring>
#include <iterator>
#include <utility>

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

constexpr int kProbeMs = 2000; // a live panel accepts at once; this only bounds a full backlog

#if !defined(_WIN32)
constexpr std::size_t kSocketPathLimit = 107; // sun_path's 108 bytes with the terminator

/** The folder of the names, made 0700 and owned by this user; empty when fine, else why not. */
QString makePrivate(const QByteArray &folder)
{
    if (::mkdir(folder.constData(), 0700) != 0 && errno != EEXIST)
        return QStringLiteral("cannot make %1: %2")
            .arg(QString::fromLocal8Bit(folder), QString::fromLocal8Bit(std::strerror(errno)));
    struct stat status
    {
    };
    if (::lstat(folder.constData(), &status) != 0 || !S_ISDIR(status.st_mode)
        || status.st_uid != ::geteuid())
        return QStringLiteral("%1 is not a folder of this user's")
            .arg(QString::fromLocal8Bit(folder));
    if ((status.st_mode & 07777) != 0700 && ::chmod(folder.constData(), 0700) != 0)
        return QStringLiteral("cannot make %1 private: %2")
            .arg(QString::fromLocal8Bit(folder), QString::fromLocal8Bit(std::strerror(errno)));
    return {};
}

/** Whether the socket's other end runs as this process's user. */
bool sameUser(const QLocalSocket &socket)
{
    struct ucred peer
    {
    };
    socklen_t size = sizeof peer;
    return ::getsockopt(static_cast<int>(socket.socketDescriptor()), SOL_SOCKET, SO_PEERCRED, &peer,
                        &size)
               == 0
           && peer.uid == ::geteuid();
}
#endif

/**
 * One script's connection: its bytes cut into lines, each line served in its own turn of the
 * event loop, its answers written in order. A line over the limit is refused once and skipped
 * to its end.
 */
class Connection : public QObject
{
public:
    Connection(RemotePanel &panel, QLocalSocket *socket)
        : QObject(socket)
        , m_panel(panel)
        , m_socket(socket)
    {
        connect(socket, &QLocalSocket::readyRead, this, &Connection::take);
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    }

private:
    void take()
    {
        m_pending += m_socket->readAll();
        if (!m_pending.contains('\n') && m_pending.size() > RemoteRequest::kLineLimit) {
            if (!m_skipping)
                refuse(std::get<QString>(RemoteRequest::parse(m_pending)));
            m_skipping = true;
            m_pending.clear();
        }
        serveNext();
    }

    void serveNext()
    {
        const qsizetype end = m_pending.indexOf('\n');
        if (m_busy || end < 0)
            return;
        const QByteArray line = m_pending.left(end);
        m_pending.remove(0, end + 1);
        if (std::exchange(m_skipping, false))
            return serveNext(); // the rest of a refused line
        const auto request = RemoteRequest::parse(line);
        if (const QString *refusal = std::get_if<QString>(&request)) {
            refuse(*refusal);
        } else {
            m_busy = true; // a box shown for this press runs the event loop meanwhile
            const QPointer<Connection> alive(this);
            m_panel.serve(std::get<RemoteRequest>(request), [alive](const QJsonObject &answer) {
                alive ? alive->send(answer) : void();
            });
            if (!alive)
                return;
            m_busy = false;
        }
        if (m_pending.contains('\n'))
            QMetaObject::invokeMethod(this, &Connection::serveNext, Qt::QueuedConnection);
    }

    void refuse(const QString &reason) { send(RemotePanel::refusal(reason)); }

    void send(const QJsonObject &answer)
    {
        m_socket->write(QJsonDocument(answer).toJson(QJsonDocument::Compact) + '\n');
        m_socket->flush();
    }

    RemotePanel &m_panel;
    QLocalSocket *m_socket;
    QByteArray m_pending;
    bool m_skipping = false;
    bool m_busy = false;
};

} // namespace

RemoteServer::RemoteServer(RemotePanel &panel, QObject *parent)
    : QObject(parent)
    , m_panel(panel)
{
    connect(&m_server, &QLocalServer::newConnection, this, &RemoteServer::accept);
}

QString RemoteServer::nameOf(const std::string &location, const std::string &context)
{
    const QString key = QString::fromStdString(InstanceLock::key(location, context));
#if defined(_WIN32)
    wchar_t user[257] = {};
    DWORD size = static_cast<DWORD>(std::size(user));
    if (!GetUserNameW(user, &size))
        user[0] = 0;
    return QStringLiteral("selvane-%1-%2").arg(key, QString::fromWCharArray(user));
#else
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    QString folder = runtime + QStringLiteral("/selvane");
    if (!runtime.startsWith(u'/')
        || static_cast<std::size_t>(QFile::encodeName(folder).size()) + 1 + key.size()
               > kSocketPathLimit)
        folder = QStringLiteral("/tmp/selvane-%1").arg(::geteuid());
    return folder + u'/' + key;
#endif
}

bool RemoteServer::listen(const QString &name, std::ostream &err)
{
    QString why;
#if defined(_WIN32)
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
#else
    why = makePrivate(QFile::encodeName(QFileInfo(name).path()));
#endif
    if (why.isEmpty()) {
        QLocalSocket probe;
        probe.connectToServer(name);
        if (probe.waitForConnected(kProbeMs)) {
            err << "selvane: another panel of this instance takes the scripts' requests at "
                << name.toStdString() << "; this one does not listen\n";
            return false;
        }
        QLocalServer::removeServer(name); // a socket left by a panel that was killed
        if (m_server.listen(name)) {
#if !defined(_WIN32)
            ::chmod(QFile::encodeName(name).constData(), 0600);
#endif
            return true;
        }
        why = m_server.errorString();
    }
    err << "selvane: scripts cannot reach this panel: " << why.toStdString() << '\n';
    return false;
}

QString RemoteServer::raisePanel(const QString &name, int waitMs)
{
    const QDeadlineTimer deadline(waitMs);
    const QString late = QStringLiteral("it did not answer within %1 s").arg(waitMs / 1000);
    QLocalSocket socket;
    for (;;) {
        socket.connectToServer(name);
        if (socket.waitForConnected(int(deadline.remainingTime())))
            break;
        const bool timedOut = socket.error() == QLocalSocket::SocketTimeoutError;
        socket.abort();
        if (timedOut || deadline.hasExpired())
            return timedOut ? late : QStringLiteral("nothing listens at %1").arg(name);
        QThread::msleep(20); // a panel that has just taken its lock listens a moment later
    }
#if defined(_WIN32)
    // Only a program that may come to the front can let another do so.
    ULONG server = 0;
    if (GetNamedPipeServerProcessId(reinterpret_cast<HANDLE>(socket.socketDescriptor()), &server))
        AllowSetForegroundWindow(server);
#endif
    socket.write("{\"raise\":true}\n");
    while (!socket.canReadLine()) {
        if (socket.bytesAvailable() > RemoteRequest::kLineLimit) // no answer is that long
            return QStringLiteral("it answered with no end of line");
        if (deadline.hasExpired() || !socket.waitForReadyRead(int(deadline.remainingTime())))
            return socket.state() == QLocalSocket::ConnectedState
                       ? late
                       : QStringLiteral("it closed the connection before it answered");
    }
    const QJsonObject answer = QJsonDocument::fromJson(socket.readLine()).object();
    return answer.value(QLatin1String("ok")) == QJsonValue(true)
               ? QString()
               : QStringLiteral("it answered: %1")
                     .arg(answer.value(QLatin1String("error")).toString());
}

void RemoteServer::accept()
{
    while (QLocalSocket *socket = m_server.nextPendingConnection()) {
#if !defined(_WIN32)
        if (!sameUser(*socket)) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
#endif
        new Connection(m_panel, socket);
    }
}
