// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <string>

/**
 * The lock of one instance of a settings store: held by its running panel from the start of
 * its run, and by `selvane-settings import` for its whole transaction, so that no two of them
 * write the instance's values at once. Every process that uses the same settings file finds
 * the same lock, whatever its environment.
 *
 * Off Windows it is an open-file-description lock (F_OFD_SETLK) on one byte of one file per
 * settings file, beside it ("registry.sqlite3.lock"); the byte's offset comes from the
 * instance's key. On Windows it is a named mutex, the registry being one per machine: whoever
 * makes it first holds the instance until the mutex is gone.
 */
class InstanceLock
{
public:
    enum class State {
        Held, ///< this lock holds the instance, or no panel can be running (nothing to hold)
        Running, ///< another panel (or an import) holds it
        Unknown, ///< the lock cannot be made or opened: nobody can tell; see reason()
    };

    /**
     * Takes the lock of `context` of the store at `location` for as long as this object
     * lives. A store of no place is always Held.
     */
    InstanceLock(const std::string &location, const std::string &context);
    ~InstanceLock();
    InstanceLock(const InstanceLock &) = delete;
    InstanceLock &operator=(const InstanceLock &) = delete;

    State state() const { return m_state; }
    /** Why the state is Unknown, in words with the lock's path ("/x/registry.sqlite3.lock is
        not a file of this user's"). */
    const std::string &reason() const { return m_reason; }

    /** 16 hex digits that stand for `context` of the store at `location` (on Windows, where
        the registry is one per machine, for the context of that registry alone). */
    static std::string key(const std::string &location, const std::string &context);

    /** The lock file's path, one per settings file; on Windows the mutex's name. */
    static std::string name(const std::string &location, const std::string &context);

private:
    std::intptr_t m_handle;
    State m_state = State::Held;
    std::string m_reason;
};
