// SPDX-License-Identifier: MIT
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <set>
#include <sstream>
#include <string>

#if !defined(_WIN32)
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

/** A folder of its own for each test, removed with everything in it. */
class TemporaryFolder
{
public:
    TemporaryFolder()
        : m_path(
            std::filesystem::temp_directory_path()
            / ("selvane-" + std::to_string(std::random_device()()) + std::to_string(s_count++)))
    {
        std::filesystem::create_directories(m_path);
    }
    ~TemporaryFolder() { std::filesystem::remove_all(m_path, m_error); }
    TemporaryFolder(const TemporaryFolder &) = delete;
    TemporaryFolder &operator=(const TemporaryFolder &) = delete;

    const std::filesystem::path &path() const { return m_path; }
    std::string file(const std::string &name) const { return (m_path / name).string(); }
    /** The names of what is in the folder now. */
    std::set<std::string> names() const
    {
        std::set<std::string> names;
        for (const auto &entry : std::filesystem::directory_iterator(m_path))
            names.insert(entry.path().filename().string());
        return names;
    }

private:
    static inline unsigned s_count = 0;
    std::filesystem::path m_path;
    std::error_code m_error;
};

/** The bytes of a file; empty when it cannot be read. */
inline std::string contents(const std::filesystem::path &file)
{
    std::ostringstream bytes;
    bytes << std::ifstream(file, std::ios::binary).rdbuf();
    return bytes.str();
}

/** Sets (or, with null, removes) a variable of the test process's environment. */
inline void setEnvironment(const char *name, const char *value)
{
#if defined(_WIN32)
    _putenv_s(name, value ? value : "");
#else
    if (value)
        ::setenv(name, value, 1);
    else
        ::unsetenv(name);
#endif
}

/** A variable of the environment, put back as it was at the end of the scope. */
class SavedVariable
{
public:
    explicit SavedVariable(const char *name)
        : m_name(name)
        , m_set(std::getenv(name) != nullptr)
        , m_value(m_set ? std::getenv(name) : "")
    { }
    ~SavedVariable() { setEnvironment(m_name, m_set ? m_value.c_str() : nullptr); }
    SavedVariable(const SavedVariable &) = delete;
    SavedVariable &operator=(const SavedVariable &) = delete;

private:
    const char *m_name;
    bool m_set;
    std::string m_value;
};

#if !defined(_WIN32)
/** The exit status of `check`, run in a process of its own as the user nobody when this is
    root, who ignores file permissions; 10 when it cannot become nobody. */
inline int asNobody(const std::function<int()> &check)
{
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(::getuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0) ? 10 : check());
    int status = -1;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

/** A Unix socket bound to `path` (not listening), or connected to it; -1 when it fails. */
inline int socketAt(const std::string &path, bool connected)
{
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const auto *at = reinterpret_cast<sockaddr *>(&address);
    return (connected ? ::connect(fd, at, sizeof address) : ::bind(fd, at, sizeof address)) == 0
               ? fd
               : -1;
}
#endif
