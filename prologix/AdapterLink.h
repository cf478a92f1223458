// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

/**
 * The byte stream to one adapter: a serial port (Prologix GPIB-USB, AR488) or a TCP
 * connection (Prologix GPIB-ETHERNET). Every wait ends at a deadline; a failure leaves the
 * system's error number in error() (a POSIX errno value on Windows too), and a link that
 * failed stays failed.
 *
 * AdapterLink.cpp holds what the platforms share; AdapterLinkUnix.cpp and AdapterLinkWin32.cpp
 * reach the port and the socket.
 */
class AdapterLink
{
public:
    using Clock = std::chrono::steady_clock;

    /**
     * Opens `where`: a path (starting with '/') is a serial port, taken exclusively (TIOCEXCL
     * and a lock; EBUSY when another holds it) in raw 8N1 at 115200 baud without flow control
     * and without hang-up on close, so that an Arduino is not reset at every open; anything
     * else is HOST[:PORT] (port 1234 by default; "[::1]:1234" for an IPv6 address). On Windows
     * COMn (or \\.\COMn) is a serial port, opened without sharing (EBUSY when another holds
     * it), with the same settings. Null on failure, with the error number in `error`.
     */
    static std::unique_ptr<AdapterLink> open(const std::string &where, Clock::time_point deadline,
                                             int &error);
    ~AdapterLink();
    AdapterLink(const AdapterLink &) = delete;
    AdapterLink &operator=(const AdapterLink &) = delete;

    bool serial() const { return m_serial; }
    /** 0 while the link works; else the error number that ended it. */
    int error() const { return m_error; }

    /** Drops what the adapter sent unasked, and notices a link that went away. */
    bool drain();
    /** Sends all of `bytes` by the deadline; false on failure (ETIMEDOUT when it ran out). */
    bool send(std::string_view bytes, Clock::time_point deadline);
    /** The next line from the adapter, without its CR LF; nullopt at the deadline (error()
        stays 0) or when the link failed. */
    std::optional<std::string> readLine(Clock::time_point deadline);

    /** Milliseconds left until the deadline, 0 once it passed, at most a minute. */
    static int remainingMs(Clock::time_point deadline);

private:
    using Handle = std::intptr_t; ///< a descriptor, or a HANDLE or SOCKET; -1 for none

    AdapterLink(Handle handle, bool serial);
    bool fail(int error);
    /** Appends what is there to the buffer, waiting until the deadline when nothing is yet;
        false at the deadline (error() stays 0) or when the link failed. */
    bool receive(Clock::time_point deadline);
    /** Keeps what the adapter sent unasked from growing memory. */
    void keepTail();

    // The platform's part.
    static bool namesSerialPort(const std::string &where);
    static Handle openSerial(const std::string &where, int &error);
    static Handle connectTcp(const std::string &host, const std::string &port,
                             Clock::time_point deadline, int &error);
    void close();

    Handle m_handle = -1;
    bool m_serial = false;
    int m_error = 0;
    std::string m_input;
};
