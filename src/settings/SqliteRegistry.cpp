// SPDX-License-Identifier: MIT
#include "SqliteRegistry.h"

#include "SqliteStatement.h"
#include "SystemRegistry.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <utility>
#include <vector>

#if !defined(_WIN32)
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

constexpr std::string_view kHive = "HKEY_LOCAL_MACHINE";
constexpr int kBusyTimeoutMs = 5000;

constexpr const char *kSchema = R"sql(
CREATE TABLE registry_key  (path TEXT PRIMARY KEY COLLATE NOCASE);
CREATE TABLE registry_value(key  TEXT NOT NULL COLLATE NOCASE REFERENCES registry_key(path) ON DELETE CASCADE,
                            name TEXT NOT NULL COLLATE NOCASE,
                            type INTEGER NOT NULL,
                            data BLOB NOT NULL,
                            PRIMARY KEY (key, name));
)sql";

// The registry's own causes, beside SQLite's result codes (which are all positive).
constexpr int kCauseNameTooLong = -1;
constexpr int kCauseEmptyName = -2;
constexpr int kCauseDirectory = -3;
constexpr int kCauseForeign = -4;
constexpr int kCauseNoFile = -5;
constexpr int kCauseHasSubkeys = -6;
constexpr int kCauseOthers = -7;

long errorOf(int rc)
{
    switch (rc & 0xFF) {
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
        return Registry::kAccessDenied;
    default:
        return Registry::kBadDb;
    }
}

/** A URI that opens `path` read-only and immutable; "%", "?" and "#" are escaped. */
std::string readOnlyUri(const std::string &path)
{
    std::string uri = "file:";
    for (const char c : path) {
        if (c == '%' || c == '?' || c == '#') {
            static constexpr char kHex[] = "0123456789ABCDEF";
            uri += {'%', kHex[(c >> 4) & 0xF], kHex[c & 0xF]};
        } else {
            uri += c;
        }
    }
    return uri + "?immutable=1";
}

std::string environment(const char *name)
{
    const char *value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

} // namespace

using sqlite::exec;
using sqlite::Statement;
using sqlite::Transaction;

SqliteRegistry::SqliteRegistry(std::string path)
    : m_path(std::move(path))
{ }

long SqliteRegistry::ready(bool create)
{
    // Opened by the first call, so that a run that never uses its settings makes no file, and
    // created only by a write, so that looking finds nothing rather than making a store.
    if (m_db)
        return kSuccess;
    if (m_failed)
        return fail(kBadDb, m_openCause); // later failures may have left another cause
    std::error_code error;
    if (!create && !std::filesystem::exists(m_path, error))
        return fail(kFileNotFound, kCauseNoFile);
    if (!open(create)) {
        m_openCause = m_cause;
        closeDatabase();
        m_failed = true;
        return fail(kBadDb, m_openCause);
    }
    return kSuccess;
}

SqliteRegistry::~SqliteRegistry()
{
    closeDatabase();
}

void SqliteRegistry::closeDatabase()
{
    for (const auto &[sql, stmt] : m_statements)
        sqlite3_finalize(stmt);
    m_statements.clear();
    sqlite3_close(m_db);
    m_db = nullptr;
}

long SqliteRegistry::fail(long error, int cause) const
{
    m_cause = cause;
    m_systemError = 0;
    return error;
}

long SqliteRegistry::failSqlite(int rc) const
{
    fail(errorOf(rc), rc);
    if (m_db && ((rc & 0xFF) == SQLITE_CANTOPEN || (rc & 0xFF) == SQLITE_IOERR))
        m_systemError = sqlite3_system_errno(m_db);
    return errorOf(rc);
}

std::string SqliteRegistry::reason(long error) const
{
    switch (m_cause) {
    case 0:
        return Registry::reason(error);
    case kCauseNameTooLong:
        return "a key name longer than 255 characters";
    case kCauseEmptyName:
        return "an empty key name";
    case kCauseDirectory:
        return "a directory, not a settings file";
    case kCauseForeign:
        return "not a settings file (another program's database, or damaged)";
    case kCauseNoFile:
        return "no settings there";
    case kCauseHasSubkeys:
        return "the key has keys below it";
    case kCauseOthers:
        return "a link or a file of another user's, which no settings file of this user's is";
    default:
        break;
    }
    const auto withSystem = [this](std::string text) {
        return m_systemError ? text + ": " + std::strerror(m_systemError) : text;
    };
    switch (m_cause & 0xFF) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return "locked by another program";
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
        return "read-only";
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
        return "damaged, or not a settings file";
    case SQLITE_FULL:
        return "the disk is full";
    case SQLITE_CANTOPEN:
        return withSystem("cannot be opened");
    case SQLITE_IOERR:
        return withSystem("a read or write failed");
    default:
        return sqlite3_errstr(m_cause);
    }
}

