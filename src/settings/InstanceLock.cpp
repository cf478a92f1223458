// SPDX-License-Identifier: MIT
#include "InstanceLock.h"

#include "Registry.h"

#include <cstdio>
#include <filesystem>

#if defined(_WIN32)
#include "Win32Registry.h"

#include <windows.h>
#else
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
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

/** What the key stands for: the store's place, a NUL and the context as the store folds it. */
std::string keyText(const std::string &location, const std::string &context);

#if defined(_WIN32)
std::string keyText(const std::string &location, const std::string &context)
{
    // The machine's registry keeps the names it always had. Any other store (the demo's,
    // under HKEY_CURRENT_USER) is the user's own, and told apart by the user too: the mutex
    // is seen across the machine's sessions.
    const std::string machine = "HKEY_LOCAL_MACHINE\\";
    if (location.compare(0, machine.size(), machine) == 0)
        return Registry::folded(context);
    char user[257] = {};
    DWORD size = sizeof user;
    if (!GetUserNameA(user, &size))
        user[0] = '\0';
    return location + '\0' + user + '\0' + Registry::folded(context);
}
#else
/** The store's path as one spelling: absolute, and with links resolved, a link to a file
    still to be made included (the store is made through it). */
std::filesystem::path absoluteStore(const std::string &location)
{
    namespace fs = std::filesystem;
    std::error_code error;
    fs::path store = fs::absolute(location, error);
    for (int depth = 0; depth < 40 && fs::is_symlink(fs::symlink_status(store, error)); ++depth) {
        const fs::path target = fs::read_symlink(store, error);
        if (error)
            break;
        store = store.parent_path() / target;
    }
    if (const fs::path canonical = fs::weakly_canonical(store, error); !error)
        store = canonical;
    return store;
}

std::string keyText(const std::string &location, const std::string &context)
{
    return absoluteStore(location).string() + '\0' + Registry::folded(context);
}
#endif

} // namespace

std::string InstanceLock::key(const std::string &location, const std::string &context)
{
    return hex(digest(keyText(location, context)));
}

#if defined(_WIN32)

std::string InstanceLock::name(const std::string &location, const std::string &context)
{
    return "Global\\SELVANE-instance-" + key(location, context);
}

InstanceLock::InstanceLock(const std::string &location, const std::string &context)
    : m_handle(0)
{
    const std::string mutex = name(location, context);
    const HANDLE handle = CreateMutexA(nullptr, FALSE, mutex.c_str());
    const DWORD error = GetLastError();
    if (handle && error == ERROR_ALREADY_EXISTS) {
        CloseHandle(handle);
        m_state = State::Running;
    } else if (handle) {
        m_handle = reinterpret_cast<std::intptr_t>(handle);
    } else if (error == ERROR_ACCESS_DENIED) {
        m_state = State::Running; // made by another user's panel, on the machine's registry
    } else {
        m_state = State::Unknown;
        m_reason =
            "cannot make the mutex " + mutex + ": " + Win32Registry::systemWords(long(error));
    }
}

InstanceLock::~InstanceLock()
{
    if (m_handle)
        CloseHandle(reinterpret_cast<HANDLE>(m_handle));
}

#else

std::string InstanceLock::name(const std::string &location, const std::string &)
{
    return absoluteStore(location).string() + ".lock";
}

InstanceLock::InstanceLock(const std::string &location, const std::string &context)
    : m_handle(-1)
{
    if (location.empty())
        return; // a store of no place: nobody else can reach it
    const std::string path = name(location, context);
    const auto unknown = [this, &path](const std::string &why) {
        m_state = State::Unknown;
        m_reason = path + why;
    };
    std::error_code error;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), error);
    // Never through a link, nor waiting on a FIFO someone put in its place.
    const int fd =
        ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_CREAT, 0600);
    if (fd < 0) {
        unknown(errno == ELOOP ? std::string(" is a link")
                               : std::string(" cannot be opened: ") + std::strerror(errno));
        return;
    }
    m_handle = fd;
    struct stat status
    {
    };
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || status.st_uid != ::geteuid()) {
        unknown(" is not a file of this user's");
        return;
    }
    // One byte per instance, far past any content: one file serves every instance of its
    // store, so the instance's name alone picks the byte.
    struct flock byte
    {
    };
    byte.l_type = F_WRLCK;
    byte.l_whence = SEEK_SET;
    byte.l_start =
        static_cast<off_t>(digest(Registry::folded(context))
                           % static_cast<std::uint64_t>(std::numeric_limits<off_t>::max() / 2));
    byte.l_len = 1;
    if (::fcntl(fd, F_OFD_SETLK, &byte) != 0) {
        if (errno == EAGAIN || errno == EACCES)
            m_state = State::Running;
        else
            unknown(std::string(" cannot be locked: ") + std::strerror(errno));
        return;
    }
    // A lock file removed or replaced meanwhile would let the next process lock another file.
    struct stat named
    {
    };
    if (::lstat(path.c_str(), &named) != 0 || named.st_dev != status.st_dev
        || named.st_ino != status.st_ino)
        unknown(" was removed or replaced while it was being locked");
}

InstanceLock::~InstanceLock()
{
    if (m_handle >= 0)
        ::close(static_cast<int>(m_handle)); // lets the lock go
}

#endif
