// SPDX-License-Identifier: MIT
#include "ToolFiles.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>

#if defined(_WIN32)
#include "settings/Win32Registry.h"

#include <fstream>
#include <random>
#include <sstream>
#include <windows.h>
#else
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace ToolFiles {

namespace {

// The file being made, removed by a signal that ends the tool meanwhile. A fixed buffer:
// the handler may touch nothing else.
char s_temporary[4096];
volatile std::sig_atomic_t s_pending = 0;

void removeAndEnd(int signal)
{
    if (s_pending)
#if defined(_WIN32)
        DeleteFileA(s_temporary);
#else
        ::unlink(s_temporary);
#endif
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

/** The signals that end a tool send their removal while it lives. */
class RemovedOnSignal
{
public:
    RemovedOnSignal()
    {
        for (const int signal : kSignals)
            std::signal(signal, removeAndEnd);
    }
    ~RemovedOnSignal()
    {
        s_pending = 0;
        for (const int signal : kSignals)
            std::signal(signal, SIG_DFL);
    }
    RemovedOnSignal(const RemovedOnSignal &) = delete;
    RemovedOnSignal &operator=(const RemovedOnSignal &) = delete;

private:
#if defined(_WIN32)
    static constexpr int kSignals[] = {SIGINT, SIGTERM, SIGBREAK};
#else
    static constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
#endif
};

/** The folder part of `path`, "." for a plain name. */
std::string folderOf(const std::string &path)
{
    const std::filesystem::path parent = std::filesystem::path(path).parent_path();
    return parent.empty() ? std::string(".") : parent.string();
}

#if defined(_WIN32)

std::string windowsReason(DWORD error)
{
    const std::string words = Win32Registry::systemWords(static_cast<long>(error));
    return words.empty() ? std::string("a failure the system does not name") : words;
}

bool writeAll(HANDLE file, std::string_view bytes)
{
    while (!bytes.empty()) {
        DWORD written = 0;
        const auto chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
        if (!WriteFile(file, bytes.data(), chunk, &written, nullptr) || written == 0)
            return false;
        bytes.remove_prefix(written);
    }
    return true;
}

std::string replace(const std::string &path, std::string_view bytes)
{
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return path + " is a directory: not replaced";
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        // A console or NUL is written as it is; only a file on disk is replaced.
        const HANDLE existing =
            CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (existing != INVALID_HANDLE_VALUE && GetFileType(existing) != FILE_TYPE_DISK) {
            const bool written = writeAll(existing, bytes);
            const DWORD error = GetLastError();
            CloseHandle(existing);
            return written ? std::string() : "cannot write " + path + ": " + windowsReason(error);
        }
        if (existing != INVALID_HANDLE_VALUE)
            CloseHandle(existing);
    }
    const RemovedOnSignal removal;
    std::random_device random;
    HANDLE file = INVALID_HANDLE_VALUE;
    std::string temporary;
    for (int attempt = 0; attempt < 100 && file == INVALID_HANDLE_VALUE; ++attempt) {
        temporary = folderOf(path) + "\\." + std::filesystem::path(path).filename().string() + '.'
                    + std::to_string(random()) + ".tmp";
        if (temporary.size() >= sizeof s_temporary)
            return "cannot write " + path + ": the path is too long";
        std::memcpy(s_temporary, temporary.c_str(), temporary.size() + 1);
        s_pending = 1;
        file = CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) {
            s_pending = 0;
            return "cannot write " + path + ": " + windowsReason(GetLastError());
        }
    }
    if (file == INVALID_HANDLE_VALUE)
        return "cannot write " + path + ": no free name for a file beside it";
    bool done = writeAll(file, bytes) && FlushFileBuffers(file);
    DWORD error = GetLastError();
    done = CloseHandle(file) && done;
    // ReplaceFile keeps the target's permissions and attributes; a new target is just moved.
    if (done)
        done = attributes != INVALID_FILE_ATTRIBUTES
                   ? ReplaceFileA(path.c_str(), temporary.c_str(), nullptr,
                                  REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr)
                   : MoveFileExA(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
    if (!done) {
        error = GetLastError();
        DeleteFileA(temporary.c_str());
        return "cannot write " + path + ": " + windowsReason(error);
    }
    return {};
}

#else

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
        const char *kind = S_ISDIR(status.st_mode) ? "a directory"
                           : S_ISSOCK(status.st_mode) ? "a socket"
                           : S_ISBLK(status.st_mode) ? "a block device"
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

#endif

} // namespace

std::string write(const std::string &path, std::string_view bytes)
{
    return replace(path, bytes);
}

std::string read(const std::string &path, std::string *bytes)
{
#if defined(_WIN32)
    std::error_code error;
    if (std::filesystem::is_directory(path, error))
        return path + " is a directory";
    std::ifstream stream(path, std::ios::binary);
    std::ostringstream all;
    if (!stream || !(all << stream.rdbuf() || stream.peek() == EOF))
        return "cannot read " + path + ": " + std::strerror(errno);
    *bytes = all.str();
    return {};
#else
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
#endif
}

} // namespace ToolFiles