sqlite3_stmt *SqliteRegistry::prepared(const char *sql) const
{
    // Every registry call runs a few of a handful of statements: each is prepared once.
    if (const auto it = m_statements.find(sql); it != m_statements.end())
        return it->second;
    sqlite3_stmt *stmt = nullptr;
    if (const int rc = sqlite3_prepare_v3(m_db, sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt, nullptr);
        rc != SQLITE_OK) {
        failSqlite(rc);
        sqlite3_finalize(stmt);
        return nullptr;
    }
    m_statements.emplace(sql, stmt);
    return stmt;
}

std::string SqliteRegistry::defaultPath()
{
    if (std::string path = environment("SELVANE_REGISTRY"); !path.empty())
        return path;
    std::string config = environment("XDG_CONFIG_HOME");
    if (config.empty() || config.front() != '/')
        config = environment("HOME") + "/.config";
    return config + (demoStore() ? "/selvane/demo.sqlite3" : "/selvane/registry.sqlite3");
}

bool SqliteRegistry::open(bool create)
{
    const auto refuse = [this](int cause) {
        fail(kBadDb, cause);
        return false;
    };
    const auto refuseSqlite = [this](int rc) {
        failSqlite(rc);
        return false;
    };
    if (m_path.empty())
        return refuse(kCauseNoFile);
    const std::filesystem::path file(m_path);
    std::error_code error;
    if (std::filesystem::is_directory(file, error))
        return refuse(kCauseDirectory);
#if !defined(_WIN32)
    // In a folder others may write, a link or a file of theirs would take this user's
    // settings, or read them: only this user's own, or root's, are used.
    struct stat status
    {
    };
    const auto foreign = [&status] { return status.st_uid != ::geteuid() && status.st_uid != 0; };
    if ((::lstat(m_path.c_str(), &status) == 0 && foreign())
        || (::stat(m_path.c_str(), &status) == 0 && foreign()))
        return refuse(kCauseOthers);
#endif
    if (create && file.has_parent_path())
        std::filesystem::create_directories(file.parent_path(), error);

    const int flags = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0);
    if (const int rc = sqlite3_open_v2(m_path.c_str(), &m_db, flags, nullptr); rc != SQLITE_OK)
        return refuseSqlite(rc);
    if (sqlite3_db_readonly(m_db, "main") == 1
        && !exec(m_db, "SELECT count(*) FROM sqlite_master")) {
        // Read-only to this user, in a folder where the write-ahead log's shared memory
        // cannot be made: read as a file nobody changes meanwhile. What another copy still
        // holds in its log is not seen then.
        sqlite3_close(m_db);
        m_db = nullptr;
        if (const int rc = sqlite3_open_v2(readOnlyUri(m_path).c_str(), &m_db,
                                           SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr);
            rc != SQLITE_OK)
            return refuseSqlite(rc);
    }
    sqlite3_extended_result_codes(m_db, 1);
    sqlite3_busy_timeout(m_db, kBusyTimeoutMs);
    // Off by default, and without it the cascade to a deleted key's values does nothing.
    if (!exec(m_db, "PRAGMA foreign_keys=ON"))
        return refuseSqlite(sqlite3_errcode(m_db));

    Statement tables(prepared("SELECT name FROM sqlite_master WHERE type = 'table'"));
    if (!tables.ok())
        return false; // not a database
    std::vector<std::string> names;
    int rc = tables.step();
    for (; rc == SQLITE_ROW; rc = tables.step())
        names.push_back(tables.text(0));
    if (rc != SQLITE_DONE)
        return refuseSqlite(rc);
    if (names.empty()) {
        // A new file: the schema goes in at once, under a write lock so that two first
        // starts do not both create it.
        Transaction transaction(m_db);
        if (transaction.began() == SQLITE_OK) {
            Statement again(prepared("SELECT count(*) FROM sqlite_master WHERE type = 'table'"));
            if (again.step() == SQLITE_ROW && again.number(0) == 0 && !exec(m_db, kSchema))
                return refuseSqlite(sqlite3_errcode(m_db));
            transaction.commit();
        }
    }
    // Someone else's database, or ours damaged: it is not used, and nothing in it changes.
    {
        Statement check(prepared("SELECT k.path, v.key, v.name, v.type, v.data"
                                 " FROM registry_key AS k, registry_value AS v LIMIT 0"));
        if (!check.ok() || check.step() != SQLITE_DONE)
            return refuse(kCauseForeign);
    }
    // Ours: switched to the write-ahead log, where the file is writable.
    exec(m_db, "PRAGMA journal_mode=WAL");
    exec(m_db, "PRAGMA synchronous=NORMAL");
    return true;
}

