// SPDX-License-Identifier: MIT
#pragma once

#include "Registry.h"

#include <map>
#include <string>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

/**
 * The registry's model kept in an SQLite database: keys, and typed values holding raw
 * bytes. Every ancestor of a key has its own row from HKEY_LOCAL_MACHINE down. One statement
 * or short transaction per call; no transaction is held between calls, so several running
 * copies can share the file. A file that cannot be used (corrupt, of another schema, a
 * directory) makes every call fail with kBadDb; a read-only one refuses writes. Only a
 * call that writes creates the file: where there is none, reads find nothing (kFileNotFound)
 * and no file or folder is made.
 */
class SqliteRegistry : public Registry
{
public:
    /** The database at `path`, opened by the first call that needs it, and created with its
        folder by the first that writes. */
    explicit SqliteRegistry(std::string path);
    ~SqliteRegistry() override;
    SqliteRegistry(const SqliteRegistry &) = delete;
    SqliteRegistry &operator=(const SqliteRegistry &) = delete;

    /**
     * The registry file of this user: `SELVANE_REGISTRY` when set and not empty, else
     * `$XDG_CONFIG_HOME/selvane/registry.sqlite3`, else `~/.config/selvane/registry.sqlite3`;
     * for the demo (demoStore()) `demo.sqlite3` in that folder.
     */
    static std::string defaultPath();

    /** False when the file cannot be opened (or created) as a registry; every call then
        fails. */
    bool usable() { return ready(true) == kSuccess; }

    long openKey(Key parent, const std::string &subKey, std::uint32_t access, Key *result) override;
    long createKey(Key parent, const std::string &subKey, Key *result) override;
    long queryValue(Key key, const std::string &name, std::uint32_t *type, std::uint8_t *data,
                    std::uint32_t *size) override;
    long setValue(Key key, const std::string &name, std::uint32_t type, const std::uint8_t *data,
                  std::uint32_t size) override;
    long deleteValue(Key key, const std::string &name) override;
    long deleteKey(Key key, const std::string &subKey) override;
    long closeKey(Key key) override;
    long enumKey(Key key, std::uint32_t index, std::string *name) override;
    long enumValue(Key key, std::uint32_t index, std::string *name, std::uint32_t *type,
                   std::vector<std::uint8_t> *data) override;
    long beginTransaction() override;
    long endTransaction(bool commit) override;
    std::string location() const override { return m_path; }
    std::string reason(long error) const override;

private:
    /** kSuccess once the database is open; kFileNotFound when there is no file and `create`
        is false; kBadDb when it cannot be used. */
    long ready(bool create);
    bool open(bool create);
    void closeDatabase();
    /** `error`, with SQLite's result code `cause` (or one of the registry's own causes) kept
        for reason(). */
    long fail(long error, int cause = 0) const;
    long failSqlite(int rc) const;
    /** The prepared statement of `sql` (a string literal: cached by its address). */
    sqlite3_stmt *prepared(const char *sql) const;
    long path(Key key, const std::string &subKey, std::string *full) const;
    long existing(const std::string &full, std::string *stored) const;
    Key newHandle(const std::string &full);

    /** A key's subkeys or values, read whole at index 0 and handed out by index after that, so
        that an enumeration is linear however many there are. Dropped by any change. */
    struct Listing
    {
        Key key = 0;
        std::vector<std::string> names;
        std::vector<std::uint32_t> types;
        std::vector<std::vector<std::uint8_t>> data;
    };
    void forgetListings();

    std::string m_path;
    bool m_failed = false;
    int m_openCause = 0; ///< why the file could not be used, once it failed
    sqlite3 *m_db = nullptr;
    mutable int m_cause = 0;
    mutable int m_systemError = 0;
    Listing m_subkeys;
    Listing m_values;
    mutable std::map<const char *, sqlite3_stmt *> m_statements;
    std::map<Key, std::string> m_handles;
    Key m_nextHandle = 1;
};
