// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <string>

/**
 * Tells others that a running panel uses an instance of a settings store. It locks nothing
 * out: two panels of one instance may still run. `selvane-settings import` refuses while one
 * is held, because the panel writes its own values when it closes.
 *
 * Off Windows it is a shared advisory lock (flock) on a file in $XDG_RUNTIME_DIR, else in the
 * settings file's folder; on Windows a named mutex, the registry being one per machine. Its
 * name comes from the store's location and the context as the store folds it (ASCII letters
 * in either case are one), so panels on different settings files never meet.
 */
class InstanceLock
{
public:
    /** Holds the lock of `context` of the store at `location` while it lives; a lock that
        cannot be made is none, silently. */
    InstanceLock(const std::string &location, const std::string &context);
    ~InstanceLock();
    InstanceLock(const InstanceLock &) = delete;
    InstanceLock &operator=(const InstanceLock &) = delete;

    /** Whether a running panel holds the lock of `context` of the store at `location`. */
    static bool inUse(const std::string &location, const std::string &context);

    /** 16 hex digits that stand for `context` of the store at `location` (on Windows, where
        the registry is one per machine, for the context alone). */
    static std::string key(const std::string &location, const std::string &context);

    /** The lock file's path, or on Windows the mutex's name. */
    static std::string name(const std::string &location, const std::string &context);

private:
    std::intptr_t m_handle;
};
