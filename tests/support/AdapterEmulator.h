// SPDX-License-Identifier: MIT
#pragma once

// A GPIB adapter as its manuals describe it, for the tests of gpib-prologix: a Prologix
// GPIB-USB or an AR488 on a pseudo-terminal, a Prologix GPIB-ETHERNET on a loopback TCP port.
// It answers ++ver, takes ++addr, answers the AR488's ++fndl for its instruments, and keeps
// every byte it receives so that a test can compare them. On Windows only the GPIB-ETHERNET:
// Wine has no serial port to emulate, and where() stays empty for the other models.

#if defined(_WIN32)
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <set>
#include <string>
#include <thread>

class AdapterEmulator
{
public:
    /** Restarting: an AR488 that restarts when its port opens and misses the first ++ver. */
    enum class Model { Prologix, Ethernet, Ar488, OldAr488, Silent, Restarting };

    /** Instruments are "7" (primary address 7) or "9:1" (primary 9, secondary 1 = 97). */
    AdapterEmulator(Model model, std::set<std::string> instruments)
        : m_model(model)
        , m_instruments(std::move(instruments))
    {
#if defined(_WIN32)
        static const int started = [] {
            WSADATA data {};
            return WSAStartup(MAKEWORD(2, 2), &data);
        }();
        if (started != 0)
            std::abort();
        if (model != Model::Ethernet)
            return;
#endif
        sockaddr_in at {};
        m_wake = bound(SOCK_DGRAM, at); // sends to itself: goAway's datagram ends the thread
        if (::connect(m_wake, reinterpret_cast<sockaddr *>(&at), sizeof at) != 0)
            std::abort();
        if (model == Model::Ethernet) {
            m_listen = bound(SOCK_STREAM, at);
            if (::listen(m_listen, 4) != 0)
                std::abort();
            m_where = "127.0.0.1:" + std::to_string(ntohs(at.sin_port));
        } else {
#if !defined(_WIN32)
            m_peer = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
            if (m_peer < 0 || ::grantpt(m_peer) != 0 || ::unlockpt(m_peer) != 0)
                std::abort();
            m_where = ::ptsname(m_peer);
            // Held open so that the terminal never hangs up between the library's opens.
            m_keep = ::open(m_where.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
#endif
        }
        m_thread = std::thread([this] { run(); });
    }
    ~AdapterEmulator()
    {
        goAway();
    }
    AdapterEmulator(const AdapterEmulator &) = delete;
    AdapterEmulator &operator=(const AdapterEmulator &) = delete;

    /** The serial device or HOST:PORT, as SELVANE_PROLOGIX takes it; empty when this system
        cannot have the model. */
    const std::string &where() const
    {
        return m_where;
    }

    /** All it received, once that is at least `size` bytes (or after 20 s, for the test to
        fail on). */
    std::string received(std::size_t size = 0)
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait_for(lock, std::chrono::seconds(20),
                           [&] { return m_received.size() >= size; });
        return m_received;
    }

    /** Unplugged: the port hangs up, or the connection is reset. */
    void goAway()
    {
        if (!m_thread.joinable())
            return;
        (void)!::send(m_wake, "x", 1, 0);
        m_thread.join();
        for (Socket socket : {m_peer, m_listen, m_wake})
            closeSocket(socket);
#if !defined(_WIN32)
        ::close(m_keep);
#endif
    }

private:
#if defined(_WIN32)
    using Socket = SOCKET;
    static constexpr Socket kNone = INVALID_SOCKET;
    static void closeSocket(Socket socket)
    {
        ::closesocket(socket);
    }
    static int waitForAny(pollfd *fds)
    {
        return ::WSAPoll(fds, 2, -1);
    }
    int readPeer(char *buffer, int size)
    {
        return ::recv(m_peer, buffer, size, 0);
    }
    void writePeer(const std::string &bytes)
    {
        ::send(m_peer, bytes.data(), static_cast<int>(bytes.size()), 0);
    }
#else
    using Socket = int; ///< or the pseudo-terminal
    static constexpr Socket kNone = -1;
    static void closeSocket(Socket socket)
    {
        ::close(socket);
    }
    static int waitForAny(pollfd *fds)
    {
        return ::poll(fds, 2, -1);
    }
    int readPeer(char *buffer, int size)
    {
        return static_cast<int>(::read(m_peer, buffer, size));
    }
    void writePeer(const std::string &bytes)
    {
        (void)!::write(m_peer, bytes.data(), bytes.size());
    }
#endif