long SqliteRegistry::path(Key key, const std::string &subKey, std::string *full) const
{
    if (key == kLocalMachine) {
        *full = std::string(kHive);
    } else {
        const auto it = m_handles.find(key);
        if (it == m_handles.end())
            return fail(kInvalidHandle);
        *full = it->second;
    }
    if (subKey.empty())
        return kSuccess;
    std::size_t start = 0;
    while (start <= subKey.size()) {
        const std::size_t end = std::min(subKey.find('\\', start), subKey.size());
        const std::size_t length = end - start;
        // The limit counts characters, as Windows does.
        if (length == 0)
            return fail(kInvalidParameter, kCauseEmptyName);
        if (characters(std::string_view(subKey).substr(start, length)) > kMaxKeyNameLength)
            return fail(kInvalidParameter, kCauseNameTooLong);
        full->push_back('\\');
        full->append(subKey, start, length);
        start = end + 1;
    }
    return kSuccess;
}

long SqliteRegistry::existing(const std::string &full, std::string *stored) const
{
    Statement select(prepared("SELECT path FROM registry_key WHERE path = ?1"));
    if (!select.ok())
        return kBadDb;
    select.bind(1, full);
    const int rc = select.step();
    if (rc == SQLITE_ROW) {
        *stored = select.text(0);
        return kSuccess;
    }
    return rc == SQLITE_DONE ? fail(kFileNotFound) : failSqlite(rc);
}

Registry::Key SqliteRegistry::newHandle(const std::string &full)
{
    const Key handle = m_nextHandle++;
    m_handles.emplace(handle, full);
    return handle;
}

void SqliteRegistry::forgetListings()
{
    m_subkeys = {};
    m_values = {};
}

long SqliteRegistry::openKey(Key parent, const std::string &subKey, std::uint32_t, Key *result)
{
    if (const long error = ready(false); error != kSuccess)
        return error;
    std::string full;
    if (const long error = path(parent, subKey, &full); error != kSuccess)
        return error;
    std::string stored;
    if (full == kHive) {
        stored = full;
    } else if (const long error = existing(full, &stored); error != kSuccess) {
        return error;
    }
    *result = newHandle(stored);
    return kSuccess;
}

long SqliteRegistry::createKey(Key parent, const std::string &subKey, Key *result)
{
    if (const long error = ready(true); error != kSuccess)
        return error;
    std::string full;
    if (const long error = path(parent, subKey, &full); error != kSuccess)
        return error;
    forgetListings();
    Transaction transaction(m_db);
    if (transaction.began() != SQLITE_OK)
        return failSqlite(transaction.began());
    // OR IGNORE keeps an existing key with its case and its values (OR REPLACE would not).
    Statement insert(prepared("INSERT OR IGNORE INTO registry_key(path) VALUES (?1)"));
    if (!insert.ok())
        return kBadDb;
    for (std::size_t end = full.find('\\');; end = full.find('\\', end + 1)) {
        insert.reset().bind(1, full.substr(0, end));
        if (const int rc = insert.step(); rc != SQLITE_DONE)
            return failSqlite(rc);
        if (end == std::string::npos)
            break;
    }
    std::string stored;
    if (const long error = existing(full, &stored); error != kSuccess)
        return error;
    if (const int rc = transaction.commit(); rc != SQLITE_OK)
        return failSqlite(rc);
    *result = newHandle(stored);
    return kSuccess;
}

