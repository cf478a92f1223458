// SPDX-License-Identifier: MIT
#include "RemoteServer.h"

#include "ScriptClient.h"
#include "settings/InstanceLock.h"

#include <QFile>
#include <QJsonDocument>
#include <QPointer>
#include <QThread>

#include <utility>

#if defined(_WIN32)
#include <windows.h>
#else
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

#if !defined(_WIN32)
/** The user's home folder in the password database, not $HOME: every environment finds the
    same. */
QString homeFolder()
{
    const passwd *entry = ::getpwuid(::geteuid());
    return entry && entry->pw_dir ? QFile::decodeName(entry->pw_dir) : QString();
}
#endif

QByteArray lineOf(const QJsonObject &answer)
{
    return QJsonDocument(answer).toJson(QJsonDocument::Compact) + '\n';
}

/** The scripts' JSON: one request per line, one answer per line. */
class JsonProtocol : public LineProtocol
{
public:
    explicit JsonProtocol(RemotePanel &panel)
        : m_panel(panel)
    { }

    void serve(const QByteArray &line, const Reply &reply) override
    {
        const auto request = RemoteRequest::parse(line);
        if (const QString *refusal = std::get_if<QString>(&request))
            return reply(lineOf(RemotePanel::refusal(*refusal)));
        m_panel.serve(std::get<RemoteRequest>(request),
                      [reply](const QJsonObject &answer) { reply(lineOf(answer)); });
    }
    QByteArray overlong() override
    {
        return lineOf(RemotePanel::refusal(
            QStringLiteral("the request is longer than %1 bytes").arg(kLineLimit)));
    }
    QByteArray full() override
    {
        return lineOf(RemotePanel::refusal(QStringLiteral("too many scripts are connected")));
    }

private:
    RemotePanel &m_panel;
};

/**
 * One script's connection: its bytes cut into lines, each line served in its own turn of the
 * event loop, its answers written in order. A line over the limit is refused once and skipped
 * to its end; no line is taken while the answers wait for the script to read them.
 */
class Session : public QObject
{
public:
    Session(std::unique_ptr<LineProtocol> protocol, ScriptLink *link)
        : QObject(link)
        , m_protocol(std::move(protocol))
        , m_link(link)
    {
        // Later: a change said from within a send would serve the next line inside this one.
        connect(link, &ScriptLink::changed, this, &Session::next);
        serveNext();
    }

private:
    void serveNext()
    {
        if (m_busy || m_link->unsent() > ScriptLink::kOutputLimit)
            return;
        const QByteArray &input = m_link->input();
        const qsizetype end = input.indexOf('\n');
        if (end < 0) {
            // A CR before the LF still to come does not count toward the limit.
            const qsizetype limit = LineProtocol::kLineLimit + (input.endsWith('\r') ? 1 : 0);
            if (input.size() > limit) {
                if (!std::exchange(m_skipping, true))
                    m_link->send(m_protocol->overlong());
                m_link->take(input.size());
            } else if (m_link->inputEnded() && m_link->unsent() == 0) {
                m_link->deleteLater(); // every line answered: the connection ends
            }
            return;
        }
        if (m_link->hungUp())
            return; // its script has gone: nothing it left is carried out
        QByteArray line = input.left(end);
        m_link->take(end + 1);
        if (line.endsWith('\r'))
            line.chop(1);
        if (std::exchange(m_skipping, false))
            return next(); // the rest of a refused line
        if (line.size() > LineProtocol::kLineLimit) { // it came whole, in one read
            m_link->send(m_protocol->overlong());
            return next();
        }
        m_busy = true; // a box shown for a press runs the event loop meanwhile
        const QPointer<Session> alive(this);
        m_protocol->serve(line, [alive](const QByteArray &answer) {
            if (Session *session = alive.data(); session && !answer.isEmpty())
                session->m_link->send(answer);
        });
        if (!alive)
            return;
        m_busy = false;
        next();
    }

    /** The next line in a later turn, so that other scripts and the operator come between:
        one turn asked for at a time, however many changes were said meanwhile. */
    void next()
    {
        if (std::exchange(m_turnAsked, true))
            return;
        QMetaObject::invokeMethod(
            this,
            [this] {
                m_turnAsked = false;
                serveNext();
            },
            Qt::QueuedConnection);
    }

    std::unique_ptr<LineProtocol> m_protocol;
    ScriptLink *m_link;
    bool m_skipping = false;
    bool m_busy = false;
    bool m_turnAsked = false;
};

} // namespace

RemoteServer::RemoteServer(RemotePanel &panel, QObject *parent)
    : RemoteServer([&panel] { return std::make_unique<JsonProtocol>(panel); }, parent)
{ }

RemoteServer::RemoteServer(Protocols protocols, QObject *parent)
    : QObject(parent)
    , m_protocols(std::move(protocols))
{ }

