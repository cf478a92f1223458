// SPDX-License-Identifier: MIT
#pragma once

#include "Registry.h"

#include <map>
#include <string>

struct sqlite3;
struct sqlite3_stmt;

/**
 * The registry's model kept in an SQLite database: keys, and typed values holding raw
 * bytes. Every ancestor of a key has its own row from HKEY_LOCAL_MACHINE down. One statement
 * or short transaction per call; no transaction is held between calls, so several running
 * copies can share the file. A file that cannot be used (corrupt, of another schema, a
 * directory) makes every call fail with kBadDb; a read-only one refuses writes.
 */
class SqliteRegistry : public Registry
{
public:
    /** The database at `path`, opened (and if needed created, with its folder) by the first
        call that needs it. */
    explicit SqliteRegistry(std::string path);
    ~SqliteRegistry() override;
    SqliteRegistry(const SqliteRegistry &) = delete;
    SqliteRegistry &operator=(const SqliteRegistry &) = delete;

    /**
     * The registry file of this user: `SELVANE_REGISTRY` when set and not empty, else
     * `$XDG_CONFIG_HOME/selvane/registry.sqlite3`, else `~/.config/selvane/registry.sqlite3`.
     */
    static std::string defaultPath();

    /** False when the file cannot be opened as a registry; every call then fails. */
    bool usable() { return ready(); }

    long openKey(Key parent, const std::string &subKey, std::uint32_t access, Key *result) override;
    long createKey(Key parent, const std::string &subKey, Key *result) override;
    long queryValue(Key key, const std::string &name, std::uint32_t *type, std::uint8_t *data,
                    std::uint32_t *size) override;
    long setValue(Key key, const std::string &name, std::uint32_t type, const std::uint8_t *data,
                  std::uint32_t size) override;
    long deleteKey(Key key, const std::string &subKey) override;
    long closeKey(Key key) override;
    long enumKey(Key key, std::uint32_t index, std::string *name) override;
    long enumValue(Key key, std::uint32_t index, std::string *name, std::uint32_t *type,
                   std::vector<std::uint8_t> *data) override;
    long beginTransaction() override;
    long endTransaction(bool commit) override;

private:
    bool ready();
    bool open(const std::string &path);
    void closeDatabase();
    /** The prepared statement of `sql` (a string literal: cached by its address). */
    sqlite3_stmt *prepared(const char *sql) const;
    long path(Key key, const std::string &subKey, std::string *full) const;
    long existing(const std::string &full, std::string *stored) const;
    Key newHandle(const std::string &full);

    std::string m_path;
    bool m_tried = false;
    sqlite3 *m_db = nullptr;
    mutable std::map<const char *, sqlite3_stmt *> m_statements;
    std::map<Key, std::string> m_handles;
    Key m_nextHandle = 1;
};
