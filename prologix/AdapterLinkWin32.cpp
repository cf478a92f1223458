// SPDX-License-Identifier: MIT
// The adapter's serial port (a COM port) and its TCP connection (Winsock) on Windows. Errors
// are told as the POSIX side tells them, since the driver's interface carries only a number.
#include "AdapterLink.h"

#include <winsock2.h> // before windows.h
#include <ws2tcpip.h>

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cerrno>

namespace {

HANDLE portOf(std::intptr_t handle)
{
    return reinterpret_cast<HANDLE>(handle);
}

SOCKET socketOf(std::intptr_t handle)
{
    return static_cast<SOCKET>(handle);
}

/** The errno value for a failure of the port. */
int portErrno(DWORD code)
{
    switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return ENOENT;
    case ERROR_ACCESS_DENIED: // what another's open handle gives, since nothing is shared
    case ERROR_SHARING_VIOLATION:
        return EBUSY;
    case ERROR_SEM_TIMEOUT:
        return ETIMEDOUT;
    default:
        return EIO;
    }
}

/** The errno value for a failure of I/O on an open port: most mean that the adapter was
    unplugged. */
int ioErrno(DWORD code)
{
    switch (code) {
    case ERROR_ACCESS_DENIED:
    case ERROR_BAD_COMMAND:
    case ERROR_GEN_FAILURE:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEVICE_REMOVED:
    case ERROR_INVALID_HANDLE:
    case ERROR_OPERATION_ABORTED:
        return ENODEV;
    default:
        return portErrno(code);
    }
}

/** The errno value for a Winsock error. */
int socketErrno(int code)
{
    switch (code) {
    case WSAECONNREFUSED:
        return ECONNREFUSED;
    case WSAETIMEDOUT:
        return ETIMEDOUT;
    case WSAECONNRESET:
    case WSAECONNABORTED:
    case WSAENETRESET:
    case WSAESHUTDOWN:
        return ECONNRESET;
    case WSAEHOSTUNREACH:
    case WSAEHOSTDOWN:
    case WSAHOST_NOT_FOUND:
    case WSANO_DATA:
    case WSATRY_AGAIN:
        return EHOSTUNREACH;
    case WSAENETUNREACH:
    case WSAENETDOWN:
        return ENETUNREACH;
    case WSAEADDRNOTAVAIL:
        return EADDRNOTAVAIL;
    case WSAEACCES:
        return EACCES;
    case WSAEAFNOSUPPORT:
        return EAFNOSUPPORT;
    case WSAEMFILE:
    case WSAENOBUFS:
        return ENOBUFS;
    default:
        return EIO;
    }
}

/** Started with the first connection and kept for the process's life. 0, or the error. */
int winsockError()
{
    static const int error = [] {
        WSADATA data {};
        return WSAStartup(MAKEWORD(2, 2), &data);
    }();
    return error;
}

/** Waits until `socket` is readable (or, with `output`, writable or its connect failed):
    1 then, 0 at the deadline, -1 on failure with the Winsock error in `error`. select, not
    WSAPoll: the latter did not report a failed connect before Windows 10 2004. */
int waitFor(SOCKET socket, bool output, AdapterLink::Clock::time_point deadline, int &error)
{
    for (;;) {
        fd_set ready;
        fd_set failed;
        FD_ZERO(&ready);
        FD_ZERO(&failed);
        FD_SET(socket, &ready);
        FD_SET(socket, &failed);
        const int ms = AdapterLink::remainingMs(deadline);
        timeval wait {ms / 1000, (ms % 1000) * 1000};
        const int rc =
            select(0, output ? nullptr : &ready, output ? &ready : nullptr, &failed, &wait);
        if (rc > 0)
            return 1;
        if (rc < 0) {
            error = WSAGetLastError();
            return -1;
        }
        if (ms == 0)
            return 0;
    }
}

/** The port's timeouts: a read returns what is there at once, or waits up to `readMs` for
    the first byte when nothing is (0: not at all); a write ends after `writeMs`. */
bool setTimeouts(HANDLE port, int readMs, int writeMs)
{
    COMMTIMEOUTS timeouts {};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = readMs > 0 ? MAXDWORD : 0;
    timeouts.ReadTotalTimeoutConstant = static_cast<DWORD>(readMs);
    timeouts.WriteTotalTimeoutConstant = static_cast<DWORD>(std::max(writeMs, 1)); // 0: never
    return SetCommTimeouts(port, &timeouts);
}

} // namespace

bool AdapterLink::namesSerialPort(const std::string &where)
{
    std::string name = where.starts_with("\\\\.\\") ? where.substr(4) : where;
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return name.size() > 3 && name.starts_with("COM")
           && name.find_first_not_of("0123456789", 3) == std::string::npos;
}

AdapterLink::Handle AdapterLink::openSerial(const std::string &where, int &error)
{
    // The device namespace reaches COM10 and above too; the name is ASCII.
    const std::string name = where.starts_with("\\\\.\\") ? where : "\\\\.\\" + where;
    const std::wstring path(name.begin(), name.end());
    // No sharing: a port that another program holds cannot be opened.
    const HANDLE port = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        error = portErrno(GetLastError());
        return -1;
    }
    DCB dcb {};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(port, &dcb)) {
        CloseHandle(port);
        error = ENOTTY;
        return -1;
    }
    // 8N1 at 115200 baud (the Prologix ignores the rate; the AR488 needs it), no flow control,
    // DTR and RTS raised as a POSIX open leaves them.
    dcb.BaudRate = CBR_115200;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fParity = FALSE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fAbortOnError = FALSE;
    if (!SetCommState(port, &dcb) || !setTimeouts(port, 0, 1)) {
        error = portErrno(GetLastError());
        CloseHandle(port);
        return -1;
    }
    PurgeComm(port, PURGE_RXCLEAR | PURGE_TXCLEAR);
    return reinterpret_cast<Handle>(port);
}

