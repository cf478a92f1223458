// SPDX-License-Identifier: MIT
#pragma once

#include "RemotePanel.h"

#include <QLocalServer>

#include <ostream>
#include <string>

/**
 * The panel's local socket: scripts connect, write one JSON request per line and read one
 * answer per line, in order. Only the panel's own user gets in: off Windows the socket is in
 * a folder of 0700 and a connection from another uid is closed unanswered; on Windows the
 * pipe admits the user alone. Requests are served one per turn of the event loop, between
 * the operator's own events.
 */
class RemoteServer : public QObject
{
    Q_OBJECT
public:
    explicit RemoteServer(RemotePanel &panel, QObject *parent = nullptr);

    /**
     * The name of the panel of `context` of the store at `location`: off Windows
     * "$XDG_RUNTIME_DIR/selvane/<key>" (else "/tmp/selvane-<uid>/<key>"), on Windows the pipe
     * "selvane-<key>-<user>"; the key is InstanceLock's.
     */
    static QString nameOf(const std::string &location, const std::string &context);

    /**
     * Listens on `name`. A socket that nobody answers, left by a panel that was killed, is
     * taken over. When another panel of the instance answers there, or the name cannot be
     * made, says so in one line on `err` and returns false.
     */
    bool listen(const QString &name, std::ostream &err);

    /**
     * Asks the panel that listens at `name` to bring its window to the front, waiting up to
     * `waitMs` for it to listen (it may have only just started) and to answer. Empty when it
     * did; else why not, in words.
     */
    static QString raisePanel(const QString &name, int waitMs);

    /** What the socket's path or pipe is called, once listening. */
    QString fullName() const { return m_server.fullServerName(); }

private:
    void accept();

    RemotePanel &m_panel;
    QLocalServer m_server;
};
