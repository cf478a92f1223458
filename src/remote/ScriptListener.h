// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <cstdint>
#include <memory>

class QSocketNotifier;

/**
 * One script's connection, as the listener hands it over: bytes in and bytes out, both
 * bounded. Reading stops while the unread input is at its limit or the unsent output past
 * its own, and goes on as they are taken or sent, so that a client that never reads costs
 * the panel no more than that.
 */
class ScriptLink : public QObject
{
    Q_OBJECT
public:
    static constexpr qsizetype kInputLimit = 64 * 1024; ///< unread requests held
    static constexpr qsizetype kOutputLimit = 1024 * 1024; ///< unsent answers held

    ~ScriptLink() override;

    /** What has arrived and was not taken yet. */
    const QByteArray &input() const { return m_input; }
    /** Drops the first `size` bytes of input(); reading goes on if it had stopped. */
    void take(qsizetype size);
    /** Queues `bytes` for the client; never waits for it. */
    void send(const QByteArray &bytes);
    qsizetype unsent() const { return m_output.size(); }
    /** The client sends no more: it shut its writing side, or it hung up. */
    bool inputEnded() const { return m_inputEnded; }
    /** Whether the client has hung up, asked of the system now: nothing it sent is wanted. */
    bool hungUp();

signals:
    /** Input arrived or ended, or output drained below its limit. */
    void changed();
    /** The client has gone, or the link failed; the link deletes itself later. */
    void gone();

private:
    friend class ScriptListener;
    explicit ScriptLink(std::intptr_t handle, QObject *parent);
    void readSome();
    void writeSome();
    void updateNotifiers();
    void end();

    std::intptr_t m_handle; ///< a socket descriptor; on Windows a pipe instance or a SOCKET
    QByteArray m_input;
    QByteArray m_output;
    bool m_inputEnded = false;
    bool m_gone = false;
    struct Platform;
    std::unique_ptr<Platform> m_platform;
};

/**
 * The listening end of the panel's local socket, this user's alone: off Windows a Unix socket
 * made with mode 0600 in a private folder of this user's, on Windows a named pipe that is the
 * first instance of its name, admits this user alone and refuses remote clients. A failure to
 * accept (no descriptor free) never ends listening: it is said once, and accepting goes on
 * when a connection ends. The name made is removed when the listener goes.
 */
class ScriptListener : public QObject
{
    Q_OBJECT
public:
    static constexpr int kAcceptsPerTurn = 4; ///< connections taken in one turn of the loop

    explicit ScriptListener(QObject *parent = nullptr);
    ~ScriptListener() override;

    /** Listens on `name`: empty, or why not in words. A socket left at the name by a panel
        that ended is replaced; only a caller that holds the instance's lock may listen. */
    QString listen(const QString &name);
    /** Listens on TCP `port` of the loopback `address` ("127.0.0.1", "::1"): empty, or why
        not in words; `*missing` tells a machine that lacks the address. Only connections of
        this user's processes are taken, found from the system's table of connections. */
    QString listenTcp(const QString &address, std::uint16_t port, bool *missing = nullptr);

#if defined(_WIN32)
    /** The open and pipe modes that every instance of the pipe is made with. */
    struct PipeModes
    {
        std::uint32_t open;
        std::uint32_t pipe;
    };
    static PipeModes pipeModes(bool first);
#endif

signals:
    /** A client has connected; the link is a child of the listener. */
    void connected(ScriptLink *link);
    /** Something the operator should know of the listener, in one line ("cannot accept a
        script's connection: Too many open files; waiting for one to end"). */
    void trouble(const QString &what);

private:
    struct Platform;
    void acceptSome();
#if defined(_WIN32)
    /** Takes the connections waiting at the port: this user's become links, others are closed. */
    void acceptTcp();
#else
    /** Takes connections on `handle`, listening as `name`, with `platform`'s notifiers. */
    void watch(std::intptr_t handle, const QString &name, Platform *platform);
#endif

    std::intptr_t m_handle;
    QString m_name;
    bool m_troubleSaid = false;
    std::unique_ptr<Platform> m_platform;
};
