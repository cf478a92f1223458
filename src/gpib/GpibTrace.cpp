// SPDX-License-Identifier: MIT
#include "GpibTrace.h"

#include "TraceLine.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

/** The time now, as "2026-12-07T10:42:33.123456Z". */
std::string utcNow()
{
    using namespace std::chrono;
    const auto micros = duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
    const std::time_t seconds = static_cast<std::time_t>(micros / 1000000);
    std::tm utc {};
#if defined(_WIN32)
    gmtime_s(&utc, &seconds);
#else
    gmtime_r(&seconds, &utc);
#endif
    char text[40];
    const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    std::snprintf(text + length, sizeof text - length, ".%06dZ",
                  static_cast<int>(micros % 1000000));
    return text;
}

std::FILE *openForAppending(const char *path)
{
#if defined(_WIN32)
    return std::fopen(path, "a");
#else
    // Non-blocking: a FIFO that nobody reads fails at once (ENXIO) instead of holding the
    // program before it has begun. Writes to a FIFO stay non-blocking, so a reader that stops
    // reading ends the trace rather than the program's work; a file or a terminal blocks as
    // usual.
    const int fd =
        ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0666);
    struct stat status
    {
    };
    if (fd < 0 || ::fstat(fd, &status) != 0) {
        const int error = errno;
        if (fd >= 0)
            ::close(fd);
        errno = error;
        return nullptr;
    }
    if (!S_ISFIFO(status.st_mode))
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    else
        std::signal(SIGPIPE, SIG_IGN); // a reader that leaves ends the trace, not the program
    std::FILE *file = ::fdopen(fd, "a");
    if (!file)
        ::close(fd);
    return file;
#endif
}

} // namespace

std::unique_ptr<GpibTrace> GpibTrace::fromEnvironment()
{
    const char *path = std::getenv("SELVANE_GPIB_TRACE");
    if (!path || !*path)
        return nullptr;
    std::FILE *file = openForAppending(path);
    if (!file) {
        const char *reason = errno == ENXIO ? "a FIFO that nobody reads" : std::strerror(errno);
        std::fprintf(stderr, "SELVANE_GPIB_TRACE: cannot write to %s (%s); no driver trace\n", path,
                     reason);
        return nullptr;
    }
    return std::unique_ptr<GpibTrace>(new GpibTrace(file, path));
}

GpibTrace::~GpibTrace()
{
    if (m_file)
        std::fclose(m_file);
}

void GpibTrace::write(const char *call, std::initializer_list<long long> args, long long ret,
                      int ibsta, int iberr, long long ibcntl, std::optional<std::string_view> bytes)
{
    const std::string line = gpib::traceFields(call, args, ret, ibsta, iberr, ibcntl, bytes)
                             + ",\"time\":\"" + utcNow() + "\"}\n";
    if (!m_file)
        return; // stopped at a failed write
    // One write per line: copies that share the file do not interleave within a line.
    if (std::fputs(line.c_str(), m_file) < 0 || std::fflush(m_file) != 0) {
        const char *reason = errno == EAGAIN ? "its reader does not keep up" : std::strerror(errno);
        std::fprintf(stderr,
                     "SELVANE_GPIB_TRACE: cannot write to %s (%s); the driver trace stops\n",
                     m_path.c_str(), reason);
        std::fclose(m_file);
        m_file = nullptr;
    }
}
