// SPDX-License-Identifier: MIT
#include "InstanceLock.h"

#include "Registry.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

/** FNV-1a: a short, stable name for any path and instance name, whatever their length. */
std::uint64_t digest(const std::string &text)
{
    std::uint64_t hash = 0xcbf29ce484222325u;
    for (const char c : text) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 0x100000001b3u;
    }
    return hash;
}

std::string hex(std::uint64_t number)
{
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(number));
    return text;
}

#if !defined(_WIN32)
/** The store's path as one spelling: absolute, and with links resolved where it exists. */
std::filesystem::path absoluteStore(const std::string &location)
{
    std::error_code error;
    std::filesystem::path store = std::filesystem::absolute(location, error);
    if (const std::filesystem::path canonical = std::filesystem::weakly_canonical(store, error);
        !error)
        store = canonical;
    return store;
}

/** Opened without following a link or waiting on a FIFO; -1 unless it is a regular file. */
int openLockFile(const std::string &path, int flags)
{
    const int fd = ::open(path.c_str(), flags | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
    struct stat status
    {
    };
    if (fd >= 0 && (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode))) {
        ::close(fd);
        return -1;
    }
    return fd;
}
#endif

} // namespace

std::string InstanceLock::name(const std::string &location, const std::string &context)
{
#if defined(_WIN32)
    return "Global\\SELVANE-instance-" + key(location, context);
#else
    const char *runtime = std::getenv("XDG_RUNTIME_DIR");
    const std::filesystem::path folder = runtime && *runtime == '/'
                                             ? std::filesystem::path(runtime)
                                             : absoluteStore(location).parent_path();
    return (folder / ("selvane-" + key(location, context) + ".lock")).string();
#endif
}

std::string InstanceLock::key(const std::string &location, const std::string &context)
{
#if defined(_WIN32)
    (void)location; // one registry per machine
    return hex(digest(Registry::folded(context)));
#else
    return hex(digest(absoluteStore(location).string() + '\0' + Registry::folded(context)));
#endif
}

#if defined(_WIN32)

InstanceLock::InstanceLock(const std::string &location, const std::string &context)
    : m_handle(reinterpret_cast<std::intptr_t>(
        CreateMutexA(nullptr, FALSE, name(location, context).c_str())))
{ }

InstanceLock::~InstanceLock()
{
    if (m_handle)
        CloseHandle(reinterpret_cast<HANDLE>(m_handle));
}

bool InstanceLock::inUse(const std::string &location, const std::string &context)
{
    const HANDLE mutex = OpenMutexA(SYNCHRONIZE, FALSE, name(location, context).c_str());
    if (!mutex)
        return false;
    CloseHandle(mutex);
    return true;
}

#else

InstanceLock::InstanceLock(const std::string &location, const std::string &context)
    : m_handle(-1)
{
    if (location.empty())
        return; // a store of no place: nobody else can reach it
    const std::string path = name(location, context);
    std::error_code error;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), error);
    const int fd = openLockFile(path, O_RDWR | O_CREAT);
    // Shared: a second panel of the instance takes it too; an import asks for it alone.
    if (fd >= 0 && ::flock(fd, LOCK_SH | LOCK_NB) != 0)
        ::close(fd);
    else
        m_handle = fd;
}

InstanceLock::~InstanceLock()
{
    if (m_handle >= 0)
        ::close(static_cast<int>(m_handle));
}

bool InstanceLock::inUse(const std::string &location, const std::string &context)
{
    const int fd = location.empty() ? -1 : openLockFile(name(location, context), O_RDONLY);
    if (fd < 0)
        return false;
    const bool taken = ::flock(fd, LOCK_EX | LOCK_NB) != 0;
    ::close(fd);
    return taken;
}

#endif
