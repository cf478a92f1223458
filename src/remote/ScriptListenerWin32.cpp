// SPDX-License-Identifier: MIT
// The scripts' listener on Windows: an overlapped named pipe with one instance per connected
// script and one more waiting for the next, each operation watched through its event; or a
// loopback TCP port, whose accepted sockets the same overlapped links serve.
#if defined(_WIN32)
#include "ScriptListener.h"

#include <winsock2.h> // before windows.h, which the headers below bring
#include <ws2tcpip.h>

#include <iphlpapi.h>

#include "ProcessUser.h"
#include "settings/Win32Registry.h"

#include <QPointer>
#include <QWinEventNotifier>

#include <windows.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr DWORD kBufferSize = 64 * 1024;
const std::intptr_t kNone = reinterpret_cast<std::intptr_t>(INVALID_HANDLE_VALUE);

HANDLE handleOf(std::intptr_t handle)
{
    return reinterpret_cast<HANDLE>(handle);
}

QString systemWords(DWORD code)
{
    const QString words =
        QString::fromLocal8Bit(Win32Registry::systemWords(static_cast<long>(code)));
    // Wine has no words for Winsock's codes: the number at least tells which.
    return words.isEmpty() ? QStringLiteral("error %1").arg(code) : words;
}

/** Winsock, started with the first port and kept for the program's life: links close their
    sockets after their listener has gone. 0, or the error. */
int winsockError()
{
    static const int error = [] {
        WSADATA data {};
        return WSAStartup(MAKEWORD(2, 2), &data);
    }();
    return error;
}

/** The process that owns the TCP socket whose own end is `client` and whose other end is
    `server`, from the system's table of connections; 0 when none is found. */
DWORD owningProcess(const sockaddr_storage &client, const sockaddr_storage &server)
{
    const ULONG family = client.ss_family;
    std::vector<char> table(16 * 1024);
    DWORD result = 0;
    for (;;) { // connections come and go between asking the size and reading the table
        auto size = ULONG(table.size());
        result =
            GetExtendedTcpTable(table.data(), &size, FALSE, family, TCP_TABLE_OWNER_PID_ALL, 0);
        if (result != ERROR_INSUFFICIENT_BUFFER)
            break;
        table.resize(std::size_t(size) * 2);
    }
    if (result != NO_ERROR)
        return 0;
    // A port is in network order in the low 16 bits of its field; the rest is not defined.
    if (family == AF_INET) {
        const auto &from = reinterpret_cast<const sockaddr_in &>(client);
        const auto &to = reinterpret_cast<const sockaddr_in &>(server);
        const auto *rows = reinterpret_cast<const MIB_TCPTABLE_OWNER_PID *>(table.data());
        for (DWORD i = 0; i < rows->dwNumEntries; ++i) {
            const MIB_TCPROW_OWNER_PID &row = *(rows->table + i);
            if (row.dwLocalAddr == from.sin_addr.s_addr && u_short(row.dwLocalPort) == from.sin_port
                && row.dwRemoteAddr == to.sin_addr.s_addr
                && u_short(row.dwRemotePort) == to.sin_port)
                return row.dwOwningPid;
        }
        return 0;
    }
    const auto &from = reinterpret_cast<const sockaddr_in6 &>(client);
    const auto &to = reinterpret_cast<const sockaddr_in6 &>(server);
    const auto *rows = reinterpret_cast<const MIB_TCP6TABLE_OWNER_PID *>(table.data());
    for (DWORD i = 0; i < rows->dwNumEntries; ++i) {
        const MIB_TCP6ROW_OWNER_PID &row = *(rows->table + i);
        if (std::memcmp(row.ucLocalAddr, &from.sin6_addr, sizeof row.ucLocalAddr) == 0
            && u_short(row.dwLocalPort) == from.sin6_port
            && std::memcmp(row.ucRemoteAddr, &to.sin6_addr, sizeof row.ucRemoteAddr) == 0
            && u_short(row.dwRemotePort) == to.sin6_port)
            return row.dwOwningPid;
    }
    return 0;
}

/** Whether the other end of the loopback `connection` runs as `user`: the process that owns the
    client's socket is found in the system's table, and its token asked. An owner not found is
    no one's. */
