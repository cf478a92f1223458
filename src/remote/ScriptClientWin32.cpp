// SPDX-License-Identifier: MIT
// A script's end of the panel's named pipe: opened at the identification level, trusted only
// when the process that serves it runs as this user, read and written with a deadline.
#if defined(_WIN32)
#include "ScriptClient.h"

#include "ProcessUser.h"
#include "settings/Win32Registry.h"

#include <windows.h>

#include <algorithm>
#include <string>
#include <utility>

namespace {

constexpr qsizetype kAnswerLimit = 1024 * 1024;
constexpr DWORD kChunk = 64 * 1024;
constexpr std::intptr_t kNone = -1; // INVALID_HANDLE_VALUE

HANDLE handleOf(std::intptr_t handle)
{
    return reinterpret_cast<HANDLE>(handle);
}

QString systemWords(DWORD code)
{
    return QString::fromLocal8Bit(Win32Registry::systemWords(static_cast<long>(code)));
}

/** Milliseconds left, as the wait functions take them. */
DWORD left(const QDeadlineTimer &deadline)
{
    return deadline.isForever()
               ? INFINITE
               : static_cast<DWORD>(std::clamp<qint64>(deadline.remainingTime(), 0, INFINITE - 1));
}

enum class Transfer { Done, Late, Failed };

/** One overlapped read or write of up to `size` bytes, waited for until `deadline`. */
Transfer transfer(HANDLE pipe, bool write, char *data, DWORD size, const QDeadlineTimer &deadline,
                  DWORD *moved, DWORD *error)
{
    OVERLAPPED overlapped {};
    overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!overlapped.hEvent) {
        *error = GetLastError();
        return Transfer::Failed;
    }
    const BOOL started = write ? WriteFile(pipe, data, size, nullptr, &overlapped)
                               : ReadFile(pipe, data, size, nullptr, &overlapped);
    bool late = false;
    bool done = false;
    if (started || GetLastError() == ERROR_IO_PENDING) {
        late = WaitForSingleObject(overlapped.hEvent, left(deadline)) != WAIT_OBJECT_0;
        if (late)
            CancelIoEx(pipe, &overlapped);
        // Waited for even when cancelled: the system writes into `overlapped` until it is over.
        done = GetOverlappedResult(pipe, &overlapped, moved, TRUE);
    }
    *error = done ? 0 : GetLastError();
    CloseHandle(overlapped.hEvent);
    return done ? Transfer::Done : late ? Transfer::Late : Transfer::Failed;
}

/** Why the process that serves `pipe` is not to be trusted; empty when it runs as this user. */
QString doubt(HANDLE pipe, const QString &name)
{
    DWORD error = 0;
    std::vector<char> own = processUser(GetCurrentProcess(), &error);
    std::vector<char> server;
    ULONG id = 0;
    if (!GetNamedPipeServerProcessId(pipe, &id)) {
        error = GetLastError();
    } else if (const HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id)) {
        server = processUser(process, &error);
        CloseHandle(process);
    } else {
        error = GetLastError();
    }
    if (own.empty() || server.empty())
        return QStringLiteral("cannot tell who serves %1: %2").arg(name, systemWords(error));
    return EqualSid(userSid(own), userSid(server))
               ? QString()
               : QStringLiteral("%1 is served by another user's program").arg(name);
}

} // namespace

ScriptClient::~ScriptClient()
{
    if (m_handle != kNone)
        CloseHandle(handleOf(m_handle));
}

ScriptClient::Outcome ScriptClient::fail(Outcome outcome, const QString &why)
{
    m_why = why;
    if (outcome != Outcome::Done && m_handle != kNone) // what is half sent or read is lost
        CloseHandle(handleOf(std::exchange(m_handle, kNone)));
    return outcome;
}

