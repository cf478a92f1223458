// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

/**
 * The byte stream to one adapter: a serial port (Prologix GPIB-USB, AR488) or a TCP
 * connection (Prologix GPIB-ETHERNET). Every wait ends at a deadline; a failure leaves the
 * system's error number in error(), and a link that failed stays failed.
 */
class AdapterLink
{
public:
    using Clock = std::chrono::steady_clock;

    /**
     * Opens `where`: a path (starting with '/') is a serial port, taken exclusively (TIOCEXCL
     * and a lock; EBUSY when another holds it) in raw 8N1 at 115200 baud without flow control
     * and without hang-up on close, so that an Arduino is not reset at every open; anything
     * else is HOST[:PORT] (port 1234 by default; "[::1]:1234" for an IPv6 address). Null on
     * failure, with the error number in `error`.
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

private:
    AdapterLink(int fd, bool serial);
    bool fail(int error);
    /** Waits for `events` on the descriptor; false at the deadline or on failure. */
    bool wait(short events, Clock::time_point deadline);
    /** Reads what is there into the buffer; false when the link failed. */
    bool receive();

    int m_fd = -1;
    bool m_serial = false;
    int m_error = 0;
    std::string m_input;
};
