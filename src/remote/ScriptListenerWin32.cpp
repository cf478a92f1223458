// SPDX-License-Identifier: MIT
// The scripts' listener on Windows: an overlapped named pipe with one instance per connected
// script and one more waiting for the next, each operation watched through its event.
#if defined(_WIN32)
#include "ScriptListener.h"

#include "ProcessUser.h"
#include "settings/Win32Registry.h"

#include <QPointer>
#include <QWinEventNotifier>

#include <windows.h>

#include <algorithm>
#include <array>
#include <string>
#include <utility>

namespace {

constexpr DWORD kBufferSize = 64 * 1024;
const std::intptr_t kNone = reinterpret_cast<std::intptr_t>(INVALID_HANDLE_VALUE);

HANDLE handleOf(std::intptr_t handle)
{
    return reinterpret_cast<HANDLE>(handle);
}

QString systemWords(DWORD code)
{
    return QString::fromLocal8Bit(Win32Registry::systemWords(static_cast<long>(code)));
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
        CloseHandle(handleOf(m_handle));
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
            m_input.append(p.received.data(), size);
            emit changed();
            if (!alive)
                return;
            continue;
        }
        if (m_input.size() >= kInputLimit || m_output.size() > kOutputLimit)
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
    CloseHandle(handleOf(std::exchange(m_handle, kNone)));
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
    Operation connecting;

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

QString ScriptListener::listenTcp(const QString &, std::uint16_t, bool *)
{
    return QStringLiteral("SCPI is not offered on Windows yet");
}

QString ScriptListener::listen(const QString &name)
{
    Platform &p = *m_platform;
    const QString pipe = QStringLiteral("\\\\.\\pipe\\") + name;
    if (!p.path.empty())
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
#endif