bool sameUserTcp(SOCKET connection, PSID user)
{
    sockaddr_storage peer {}, own {};
    int peerSize = sizeof peer, ownSize = sizeof own;
    if (getpeername(connection, reinterpret_cast<sockaddr *>(&peer), &peerSize) != 0
        || getsockname(connection, reinterpret_cast<sockaddr *>(&own), &ownSize) != 0)
        return false;
    const DWORD owner = owningProcess(peer, own);
    const HANDLE process =
        owner != 0 ? OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, owner) : nullptr;
    if (!process)
        return false;
    DWORD error = 0;
    std::vector<char> theirs = processUser(process, &error);
    CloseHandle(process);
    return !theirs.empty() && EqualSid(userSid(theirs), user);
}

/** One overlapped operation at a time on a handle: its event and the notifier on it. */
struct Operation
{
    OVERLAPPED overlapped {};
    QWinEventNotifier *notifier = nullptr;
    bool pending = false;

    /** Makes the event and a notifier, a child of `owner`, that calls `done`. */
    template<typename Done>
    bool make(QObject *owner, Done done)
    {
        overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        if (!overlapped.hEvent)
            return false;
        notifier = new QWinEventNotifier(overlapped.hEvent, owner);
        QObject::connect(notifier, &QWinEventNotifier::activated, owner, done);
        return true;
    }

    /** Whether the pending operation is over, with what it moved and its error (0: none). */
    bool finished(HANDLE file, DWORD *size, DWORD *error)
    {
        *error = GetOverlappedResult(file, &overlapped, size, FALSE) ? 0 : GetLastError();
        if (*error == ERROR_IO_INCOMPLETE)
            return false;
        pending = false;
        ResetEvent(overlapped.hEvent); // a manual-reset event would wake the notifier on and on
        return true;
    }

    /** Stops watching, cancels the operation and waits until the system has let go of it. */
    void release(HANDLE file)
    {
        if (notifier)
            notifier->setEnabled(false); // deleted with its owner: it may be emitting now
        if (pending) {
            CancelIoEx(file, &overlapped);
            DWORD size = 0;
            GetOverlappedResult(file, &overlapped, &size, TRUE);
            pending = false;
        }
        if (overlapped.hEvent)
            CloseHandle(std::exchange(overlapped.hEvent, nullptr));
    }
};

} // namespace

struct ScriptLink::Platform
{
    Operation reading;
    Operation writing;
    std::array<char, kBufferSize> received {};
    QByteArray sending; ///< the bytes of the write in flight, kept still for the system
    bool socket = false; ///< a TCP connection's socket rather than a pipe instance

    void close(std::intptr_t handle)
    {
        if (socket)
            closesocket(static_cast<SOCKET>(handle));
        else
            CloseHandle(handleOf(handle));
    }
};

ScriptLink::ScriptLink(std::intptr_t handle, QObject *parent)
    : QObject(parent)
    , m_handle(handle)
    , m_platform(std::make_unique<Platform>())
{
    const bool ready = m_platform->reading.make(this, [this] { readSome(); })
                       && m_platform->writing.make(this, [this] { writeSome(); });
    // Not before the listener has handed the link over: its receiver should see all it says.
    QMetaObject::invokeMethod(this, ready ? &ScriptLink::updateNotifiers : &ScriptLink::end,
                              Qt::QueuedConnection);
}

ScriptLink::~ScriptLink()
{
    m_platform->reading.release(handleOf(m_handle));
    m_platform->writing.release(handleOf(m_handle));
    if (m_handle != kNone)
        m_platform->close(m_handle);
}

void ScriptLink::take(qsizetype size)
{
    m_input.remove(0, std::clamp<qsizetype>(size, 0, m_input.size()));
    readSome();
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
    if (m_gone)
        return true;
    if (m_platform->socket) {
        // A reset ends the read in flight. A client's FIN may be a half-close only, whose
        // answers are still wanted: that ends the input, not the link.
        if (m_platform->reading.pending)
            readSome();
        return m_gone;
    }
    if (PeekNamedPipe(handleOf(m_handle), nullptr, 0, nullptr, nullptr, nullptr))
        return false;
    const DWORD error = GetLastError();
    return error == ERROR_BROKEN_PIPE || error == ERROR_PIPE_NOT_CONNECTED;
}

