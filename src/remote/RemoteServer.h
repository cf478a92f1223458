// SPDX-License-Identifier: MIT
#pragma once

#include "LineProtocol.h"
#include "RemotePanel.h"
#include "ScriptListener.h"

#include <functional>
#include <memory>
#include <ostream>
#include <string>

/**
 * The panel's local socket: scripts connect, write one JSON request per line and read one
 * answer per line, in order; or, on a loopback port, SCPI. Only the panel's own user gets in
 * (see ScriptListener). Lines are served one per turn of the event loop, between the
 * operator's own events, and at most 64 scripts are connected at once. The lines of a script
 * that has hung up are dropped unserved; one that only finished writing gets every answer.
 */
class RemoteServer : public QObject
{
    Q_OBJECT
public:
    /** Makes each connection's protocol. */
    using Protocols = std::function<std::unique_ptr<LineProtocol>()>;
    /** The scripts' JSON, served by `panel`. */
    explicit RemoteServer(RemotePanel &panel, QObject *parent = nullptr);
    RemoteServer(Protocols protocols, QObject *parent = nullptr);

    static constexpr int kScriptLimit = 64; ///< connected at once

    /**
     * The name of the panel of `context` of the store at `location`: off Windows
     * "<folder>/<key>" in socketFolder() of this user, on Windows the pipe
     * "selvane-<key>-<user>"; the key is InstanceLock's.
     */
    static QString nameOf(const std::string &location, const std::string &context);

    /** Where that panel listens now: nameOf(), unless only the home folder's name holds a
        socket (a panel started before the user's runtime folder was made keeps it). */
    static QString panelOf(const std::string &location, const std::string &context);

    /**
     * The folder of a user's sockets, the same whatever the environment: "<runtime>/selvane"
     * where `runtime` (/run/user/<uid>) is a folder of the user's that no one else may enter
     * and a name of `keyLength` bytes there fits a socket's 107 bytes, else "<home>/.selvane",
     * `home` being the user's home in the password database.
     */
#if !defined(_WIN32)
    static QString socketFolder(const QString &runtime, const QString &home, qsizetype keyLength);
#endif

    /**
     * Listens on `name`; only a panel that holds its instance's lock may, and a socket left
     * there by a panel that ended is replaced. When the name cannot be made, says so in one
     * line on `err` and returns false; later trouble of the listener goes there too.
     */
    bool listen(const QString &name, std::ostream &err);

    /** Listens on `port` of the loopback addresses, 127.0.0.1 and ::1 where the machine has
        it. When neither can be had, says why in one line on `err` and returns false. */
    bool listenLoopback(std::uint16_t port, std::ostream &err);

    /**
     * Asks the panel that listens at `name` to bring its window to the front, waiting up to
     * `waitMs` for it to listen (it may have only just started) and to answer. Empty when it
     * did; else why not, in words.
     */
    static QString raisePanel(const QString &name, int waitMs);

    /** How many scripts are connected now. */
    int scripts() const
    {
        return *m_scripts;
    }

    /** What the socket's path or pipe is called, once listening. */
    QString fullName() const
    {
        return m_name;
    }

private:
    void accept(ScriptLink *link);

    /** A listener, its connections and trouble going to this server. */
    ScriptListener &addListener();

    Protocols m_protocols;
    QString m_name;
    std::shared_ptr<int> m_scripts = std::make_shared<int>(0); ///< outlives a closing server
    std::ostream *m_err = nullptr;
    /// last: their connections end before what they use
    std::vector<std::unique_ptr<ScriptListener>> m_listeners;
};
