// SPDX-License-Identifier: MIT
#include "ToolOutput.h"

#include <cerrno>
#include <cstring>

#if defined(_WIN32)
#include <io.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

long writeSome(int fd, const char *data, std::size_t size)
{
#if defined(_WIN32)
    return ::_write(fd, data, static_cast<unsigned>(size));
#else
    return static_cast<long>(::write(fd, data, size));
#endif
}

} // namespace

ToolOutput::Buffer::Buffer(int fd)
    : m_fd(fd)
{
    setp(m_bytes, m_bytes + sizeof m_bytes);
}

bool ToolOutput::Buffer::drain()
{
    const char *next = pbase();
    while (next < pptr() && m_error == 0) {
        const long written =
            m_fd < 0 ? (errno = EBADF, -1) : writeSome(m_fd, next, std::size_t(pptr() - next));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            m_error = written == 0 ? EIO : errno;
        else
            next += written;
    }
    setp(m_bytes, m_bytes + sizeof m_bytes);
    return m_error == 0;
}

int ToolOutput::Buffer::overflow(int c)
{
    if (!drain())
        return traits_type::eof();
    if (c != traits_type::eof()) {
        *pptr() = static_cast<char>(c);
        pbump(1);
    }
    return traits_type::not_eof(c);
}

std::streamsize ToolOutput::Buffer::xsputn(const char *data, std::streamsize size)
{
    std::streamsize done = 0;
    while (done < size) {
        if (pptr() == epptr() && !drain())
            return done;
        const std::streamsize room = std::min<std::streamsize>(epptr() - pptr(), size - done);
        std::memcpy(pptr(), data + done, static_cast<std::size_t>(room));
        pbump(static_cast<int>(room));
        done += room;
    }
    return done;
}

int ToolOutput::Buffer::sync()
{
    return drain() ? 0 : -1;
}

ToolOutput::ToolOutput(int fd)
    : std::ostream(nullptr)
    , m_buffer(fd)
{
    rdbuf(&m_buffer);
}

ToolOutput::~ToolOutput() = default;

int ToolOutput::standardOutput()
{
#if defined(_WIN32)
    return ::_fileno(stdout) >= 0 && ::_get_osfhandle(1) != -1 ? 1 : -1;
#else
    // A closed descriptor 0, 1 or 2 would be the next file opened, and the tool's output or
    // messages would go into it: each is held by the null device instead.
    bool closed[3] = {};
    for (int fd = 0; fd < 3; ++fd) {
        closed[fd] = ::fcntl(fd, F_GETFD) == -1;
        const int null = closed[fd] ? ::open("/dev/null", O_RDWR) : fd;
        if (null >= 0 && null != fd) {
            ::dup2(null, fd);
            ::close(null);
        }
    }
    return closed[1] ? -1 : 1;
#endif
}

int ToolOutput::finish(int code, std::ostream &err, std::string_view tool)
{
    flush();
    if (m_buffer.error() == 0 && good())
        return code;
    err << tool << ": cannot write standard output: "
        << std::strerror(m_buffer.error() ? m_buffer.error() : EIO) << '\n';
    return code != 0 ? code : 1;
}
