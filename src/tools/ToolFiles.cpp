// SPDX-License-Identifier: MIT
#include "ToolFiles.h"
#include "TemporaryFile.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace ToolFiles {

using namespace detail;

namespace {

std::string failure(const std::string &what, const std::string &path, int error)
{
    return what + ' ' + path + ": " + std::strerror(error);
}

/** Every byte to `fd`; false with errno set when one could not be written. */
bool writeAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            if (written == 0)
                errno = EIO;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

/** A terminal, another character device or a read FIFO, written as it stands. */
std::string writeDirectly(const std::string &path, std::string_view bytes, bool fifo)
{
    // Non-blocking to open: a FIFO nobody reads then fails at once (ENXIO) instead of waiting.
    const int fd = ::open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        if (errno == ENXIO && fifo)
            return path + " is a FIFO that nobody reads: nothing written";
        return failure("cannot write", path, errno);
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    const bool written = writeAll(fd, bytes);
    const int error = errno;
    if (::close(fd) != 0 && written)
        return failure("cannot write", path, errno);
    return written ? std::string() : failure("cannot write", path, error);
}

std::string replace(const std::string &given, std::string_view bytes)
{
    std::string path = given;
    struct stat status
    {
    };
    bool exists = ::lstat(path.c_str(), &status) == 0;
    if (!exists && errno != ENOENT)
        return failure("cannot write", path, errno);
    if (exists && S_ISLNK(status.st_mode)) {
        if (::stat(given.c_str(), &status) != 0)
            return failure("cannot write", given, errno) + " (a link to nothing)";
        // A regular file behind the link is the one to replace, as an editor saving it would;
        // /dev/stdout and its like are written as they are.
        char resolved[PATH_MAX];
        if (S_ISREG(status.st_mode)) {
            if (!::realpath(given.c_str(), resolved) || ::lstat(resolved, &status) != 0)
                return failure("cannot write", given, errno);
            path = resolved;
        }
    }
    if (exists && !S_ISREG(status.st_mode)) {
        if (S_ISCHR(status.st_mode) || S_ISFIFO(status.st_mode))
            return writeDirectly(given, bytes, S_ISFIFO(status.st_mode));
        const char *kind = S_ISDIR(status.st_mode)    ? "a directory"
                           : S_ISSOCK(status.st_mode) ? "a socket"
                           : S_ISBLK(status.st_mode)  ? "a block device"
                                                      : "not a regular file";
        return given + " is " + kind + ": not replaced, nothing written";
    }
    mode_t mode = status.st_mode & 07777;
    if (!exists) {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }

    const RemovedOnSignal removal;
    const std::string pattern =
        folderOf(path) + "/." + std::filesystem::path(path).filename().string() + ".XXXXXX";
    if (pattern.size() >= sizeof s_temporary)
        return "cannot write " + given + ": " + std::strerror(ENAMETOOLONG);
    std::memcpy(s_temporary, pattern.c_str(), pattern.size() + 1);
    s_pending = 1;
    // mkstemp: O_CREAT | O_EXCL, a name nobody could guess, never through a link.
    const int fd = ::mkostemp(s_temporary, O_CLOEXEC);
    if (fd < 0) {
        s_pending = 0;
        return failure("cannot write", given, errno);
    }
    const std::string temporary = s_temporary;
    bool done = ::fchmod(fd, mode) == 0 && writeAll(fd, bytes) && ::fsync(fd) == 0;
    int error = errno;
    if (::close(fd) != 0 && done) {
        done = false;
        error = errno;
    }
    if (done && ::rename(temporary.c_str(), path.c_str()) != 0) {
        done = false;
        error = errno;
    }
    if (!done) {
        ::unlink(temporary.c_str());
        return failure("cannot write", given, error);
    }
    return {};
}

} // namespace

std::string write(const std::string &path, std::string_view bytes)
{
    return replace(path, bytes);
}

std::string read(const std::string &path, std::string *bytes)
{
    // Non-blocking to open, so that a FIFO without a writer reads as empty at once.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    struct stat status
    {
    };
    if (fd < 0 || ::fstat(fd, &status) != 0) {
        const int error = errno;
        if (fd >= 0)
            ::close(fd);
        return failure("cannot read", path, error);
    }
    if (S_ISDIR(status.st_mode)) {
        ::close(fd);
        return path + " is a directory";
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    bytes->clear();
    char chunk[65536];
    for (;;) {
        const ssize_t count = ::read(fd, chunk, sizeof chunk);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0) {
            const int error = errno;
            ::close(fd);
            return count == 0 ? std::string() : failure("cannot read", path, error);
        }
        bytes->append(chunk, static_cast<std::size_t>(count));
    }
}

} // namespace ToolFiles