void ScriptLink::readSome()
{
    Platform &p = *m_platform;
    const QPointer<ScriptLink> alive(this);
    while (!m_gone) {
        DWORD size = 0;
        DWORD error = 0;
        if (p.reading.pending) {
            if (!p.reading.finished(handleOf(m_handle), &size, &error))
                return;
            if (error != 0)
                return end(); // ERROR_BROKEN_PIPE: the client has gone
            if (size == 0 && p.socket)
                m_inputEnded = true; // the client shut its writing side; it still reads
            m_input.append(p.received.data(), size);
            emit changed();
            if (!alive)
                return;
            continue;
        }
        if (m_inputEnded || m_input.size() >= kInputLimit || m_output.size() > kOutputLimit)
            return; // on again at take() or as the output drains
        const auto room = static_cast<DWORD>(
            std::min<qsizetype>(qsizetype(p.received.size()), kInputLimit - m_input.size()));
        if (!ReadFile(handleOf(m_handle), p.received.data(), room, nullptr, &p.reading.overlapped)
            && GetLastError() != ERROR_IO_PENDING)
            return end();
        p.reading.pending = true; // finished at once or not, the loop asks
    }
}

void ScriptLink::writeSome()
{
    Platform &p = *m_platform;
    const QPointer<ScriptLink> alive(this);
    while (!m_gone) {
        DWORD size = 0;
        DWORD error = 0;
        if (p.writing.pending) {
            if (!p.writing.finished(handleOf(m_handle), &size, &error))
                return;
            if (error != 0)
                return end();
            const bool wasOver = m_output.size() > kOutputLimit;
            m_output.remove(0, size);
            if (m_inputEnded && m_output.isEmpty()) {
                emit changed(); // every answer sent to a client that is done: it may be let go
                return;
            }
            if (wasOver && m_output.size() <= kOutputLimit) {
                emit changed();
                if (!alive)
                    return;
                readSome();
                if (!alive)
                    return;
            }
            continue;
        }
        if (m_output.isEmpty())
            return;
        p.sending = m_output.first(std::min<qsizetype>(m_output.size(), kBufferSize));
        if (!WriteFile(handleOf(m_handle), p.sending.constData(), DWORD(p.sending.size()), nullptr,
                       &p.writing.overlapped)
            && GetLastError() != ERROR_IO_PENDING)
            return end();
        p.writing.pending = true;
    }
}

void ScriptLink::updateNotifiers()
{
    const QPointer<ScriptLink> alive(this);
    readSome();
    if (alive)
        writeSome();
}

void ScriptLink::end()
{
    if (std::exchange(m_gone, true))
        return;
    m_inputEnded = true; // a pipe has no half-close: input ends with the link
    m_platform->reading.release(handleOf(m_handle));
    m_platform->writing.release(handleOf(m_handle));
    m_platform->close(std::exchange(m_handle, kNone));
    const QPointer<ScriptLink> alive(this);
    emit changed();
    if (alive)
        emit gone();
    if (alive)
        deleteLater();
}

struct ScriptListener::Platform
{
    std::wstring path;
    std::vector<char> user; ///< this program's user, the one entry of the access list
    std::vector<char> access;
    SECURITY_DESCRIPTOR descriptor {};
    SECURITY_ATTRIBUTES attributes {};
    Operation connecting; ///< a pipe's connect, or on a port the event of its accepts
    bool tcp = false; ///< listening on a port: the handle is its socket
    bool waiting = false; ///< a port's accepting held until a link ends, for want of a socket

    HANDLE makeInstance(bool first)
    {
        const PipeModes modes = pipeModes(first);
        return CreateNamedPipeW(path.c_str(), modes.open, modes.pipe, PIPE_UNLIMITED_INSTANCES,
                                kBufferSize, kBufferSize, 0, &attributes);
    }

    /** A descriptor that admits this program's user alone; 0 when made, else the error. */
    DWORD guard()
    {
        DWORD error = 0;
        user = processUser(GetCurrentProcess(), &error);
        if (user.empty())
            return error;
        const PSID sid = userSid(user);
        access.resize(sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + GetLengthSid(sid));
        auto *list = reinterpret_cast<ACL *>(access.data());
        if (!InitializeAcl(list, DWORD(access.size()), ACL_REVISION)
            || !AddAccessAllowedAce(list, ACL_REVISION, FILE_ALL_ACCESS, sid)
            || !InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION)
            || !SetSecurityDescriptorDacl(&descriptor, TRUE, list, FALSE))
            return GetLastError();
        attributes = {sizeof attributes, &descriptor, FALSE};
        return 0;
    }
};

ScriptListener::ScriptListener(QObject *parent)
    : QObject(parent)
    , m_handle(kNone)
    , m_platform(std::make_unique<Platform>())
{ }