    /** A socket of `type` on a loopback port of its own, whose address is left in `at`. */
    static Socket bound(int type, sockaddr_in &at)
    {
        const Socket socket = ::socket(AF_INET, type, 0);
        at.sin_family = AF_INET;
        at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        at.sin_port = 0;
        socklen_t size = sizeof at;
        auto *any = reinterpret_cast<sockaddr *>(&at);
        if (socket == kNone || ::bind(socket, any, size) != 0
            || ::getsockname(socket, any, &size) != 0)
            std::abort();
        return socket;
    }

    void run()
    {
        for (;;) {
            pollfd fds[2] = {{m_wake, POLLIN, 0}, {m_peer, POLLIN, 0}};
            if (m_listen != kNone && m_peer == kNone)
                fds[1].fd = m_listen;
            waitForAny(fds);
            if (fds[0].revents)
                break;
            if (fds[1].fd == m_listen && fds[1].revents) {
                m_peer = ::accept(m_listen, nullptr, nullptr);
                continue;
            }
            char buffer[512];
            const int got = readPeer(buffer, sizeof buffer);
            if (got <= 0 && m_listen != kNone) { // the library closed its connection
                closeSocket(m_peer);
                m_peer = kNone;
            }
            for (int i = 0; i < got; ++i)
                take(buffer[i]);
        }
        if (m_listen != kNone && m_peer != kNone) {
            const linger reset {1, 0};
            ::setsockopt(m_peer, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char *>(&reset),
                         sizeof reset);
        }
    }

    /** One byte from the host: an ESC takes the next byte as data; CR or LF ends a line. */
    void take(char c)
    {
        {
            std::lock_guard lock(m_mutex);
            m_received += c;
        }
        m_changed.notify_all();
        if (m_escaped || (c != '\x1b' && c != '\r' && c != '\n')) {
            m_data = m_data || (m_escaped && m_line.size() < 2);
            m_line += c;
            m_escaped = false;
        } else if (c == '\x1b') {
            m_escaped = true;
        } else {
            if (!m_data && m_line.starts_with("++"))
                command(m_line.substr(2));
            m_line.clear();
            m_data = false;
        }
    }

    void command(const std::string &line)
    {
        static constexpr const char *kVersions[] = {
            "Prologix GPIB-USB Controller version 6.107",
            "Prologix GPIB-ETHERNET Controller version 01.06.06.00",
            "AR488 GPIB controller, ver. 0.53.03, 08/04/2025",
            "AR488 GPIB controller, ver. 0.48.28, 27/06/2020"};
        const bool ar488 = m_model == Model::Ar488 || m_model == Model::Restarting;
        if (line == "ver" && m_model == Model::Restarting && !m_started)
            m_started = true;
        else if (line == "ver" && m_model != Model::Silent)
            answer(kVersions[ar488 ? 2 : static_cast<int>(m_model)]);
        if (line.starts_with("fndl ") && m_model == Model::OldAr488)
            answer("Unrecognized command");
        if (line.starts_with("fndl ") && ar488) {
            const std::string pad = line.substr(5);
            std::string found;
            for (const std::string &at : m_instruments) {
                if (at == pad || at.starts_with(pad + ':'))
                    found += (found.empty() ? "" : ",") + at;
            }
            if (!found.empty()) // nobody there: no answer at all
                answer(found);
        }
    }

    void answer(const std::string &line)
    {
        writePeer(line + "\r\n");
    }

    Model m_model;
    std::set<std::string> m_instruments;
    std::string m_where;
    Socket m_wake = kNone;
    Socket m_listen = kNone; ///< the Ethernet model's port
    Socket m_peer = kNone; ///< the pseudo-terminal's master, or the accepted connection
    int m_keep = -1;
    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::string m_received;
    std::string m_line;
    bool m_escaped = false;
    bool m_started = false;
    bool m_data = false; ///< the line began with escaped bytes: data, not a command
};