ScriptListener &RemoteServer::addListener()
{
    ScriptListener &listener = *m_listeners.emplace_back(std::make_unique<ScriptListener>());
    connect(&listener, &ScriptListener::connected, this, &RemoteServer::accept);
    connect(&listener, &ScriptListener::trouble, this, [this](const QString &what) {
        if (m_err)
            *m_err << "selvane: " << what.toStdString() << std::endl;
    });
    return listener;
}

QString RemoteServer::panelOf(const std::string &location, const std::string &context)
{
    const QString name = nameOf(location, context);
#if !defined(_WIN32)
    const QString home = socketFolder({}, homeFolder(), 0) + u'/' // the home folder's place
                         + QString::fromStdString(InstanceLock::key(location, context));
    struct stat status
    {
    };
    if (::lstat(QFile::encodeName(name).constData(), &status) != 0
        && ::lstat(QFile::encodeName(home).constData(), &status) == 0 && S_ISSOCK(status.st_mode))
        return home;
#endif
    return name;
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
    return socketFolder(QStringLiteral("/run/user/%1").arg(::geteuid()), homeFolder(), key.size())
           + u'/' + key;
#endif
}

#if !defined(_WIN32)
QString RemoteServer::socketFolder(const QString &runtime, const QString &home, qsizetype keyLength)
{
    constexpr qsizetype kSocketPathLimit = 107; // sun_path's 108 bytes with the terminator
    const QString folder = runtime + QStringLiteral("/selvane");
    struct stat status
    {
    };
    if (::lstat(QFile::encodeName(runtime).constData(), &status) == 0 && S_ISDIR(status.st_mode)
        && status.st_uid == ::geteuid() && (status.st_mode & 077) == 0
        && QFile::encodeName(folder).size() + 1 + keyLength <= kSocketPathLimit)
        return folder;
    return home + QStringLiteral("/.selvane");
}
#endif

bool RemoteServer::listen(const QString &name, std::ostream &err)
{
    m_err = &err;
    if (const QString why = addListener().listen(name); !why.isEmpty()) {
        m_listeners.pop_back();
        err << "selvane: scripts cannot reach this panel: " << why.toStdString() << '\n';
        return false;
    }
    m_name = name;
    return true;
}

bool RemoteServer::listenLoopback(std::uint16_t port, std::ostream &err)
{
    m_err = &err;
    // Without 127.0.0.1 a client there would reach another program: SCPI is off then.
    if (const QString why = addListener().listenTcp(QStringLiteral("127.0.0.1"), port);
        !why.isEmpty()) {
        m_listeners.pop_back();
        err << "selvane: SCPI is off: " << why.toStdString() << '\n';
        return false;
    }
    bool missing = false; // a machine without ::1 listens on 127.0.0.1 alone
    if (const QString why = addListener().listenTcp(QStringLiteral("::1"), port, &missing);
        !why.isEmpty()) {
        m_listeners.pop_back();
        if (!missing) { // another program there would answer clients that ask "localhost"
            m_listeners.clear();
            err << "selvane: SCPI is off: " << why.toStdString() << '\n';
            return false;
        }
    }
    m_name = QStringLiteral("port %1").arg(port);
    return true;
}

QString RemoteServer::raisePanel(const QString &name, int waitMs)
{
    const QDeadlineTimer deadline(waitMs);
    ScriptClient client;
    ScriptClient::Outcome outcome;
    // A panel that has just taken its lock listens a moment later.
    while ((outcome = client.connect(name, deadline)) == ScriptClient::Outcome::NoPanel
           && !deadline.hasExpired())
        QThread::msleep(20);
    QByteArray answer;
    if (outcome == ScriptClient::Outcome::Done) {
        client.letToTheFront(); // only a program that may come to the front can let another
        outcome = client.ask(R"({"raise":true})", deadline, &answer);
    }
    if (outcome == ScriptClient::Outcome::Late)
        return QStringLiteral("it did not answer within %1 s").arg(waitMs / 1000);
    if (outcome != ScriptClient::Outcome::Done)
        return client.why();
    const QJsonObject object = QJsonDocument::fromJson(answer).object();
    return object.value(QLatin1String("ok")) == QJsonValue(true)
               ? QString()
               : QStringLiteral("it answered: %1")
                     .arg(object.value(QLatin1String("error")).toString());
}

void RemoteServer::accept(ScriptLink *link)
{
    std::unique_ptr<LineProtocol> protocol = m_protocols();
    if (*m_scripts >= kScriptLimit) {
        link->send(protocol->full());
        link->deleteLater();
        return;
    }
    ++*m_scripts;
    connect(new Session(std::move(protocol), link), &QObject::destroyed,
            [scripts = m_scripts] { --*scripts; });
}