ScriptClient::Outcome ScriptClient::connect(const QString &name, const QDeadlineTimer &deadline)
{
    if (m_handle != kNone)
        CloseHandle(handleOf(std::exchange(m_handle, kNone)));
    m_pending.clear();
    m_name = QStringLiteral("\\\\.\\pipe\\") + name;
    const std::wstring path = m_name.toStdWString();
    HANDLE pipe = INVALID_HANDLE_VALUE;
    for (;;) {
        // Identification only: the panel may learn who asks, never act as this user.
        pipe = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION,
                           nullptr);
        if (pipe != INVALID_HANDLE_VALUE)
            break;
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND)
            return fail(Outcome::NoPanel, QStringLiteral("nothing listens at %1").arg(m_name));
        if (error == ERROR_ACCESS_DENIED)
            return fail(Outcome::Untrusted,
                        QStringLiteral("this user may not open %1").arg(m_name));
        if (error != ERROR_PIPE_BUSY)
            return fail(Outcome::NoPanel,
                        QStringLiteral("cannot open %1: %2").arg(m_name, systemWords(error)));
        // Every instance taken: the panel makes the next as it takes a client.
        if (deadline.hasExpired()
            || (!WaitNamedPipeW(path.c_str(), std::max<DWORD>(1, left(deadline)))
                && GetLastError() == ERROR_SEM_TIMEOUT))
            return fail(Outcome::Late, QStringLiteral("%1 stayed busy").arg(m_name));
    }
    const QString why = doubt(pipe, m_name);
    if (!why.isEmpty()) {
        CloseHandle(pipe);
        return fail(Outcome::Untrusted, why);
    }
    m_handle = reinterpret_cast<std::intptr_t>(pipe);
    m_why.clear();
    return Outcome::Done;
}

ScriptClient::Outcome ScriptClient::ask(const QByteArray &line, const QDeadlineTimer &deadline,
                                        QByteArray *answer)
{
    if (m_handle == kNone)
        return fail(Outcome::Closed, QStringLiteral("not connected to %1").arg(m_name));
    const HANDLE pipe = handleOf(m_handle);
    const auto broken = [this](DWORD error) {
        return fail(Outcome::Closed,
                    error == ERROR_BROKEN_PIPE || error == ERROR_NO_DATA
                            || error == ERROR_PIPE_NOT_CONNECTED
                        ? QStringLiteral("the panel at %1 closed the connection before it answered")
                              .arg(m_name)
                        : QStringLiteral("cannot talk to %1: %2").arg(m_name, systemWords(error)));
    };
    QByteArray request = line + '\n';
    DWORD moved = 0;
    DWORD error = 0;
    for (qsizetype sent = 0; sent < request.size(); sent += moved) {
        const Transfer written = transfer(pipe, true, request.data() + sent,
                                          DWORD(request.size() - sent), deadline, &moved, &error);
        if (written == Transfer::Late)
            return fail(Outcome::Late,
                        QStringLiteral("the panel at %1 took no request in time").arg(m_name));
        if (written == Transfer::Failed)
            return broken(error);
    }
    qsizetype end = -1;
    while ((end = m_pending.indexOf('\n')) < 0) {
        if (m_pending.size() > kAnswerLimit)
            return fail(Outcome::Closed,
                        QStringLiteral("the panel at %1 answered over 1 MiB with no line break")
                            .arg(m_name));
        const qsizetype had = m_pending.size();
        m_pending.resize(had + kChunk);
        const Transfer read =
            transfer(pipe, false, m_pending.data() + had, kChunk, deadline, &moved, &error);
        m_pending.resize(had + (read == Transfer::Done ? qsizetype(moved) : 0));
        if (read == Transfer::Late)
            return fail(Outcome::Late,
                        QStringLiteral("the panel at %1 did not answer in time").arg(m_name));
        if (read == Transfer::Failed)
            return broken(error);
    }
    *answer = m_pending.left(end);
    m_pending.remove(0, end + 1);
    m_why.clear();
    return Outcome::Done;
}

void ScriptClient::letToTheFront()
{
    ULONG server = 0;
    if (m_handle != kNone && GetNamedPipeServerProcessId(handleOf(m_handle), &server))
        AllowSetForegroundWindow(server);
}

#endif