long SqliteRegistry::queryValue(Key key, const std::string &name, std::uint32_t *type,
                                std::uint8_t *data, std::uint32_t *size)
{
    if (const long error = ready(false); error != kSuccess)
        return error;
    const auto it = m_handles.find(key);
    if (it == m_handles.end())
        return fail(kInvalidHandle);
    Statement select(
        prepared("SELECT type, data FROM registry_value WHERE key = ?1 AND name = ?2"));
    if (!select.ok())
        return kBadDb;
    select.bind(1, it->second).bind(2, name);
    const int rc = select.step();
    if (rc != SQLITE_ROW)
        return rc == SQLITE_DONE ? fail(kFileNotFound) : failSqlite(rc);
    const std::vector<std::uint8_t> bytes = select.blob(1);
    if (type)
        *type = static_cast<std::uint32_t>(select.number(0));
    if (!size)
        return data ? fail(kInvalidParameter) : kSuccess;
    const auto needed = static_cast<std::uint32_t>(bytes.size());
    if (data && needed > *size) {
        *size = needed;
        return fail(kMoreData);
    }
    if (data && needed > 0)
        std::memcpy(data, bytes.data(), needed);
    *size = needed;
    return kSuccess;
}

long SqliteRegistry::setValue(Key key, const std::string &name, std::uint32_t type,
                              const std::uint8_t *data, std::uint32_t size)
{
    if (const long error = ready(true); error != kSuccess)
        return error;
    const auto it = m_handles.find(key);
    if (it == m_handles.end())
        return fail(kInvalidHandle);
    if (size > 0 && !data)
        return fail(kInvalidParameter);
    forgetListings();
    // The key's row must still be there (another copy may have deleted it): the foreign key
    // then refuses the insert.
    Statement upsert(prepared("INSERT INTO registry_value(key, name, type, data)"
                              " VALUES (?1, ?2, ?3, ?4)"
                              " ON CONFLICT(key, name) DO UPDATE SET type = excluded.type,"
                              " data = excluded.data"));
    if (!upsert.ok())
        return kBadDb;
    upsert.bind(1, it->second).bind(2, name).bind(3, static_cast<std::int64_t>(type));
    upsert.bindBlob(4, data, size);
    const int rc = upsert.step();
    if (rc == SQLITE_DONE)
        return kSuccess;
    return rc == SQLITE_CONSTRAINT_FOREIGNKEY ? fail(kKeyDeleted) : failSqlite(rc);
}

long SqliteRegistry::deleteValue(Key key, const std::string &name)
{
    if (const long error = ready(false); error != kSuccess)
        return error;
    const auto it = m_handles.find(key);
    if (it == m_handles.end())
        return fail(kInvalidHandle);
    forgetListings();
    Statement remove(prepared("DELETE FROM registry_value WHERE key = ?1 AND name = ?2"));
    if (!remove.ok())
        return kBadDb;
    remove.bind(1, it->second).bind(2, name);
    if (const int rc = remove.step(); rc != SQLITE_DONE)
        return failSqlite(rc);
    return sqlite3_changes(m_db) == 1 ? kSuccess : fail(kFileNotFound);
}

long SqliteRegistry::deleteKey(Key key, const std::string &subKey)
{
    if (const long error = ready(false); error != kSuccess)
        return error;
    std::string full;
    if (const long error = path(key, subKey, &full); error != kSuccess)
        return error;
    if (full == kHive)
        return fail(kAccessDenied);
    forgetListings();
    Transaction transaction(m_db);
    if (transaction.began() != SQLITE_OK)
        return failSqlite(transaction.began());
    std::string stored;
    if (const long error = existing(full, &stored); error != kSuccess)
        return error;
    Statement children(prepared("SELECT 1 FROM registry_key WHERE path > ?1 || '\\'"
                                " AND path < ?1 || ']' LIMIT 1"));
    if (!children.ok())
        return kBadDb;
    children.bind(1, stored);
    const int found = children.step();
    if (found == SQLITE_ROW)
        return fail(kAccessDenied, kCauseHasSubkeys);
    if (found != SQLITE_DONE)
        return failSqlite(found);
    Statement remove(prepared("DELETE FROM registry_key WHERE path = ?1"));
    remove.bind(1, stored);
    if (const int rc = remove.step(); rc != SQLITE_DONE)
        return failSqlite(rc);
    if (const int rc = transaction.commit(); rc != SQLITE_OK)
        return failSqlite(rc);
    return kSuccess;
}