ScriptListener::~ScriptListener()
{
    if (m_platform->tcp) // before its event, which the socket would set until closed
        closesocket(static_cast<SOCKET>(std::exchange(m_handle, kNone)));
    m_platform->connecting.release(handleOf(m_handle));
    if (m_handle != kNone)
        CloseHandle(handleOf(m_handle));
}

ScriptListener::PipeModes ScriptListener::pipeModes(bool first)
{
    return {PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED
                | (first ? DWORD(FILE_FLAG_FIRST_PIPE_INSTANCE) : DWORD(0)),
            PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS};
}

QString ScriptListener::listenTcp(const QString &address, std::uint16_t port, bool *missing)
{
    Platform &p = *m_platform;
    const bool six = address.contains(u':');
    const QString where = six ? QStringLiteral("[%1]:%2").arg(address).arg(port)
                              : QStringLiteral("%1:%2").arg(address).arg(port);
    if (!m_name.isEmpty())
        return QStringLiteral("this listener already listens at %1").arg(m_name);
    if (const int error = winsockError())
        return QStringLiteral("cannot listen at %1: %2").arg(where, systemWords(DWORD(error)));
    DWORD error = 0;
    p.user = processUser(GetCurrentProcess(), &error); // whose clients are taken
    if (p.user.empty())
        return QStringLiteral("cannot tell this program's user: %1").arg(systemWords(error));
    if (!p.connecting.notifier && !p.connecting.make(this, [this] { acceptSome(); }))
        return QStringLiteral("cannot listen at %1: %2").arg(where, systemWords(GetLastError()));

    sockaddr_storage bound {};
    int size = 0;
    bool parsed = false;
    if (six) {
        auto &in6 = reinterpret_cast<sockaddr_in6 &>(bound);
        in6.sin6_family = AF_INET6;
        in6.sin6_port = htons(port);
        parsed = inet_pton(AF_INET6, address.toLatin1().constData(), &in6.sin6_addr) == 1;
        size = sizeof in6;
    } else {
        auto &in = reinterpret_cast<sockaddr_in &>(bound);
        in.sin_family = AF_INET;
        in.sin_port = htons(port);
        parsed = inet_pton(AF_INET, address.toLatin1().constData(), &in.sin_addr) == 1;
        size = sizeof in;
    }
    if (!parsed) // else it would be every address of the machine
        return QStringLiteral("cannot listen at %1: not an address").arg(where);
    // Overlapped, for the links' ReadFile and WriteFile; its accepted sockets are too.
    const SOCKET listening = WSASocketW(bound.ss_family, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                                        WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    const BOOL on = TRUE;
    const auto *option = reinterpret_cast<const char *>(&on);
    // Exclusive: Windows lets a socket with SO_REUSEADDR take over a port that is listened on.
    if (listening == INVALID_SOCKET
        || setsockopt(listening, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, option, sizeof on) != 0
        || (six && setsockopt(listening, IPPROTO_IPV6, IPV6_V6ONLY, option, sizeof on) != 0)
        || ::bind(listening, reinterpret_cast<const sockaddr *>(&bound), size) != 0
        || ::listen(listening, SOMAXCONN) != 0
        || WSAEventSelect(listening, p.connecting.overlapped.hEvent, FD_ACCEPT) != 0) {
        const int failed = WSAGetLastError();
        if (missing)
            *missing = failed == WSAEAFNOSUPPORT || failed == WSAEADDRNOTAVAIL;
        if (listening != INVALID_SOCKET)
            closesocket(listening);
        return QStringLiteral("cannot listen at %1: %2").arg(where, systemWords(DWORD(failed)));
    }
    m_handle = static_cast<std::intptr_t>(listening);
    m_name = where;
    p.tcp = true;
    return {};
}

QString ScriptListener::listen(const QString &name)
{
    Platform &p = *m_platform;
    const QString pipe = QStringLiteral("\\\\.\\pipe\\") + name;
    if (!p.path.empty() || p.tcp)
        return QStringLiteral("this listener already listens at %1").arg(m_name);
    if (const DWORD error = p.guard())
        return QStringLiteral("cannot keep %1 to this user: %2").arg(pipe, systemWords(error));
    if (!p.connecting.notifier && !p.connecting.make(this, [this] { acceptSome(); }))
        return QStringLiteral("cannot listen at %1: %2").arg(pipe, systemWords(GetLastError()));
    p.path = pipe.toStdWString();
    const HANDLE first = p.makeInstance(true);
    if (first == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        p.path.clear();
        return error == ERROR_ACCESS_DENIED || error == ERROR_PIPE_BUSY
                   ? QStringLiteral("another program already listens at %1").arg(pipe)
                   : QStringLiteral("cannot make %1: %2").arg(pipe, systemWords(error));
    }
    m_handle = reinterpret_cast<std::intptr_t>(first);
    m_name = pipe;
    acceptSome();
    return {};
}

void ScriptListener::acceptSome()
{
    Platform &p = *m_platform;
    if (p.tcp)
        return acceptTcp();
    const QPointer<ScriptListener> alive(this);
    // Said once; a link's end tries again, as its instance is then free.
    const auto stuck = [this](DWORD error) {
        if (!std::exchange(m_troubleSaid, true))
            emit trouble(QStringLiteral("cannot take a script's connection at %1: %2; waiting "
                                        "for one to end")
                             .arg(m_name, systemWords(error)));
    };
    while (!p.path.empty()) {
        if (m_handle == kNone) {
            const HANDLE next = p.makeInstance(false);
            if (next == INVALID_HANDLE_VALUE)
                return stuck(GetLastError());
            m_handle = reinterpret_cast<std::intptr_t>(next);
            m_troubleSaid = false;
        }
        DWORD size = 0;
        DWORD error = 0;
        if (p.connecting.pending) {
            if (!p.connecting.finished(handleOf(m_handle), &size, &error))
                return;
        } else if (!ConnectNamedPipe(handleOf(m_handle), &p.connecting.overlapped)) {
            error = GetLastError();
            if (error == ERROR_IO_PENDING) {
                p.connecting.pending = true;
                continue;
            }
            if (error == ERROR_PIPE_CONNECTED) // connected between the instance and this call
                error = 0;
        }
        if (error != 0) {
            CloseHandle(handleOf(std::exchange(m_handle, kNone)));
            if (error == ERROR_NO_DATA || error == ERROR_BROKEN_PIPE)
                continue; // the client left before it was taken
            return stuck(error);
        }
        auto *link = new ScriptLink(std::exchange(m_handle, kNone), this);
        connect(
            link, &ScriptLink::gone, this,
            [this] {
                if (m_handle == kNone)
                    acceptSome();
            },
            Qt::QueuedConnection);
        emit connected(link);
        if (!alive)
            return;
    }
}

void ScriptListener::acceptTcp()
{
    Platform &p = *m_platform;
    const QPointer<ScriptListener> alive(this);
    const auto listening = static_cast<SOCKET>(m_handle);
    WSANETWORKEVENTS events {};
    WSAEnumNetworkEvents(listening, p.connecting.overlapped.hEvent, &events); // resets the event
    p.waiting = false;
    p.connecting.notifier->setEnabled(true);
    // A few per turn, as on Linux: an accept with more waiting signals the event again.
    for (int count = 0; count < kAcceptsPerTurn; ++count) {
        const SOCKET taken = ::accept(listening, nullptr, nullptr);
        if (taken == INVALID_SOCKET) {
            const int error = WSAGetLastError();
            if (error == WSAEWOULDBLOCK) {
                m_troubleSaid = false; // every waiting connection taken: the trouble is over
                return;
            }
            if (error == WSAECONNRESET)
                continue; // the client left before it was taken
            // Listening goes on: the connection waits in the backlog until a link ends.
            p.waiting = true;
            p.connecting.notifier->setEnabled(false);
            if (!std::exchange(m_troubleSaid, true))
                emit trouble(QStringLiteral("cannot take a script's connection at %1: %2; "
                                            "waiting for one to end")
                                 .arg(m_name, systemWords(DWORD(error))));
            return;
        }
        // Taken with the listening socket's event and non-blocking mode: a link wants neither.
        u_long blocking = 0;
        if (WSAEventSelect(taken, nullptr, 0) != 0 || ioctlsocket(taken, FIONBIO, &blocking) != 0
            || !sameUserTcp(taken, userSid(p.user))) {
            closesocket(taken); // another user's, or no one's to be found: closed unanswered
            continue;
        }
        auto *link = new ScriptLink(static_cast<std::intptr_t>(taken), this);
        link->m_platform->socket = true;
        connect(
            link, &ScriptLink::gone, this,
            [this] {
                if (m_platform->waiting)
                    acceptTcp();
            },
            Qt::QueuedConnection);
        emit connected(link);
        if (!alive)
            return;
    }
}
#endif