AdapterLink::Handle AdapterLink::connectTcp(const std::string &host, const std::string &port,
                                            Clock::time_point deadline, int &error)
{
    if (const int started = winsockError(); started != 0) {
        error = socketErrno(started);
        return -1;
    }
    addrinfo hints {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo *found = nullptr;
    if (const int rc = getaddrinfo(host.c_str(), port.c_str(), &hints, &found); rc != 0) {
        error = socketErrno(rc);
        return -1;
    }
    error = ETIMEDOUT;
    SOCKET socket = INVALID_SOCKET;
    for (const addrinfo *at = found; at && socket == INVALID_SOCKET; at = at->ai_next) {
        socket = WSASocketW(at->ai_family, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                            WSA_FLAG_NO_HANDLE_INHERIT);
        u_long nonBlocking = 1;
        if (socket == INVALID_SOCKET || ioctlsocket(socket, FIONBIO, &nonBlocking) != 0) {
            error = socketErrno(WSAGetLastError());
            if (socket != INVALID_SOCKET)
                closesocket(socket);
            socket = INVALID_SOCKET;
            continue;
        }
        int result = 0;
        if (connect(socket, at->ai_addr, static_cast<int>(at->ai_addrlen)) != 0)
            result = WSAGetLastError();
        if (result == WSAEWOULDBLOCK) {
            const int ready = waitFor(socket, true, deadline, result);
            int size = sizeof result;
            if (ready == 0)
                result = WSAETIMEDOUT;
            else if (ready > 0
                     && getsockopt(socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char *>(&result),
                                   &size)
                            != 0)
                result = WSAGetLastError();
        }
        if (result != 0) {
            error = socketErrno(result);
            closesocket(socket);
            socket = INVALID_SOCKET;
        }
    }
    freeaddrinfo(found);
    if (socket == INVALID_SOCKET)
        return -1;
    const BOOL on = TRUE;
    setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char *>(&on), sizeof on);
    return static_cast<Handle>(socket);
}

void AdapterLink::close()
{
    if (m_serial)
        CloseHandle(portOf(m_handle));
    else
        closesocket(socketOf(m_handle));
}

bool AdapterLink::receive(Clock::time_point deadline)
{
    char buffer[512];
    if (m_serial) {
        // The first read waits for a byte until the deadline; the next ones take what is left.
        for (bool any = false;;) {
            if (m_handle == -1)
                return false;
            const int waitMs = any ? 0 : remainingMs(deadline);
            DWORD got = 0;
            if (!setTimeouts(portOf(m_handle), waitMs, 1)
                || !ReadFile(portOf(m_handle), buffer, sizeof buffer, &got, nullptr))
                return fail(ioErrno(GetLastError()));
            if (got > 0) {
                m_input.append(buffer, got);
                keepTail();
                any = true;
            } else if (any || waitMs == 0) {
                return any;
            } // else a wait cut at a minute: on to the deadline
        }
    }
    if (m_handle == -1)
        return false;
    const SOCKET socket = socketOf(m_handle);
    int error = 0;
    if (const int ready = waitFor(socket, false, deadline, error); ready <= 0)
        return ready == 0 ? false : fail(socketErrno(error));
    for (;;) {
        const int got = recv(socket, buffer, sizeof buffer, 0);
        if (got > 0) {
            m_input.append(buffer, static_cast<std::size_t>(got));
            keepTail();
        } else if (got == 0) {
            return fail(ECONNRESET); // the adapter closed the connection
        } else if (const int code = WSAGetLastError(); code == WSAEWOULDBLOCK) {
            return true;
        } else if (code != WSAEINTR) {
            return fail(socketErrno(code));
        }
    }
}

bool AdapterLink::send(std::string_view bytes, Clock::time_point deadline)
{
    while (!bytes.empty()) {
        if (m_handle == -1)
            return false;
        const auto chunk = static_cast<int>(std::min<std::size_t>(bytes.size(), 1 << 16));
        if (m_serial) {
            // A write cut short leaves the adapter in an unknown state: the link ends there.
            DWORD sent = 0;
            if (!setTimeouts(portOf(m_handle), 0, remainingMs(deadline))
                || !WriteFile(portOf(m_handle), bytes.data(), static_cast<DWORD>(chunk), &sent,
                              nullptr))
                return fail(ioErrno(GetLastError()));
            if (sent == 0)
                return fail(ETIMEDOUT);
            bytes.remove_prefix(sent);
            continue;
        }
        const SOCKET socket = socketOf(m_handle);
        const int sent = ::send(socket, bytes.data(), chunk, 0);
        if (sent > 0) {
            bytes.remove_prefix(static_cast<std::size_t>(sent));
            continue;
        }
        int error = WSAGetLastError();
        if (error != WSAEWOULDBLOCK)
            return fail(socketErrno(error));
        if (const int ready = waitFor(socket, true, deadline, error); ready <= 0)
            return fail(ready == 0 ? ETIMEDOUT : socketErrno(error));
    }
    return true;
}
