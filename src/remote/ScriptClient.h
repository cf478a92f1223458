// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QDeadlineTimer>
#include <QString>

#include <cstdint>

/**
 * A script's end of the panel's local socket. It talks only to a panel of its own user: off
 * Windows to a socket, not a link, in a folder of this user's that no one else may enter,
 * whose other end runs as this user (SO_PEERCRED); on Windows to a pipe opened at the
 * identification level whose server process runs as this user. Otherwise it sends nothing.
 */
class ScriptClient
{
public:
    enum class Outcome {
        Done,
        NoPanel, ///< nothing listens at the name
        Untrusted, ///< the place or the other end is not this user's
        Late, ///< no connection or answer within the deadline
        Closed, ///< the panel closed the connection before it answered
    };

    ScriptClient() = default;
    ~ScriptClient();
    ScriptClient(const ScriptClient &) = delete;
    ScriptClient &operator=(const ScriptClient &) = delete;

    /** Connects to the panel at `name`, waiting up to `deadline` while it is busy. */
    Outcome connect(const QString &name, const QDeadlineTimer &deadline);
    /** Sends `line` and a line break, and reads the one answer line (without its line
        break) into `answer`. An answer over 1 MiB with no line break is Closed. */
    Outcome ask(const QByteArray &line, const QDeadlineTimer &deadline, QByteArray *answer);
    /** On Windows, lets the panel's process bring its window to the front, which only a
        program that may come to the front itself can allow. Nothing elsewhere. */
    void letToTheFront();
    /** Why the last call did not give Done, in words with the name. */
    const QString &why() const { return m_why; }

private:
    Outcome fail(Outcome outcome, const QString &why);

    std::intptr_t m_handle = -1;
    QByteArray m_pending;
    QString m_why;
    QString m_name; ///< the socket's path or the pipe's name, for why()
};