long SqliteRegistry::closeKey(Key key)
{
    if (key == kLocalMachine)
        return kSuccess;
    if (m_subkeys.key == key)
        m_subkeys = {};
    if (m_values.key == key)
        m_values = {};
    return m_handles.erase(key) == 1 ? kSuccess : fail(kInvalidHandle);
}

long SqliteRegistry::enumKey(Key key, std::uint32_t index, std::string *name)
{
    if (const long error = ready(false); error != kSuccess)
        return error;
    std::string full;
    if (const long error = path(key, {}, &full); error != kSuccess)
        return error;
    if (index == 0 || m_subkeys.key != key) {
        // Every path below `full` sorts between "full\" and "full]" (the letters fold to
        // lower case, after both), so the key's index finds them; of those, the direct ones.
        Statement select(prepared("SELECT substr(path, length(?1) + 2) FROM registry_key"
                                  " WHERE path > ?1 || '\\' AND path < ?1 || ']'"
                                  " AND instr(substr(path, length(?1) + 2), '\\') = 0"
                                  " ORDER BY path"));
        if (!select.ok())
            return kBadDb;
        select.bind(1, full);
        Listing listing {key, {}, {}, {}};
        int rc = select.step();
        for (; rc == SQLITE_ROW; rc = select.step())
            listing.names.push_back(select.text(0));
        if (rc != SQLITE_DONE)
            return failSqlite(rc);
        m_subkeys = std::move(listing);
    }
    if (index >= m_subkeys.names.size())
        return fail(kNoMoreItems);
    *name = m_subkeys.names[index];
    return kSuccess;
}

long SqliteRegistry::enumValue(Key key, std::uint32_t index, std::string *name, std::uint32_t *type,
                               std::vector<std::uint8_t> *data)
{
    if (const long error = ready(false); error != kSuccess)
        return error;
    const auto it = m_handles.find(key);
    if (it == m_handles.end())
        return fail(kInvalidHandle);
    if (index == 0 || m_values.key != key) {
        // rowid: the order the values were first stored in (an update keeps a value's row).
        Statement select(prepared("SELECT name, type, data FROM registry_value WHERE key = ?1"
                                  " ORDER BY rowid"));
        if (!select.ok())
            return kBadDb;
        select.bind(1, it->second);
        Listing listing {key, {}, {}, {}};
        int rc = select.step();
        for (; rc == SQLITE_ROW; rc = select.step()) {
            listing.names.push_back(select.text(0));
            listing.types.push_back(static_cast<std::uint32_t>(select.number(1)));
            listing.data.push_back(select.blob(2));
        }
        if (rc != SQLITE_DONE)
            return failSqlite(rc);
        m_values = std::move(listing);
    }
    if (index >= m_values.names.size())
        return fail(kNoMoreItems);
    *name = m_values.names[index];
    *type = m_values.types[index];
    *data = m_values.data[index];
    return kSuccess;
}

long SqliteRegistry::beginTransaction()
{
    if (const long error = ready(true); error != kSuccess)
        return error;
    forgetListings();
    // IMMEDIATE: the write lock now (waiting out other copies' short writes), so that no
    // write inside can fail busy half-way.
    const int rc = sqlite3_exec(m_db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    return rc == SQLITE_OK ? kSuccess : failSqlite(rc);
}

long SqliteRegistry::endTransaction(bool commit)
{
    if (const long error = ready(false); error != kSuccess)
        return error;
    forgetListings();
    if (sqlite3_get_autocommit(m_db) != 0)
        return fail(kInvalidHandle); // none began
    if (commit) {
        if (const int rc = sqlite3_exec(m_db, "COMMIT", nullptr, nullptr, nullptr);
            rc != SQLITE_OK) {
            exec(m_db, "ROLLBACK");
            return failSqlite(rc);
        }
        return kSuccess;
    }
    return exec(m_db, "ROLLBACK") ? kSuccess : failSqlite(sqlite3_errcode(m_db));
}
