// SPDX-License-Identifier: MIT
#include "SqliteRegistry.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <utility>
#include <vector>

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

/** One use of a cached prepared statement, reset and unbound again on every path. */
class Statement
{
public:
    explicit Statement(sqlite3_stmt *stmt)
        : m_stmt(stmt)
    { }
    ~Statement()
    {
        if (m_stmt) {
            sqlite3_reset(m_stmt);
            sqlite3_clear_bindings(m_stmt);
        }
    }
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;

    bool ok() const { return m_stmt != nullptr; }
    Statement &reset()
    {
        sqlite3_reset(m_stmt);
        return *this;
    }
    Statement &bind(int index, const std::string &text)
    {
        sqlite3_bind_text(m_stmt, index, text.data(), static_cast<int>(text.size()),
                          SQLITE_TRANSIENT);
        return *this;
    }
    Statement &bind(int index, std::int64_t number)
    {
        sqlite3_bind_int64(m_stmt, index, number);
        return *this;
    }
    Statement &bindBlob(int index, const std::uint8_t *data, std::uint32_t size)
    {
        // A null pointer would bind NULL; an empty value is a zero-length blob.
        if (size == 0)
            sqlite3_bind_zeroblob(m_stmt, index, 0);
        else
            sqlite3_bind_blob(m_stmt, index, data, static_cast<int>(size), SQLITE_TRANSIENT);
        return *this;
    }
    int step() { return m_stmt ? sqlite3_step(m_stmt) : SQLITE_ERROR; }
    std::string text(int column) const
    {
        const auto *chars = sqlite3_column_text(m_stmt, column);
        return chars ? std::string(reinterpret_cast<const char *>(chars),
                                   static_cast<std::size_t>(sqlite3_column_bytes(m_stmt, column)))
                     : std::string();
    }
    std::int64_t number(int column) const { return sqlite3_column_int64(m_stmt, column); }
    std::vector<std::uint8_t> blob(int column) const
    {
        const auto *bytes = static_cast<const std::uint8_t *>(sqlite3_column_blob(m_stmt, column));
        const int size = sqlite3_column_bytes(m_stmt, column);
        if (!bytes || size <= 0)
            return {};
        return {bytes, bytes + size};
    }

private:
    sqlite3_stmt *m_stmt = nullptr;
};

bool exec(sqlite3 *db, const char *sql)
{
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

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

/** BEGIN IMMEDIATE ... COMMIT, rolled back unless committed. Inside a transaction the
    caller began, it is part of that one and does nothing itself. */
class Transaction
{
public:
    explicit Transaction(sqlite3 *db)
        : m_db(db)
        , m_done(sqlite3_get_autocommit(db) == 0)
    {
        if (!m_done)
            m_rc = sqlite3_exec(m_db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    }
    ~Transaction()
    {
        if (m_rc == SQLITE_OK && !m_done)
            exec(m_db, "ROLLBACK");
    }
    Transaction(const Transaction &) = delete;
    Transaction &operator=(const Transaction &) = delete;

    int began() const { return m_rc; }
    int commit()
    {
        if (m_done)
            return SQLITE_OK;
        m_done = true;
        const int rc = sqlite3_exec(m_db, "COMMIT", nullptr, nullptr, nullptr);
        if (rc != SQLITE_OK)
            exec(m_db, "ROLLBACK");
        return rc;
    }

private:
    sqlite3 *m_db;
    bool m_done;
    int m_rc = SQLITE_OK;
};

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

SqliteRegistry::SqliteRegistry(std::string path)
    : m_path(std::move(path))
{ }

bool SqliteRegistry::ready()
{
    // Opened by the first call, so that a run that never uses its settings makes no file.
    if (!m_tried) {
        m_tried = true;
        if (!open(m_path))
            closeDatabase();
    }
    return m_db != nullptr;
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

sqlite3_stmt *SqliteRegistry::prepared(const char *sql) const
{
    // Every registry call runs a few of a handful of statements: each is prepared once.
    if (const auto it = m_statements.find(sql); it != m_statements.end())
        return it->second;
    sqlite3_stmt *stmt = nullptr;
    if (sqlite3_prepare_v3(m_db, sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt, nullptr) != SQLITE_OK) {
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
    return config + "/selvane/registry.sqlite3";
}

bool SqliteRegistry::open(const std::string &path)
{
    if (path.empty())
        return false;
    const std::filesystem::path file(path);
    std::error_code error;
    if (file.has_parent_path())
        std::filesystem::create_directories(file.parent_path(), error);
    if (std::filesystem::is_directory(file, error))
        return false;

    if (sqlite3_open_v2(path.c_str(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr)
        != SQLITE_OK)
        return false;
    if (sqlite3_db_readonly(m_db, "main") == 1) {
        // Read-only to this user, perhaps in a folder where the write-ahead log's shared
        // memory cannot be made: read as a file nobody changes meanwhile.
        sqlite3_close(m_db);
        m_db = nullptr;
        if (sqlite3_open_v2(readOnlyUri(path).c_str(), &m_db,
                            SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr)
            != SQLITE_OK)
            return false;
    }
    sqlite3_extended_result_codes(m_db, 1);
    sqlite3_busy_timeout(m_db, kBusyTimeoutMs);
    // Off by default, and without it the cascade to a deleted key's values does nothing.
    if (!exec(m_db, "PRAGMA foreign_keys=ON"))
        return false;

    Statement tables(prepared("SELECT name FROM sqlite_master WHERE type = 'table'"));
    if (!tables.ok())
        return false; // not a database
    std::vector<std::string> names;
    for (int rc = tables.step(); rc == SQLITE_ROW; rc = tables.step())
        names.push_back(tables.text(0));
    if (names.empty()) {
        // A new file: the schema goes in at once, under a write lock so that two first
        // starts do not both create it.
        Transaction transaction(m_db);
        if (transaction.began() == SQLITE_OK) {
            Statement again(prepared("SELECT count(*) FROM sqlite_master WHERE type = 'table'"));
            if (again.step() == SQLITE_ROW && again.number(0) == 0 && !exec(m_db, kSchema))
                return false;
            transaction.commit();
        }
    }
    // Someone else's database, or ours damaged: it is not used, and nothing in it changes.
    {
        Statement check(prepared("SELECT k.path, v.key, v.name, v.type, v.data"
                                 " FROM registry_key AS k, registry_value AS v LIMIT 0"));
        if (!check.ok() || check.step() != SQLITE_DONE)
            return false;
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
            return kInvalidHandle;
        *full = it->second;
    }
    if (subKey.empty())
        return kSuccess;
    std::size_t start = 0;
    while (start <= subKey.size()) {
        const std::size_t end = std::min(subKey.find('\\', start), subKey.size());
        const std::size_t length = end - start;
        // The limit counts characters, as Windows does: UTF-8 continuation bytes are not one.
        const auto characters = std::count_if(subKey.begin() + std::ptrdiff_t(start),
                                              subKey.begin() + std::ptrdiff_t(end),
                                              [](char c) { return (c & 0xC0) != 0x80; });
        if (length == 0 || std::size_t(characters) > kMaxKeyNameLength)
            return kInvalidParameter;
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
    return rc == SQLITE_DONE ? kFileNotFound : errorOf(rc);
}

Registry::Key SqliteRegistry::newHandle(const std::string &full)
{
    const Key handle = m_nextHandle++;
    m_handles.emplace(handle, full);
    return handle;
}

long SqliteRegistry::openKey(Key parent, const std::string &subKey, std::uint32_t, Key *result)
{
    if (!ready())
        return kBadDb;
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
    if (!ready())
        return kBadDb;
    std::string full;
    if (const long error = path(parent, subKey, &full); error != kSuccess)
        return error;
    Transaction transaction(m_db);
    if (transaction.began() != SQLITE_OK)
        return errorOf(transaction.began());
    // OR IGNORE keeps an existing key with its case and its values (OR REPLACE would not).
    Statement insert(prepared("INSERT OR IGNORE INTO registry_key(path) VALUES (?1)"));
    if (!insert.ok())
        return kBadDb;
    for (std::size_t end = full.find('\\');; end = full.find('\\', end + 1)) {
        insert.reset().bind(1, full.substr(0, end));
        if (const int rc = insert.step(); rc != SQLITE_DONE)
            return errorOf(rc);
        if (end == std::string::npos)
            break;
    }
    std::string stored;
    if (const long error = existing(full, &stored); error != kSuccess)
        return error;
    if (const int rc = transaction.commit(); rc != SQLITE_OK)
        return errorOf(rc);
    *result = newHandle(stored);
    return kSuccess;
}

long SqliteRegistry::queryValue(Key key, const std::string &name, std::uint32_t *type,
                                std::uint8_t *data, std::uint32_t *size)
{
    if (!ready())
        return kBadDb;
    const auto it = m_handles.find(key);
    if (it == m_handles.end())
        return kInvalidHandle;
    Statement select(
        prepared("SELECT type, data FROM registry_value WHERE key = ?1 AND name = ?2"));
    if (!select.ok())
        return kBadDb;
    select.bind(1, it->second).bind(2, name);
    const int rc = select.step();
    if (rc != SQLITE_ROW)
        return rc == SQLITE_DONE ? kFileNotFound : errorOf(rc);
    const std::vector<std::uint8_t> bytes = select.blob(1);
    if (type)
        *type = static_cast<std::uint32_t>(select.number(0));
    if (!size)
        return data ? kInvalidParameter : kSuccess;
    const auto needed = static_cast<std::uint32_t>(bytes.size());
    if (data && needed > *size) {
        *size = needed;
        return kMoreData;
    }
    if (data && needed > 0)
        std::memcpy(data, bytes.data(), needed);
    *size = needed;
    return kSuccess;
}

long SqliteRegistry::setValue(Key key, const std::string &name, std::uint32_t type,
                              const std::uint8_t *data, std::uint32_t size)
{
    if (!ready())
        return kBadDb;
    const auto it = m_handles.find(key);
    if (it == m_handles.end())
        return kInvalidHandle;
    if (size > 0 && !data)
        return kInvalidParameter;
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
    return rc == SQLITE_CONSTRAINT_FOREIGNKEY ? kKeyDeleted : errorOf(rc);
}

long SqliteRegistry::deleteKey(Key key, const std::string &subKey)
{
    if (!ready())
        return kBadDb;
    std::string full;
    if (const long error = path(key, subKey, &full); error != kSuccess)
        return error;
    if (full == kHive)
        return kAccessDenied;
    Transaction transaction(m_db);
    if (transaction.began() != SQLITE_OK)
        return errorOf(transaction.began());
    std::string stored;
    if (const long error = existing(full, &stored); error != kSuccess)
        return error;
    Statement children(prepared("SELECT 1 FROM registry_key WHERE length(path) > length(?1)"
                                " AND substr(path, 1, length(?1)) = ?1 COLLATE NOCASE LIMIT 1"));
    if (!children.ok())
        return kBadDb;
    children.bind(1, stored + '\\');
    const int found = children.step();
    if (found == SQLITE_ROW)
        return kAccessDenied;
    if (found != SQLITE_DONE)
        return errorOf(found);
    Statement remove(prepared("DELETE FROM registry_key WHERE path = ?1"));
    remove.bind(1, stored);
    if (const int rc = remove.step(); rc != SQLITE_DONE)
        return errorOf(rc);
    if (const int rc = transaction.commit(); rc != SQLITE_OK)
        return errorOf(rc);
    return kSuccess;
}

long SqliteRegistry::closeKey(Key key)
{
    if (key == kLocalMachine)
        return kSuccess;
    return m_handles.erase(key) == 1 ? kSuccess : kInvalidHandle;
}

long SqliteRegistry::enumKey(Key key, std::uint32_t index, std::string *name)
{
    if (!ready())
        return kBadDb;
    std::string full;
    if (const long error = path(key, {}, &full); error != kSuccess)
        return error;
    Statement select(prepared("SELECT substr(path, length(?1) + 2) FROM registry_key"
                              " WHERE length(path) > length(?1) + 1"
                              " AND substr(path, 1, length(?1) + 1) = (?1 || '\\') COLLATE NOCASE"
                              " AND instr(substr(path, length(?1) + 2), '\\') = 0"
                              " ORDER BY path LIMIT 1 OFFSET ?2"));
    if (!select.ok())
        return kBadDb;
    select.bind(1, full).bind(2, static_cast<std::int64_t>(index));
    const int rc = select.step();
    if (rc != SQLITE_ROW)
        return rc == SQLITE_DONE ? kNoMoreItems : errorOf(rc);
    *name = select.text(0);
    return kSuccess;
}

long SqliteRegistry::enumValue(Key key, std::uint32_t index, std::string *name, std::uint32_t *type,
                               std::vector<std::uint8_t> *data)
{
    if (!ready())
        return kBadDb;
    const auto it = m_handles.find(key);
    if (it == m_handles.end())
        return kInvalidHandle;
    // rowid: the order the values were first stored in (an update keeps a value's row).
    Statement select(prepared("SELECT name, type, data FROM registry_value WHERE key = ?1"
                              " ORDER BY rowid LIMIT 1 OFFSET ?2"));
    if (!select.ok())
        return kBadDb;
    select.bind(1, it->second).bind(2, static_cast<std::int64_t>(index));
    const int rc = select.step();
    if (rc != SQLITE_ROW)
        return rc == SQLITE_DONE ? kNoMoreItems : errorOf(rc);
    *name = select.text(0);
    *type = static_cast<std::uint32_t>(select.number(1));
    *data = select.blob(2);
    return kSuccess;
}

long SqliteRegistry::beginTransaction()
{
    if (!ready())
        return kBadDb;
    // IMMEDIATE: the write lock now (waiting out other copies' short writes), so that no
    // write inside can fail busy half-way.
    const int rc = sqlite3_exec(m_db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    return rc == SQLITE_OK ? kSuccess : errorOf(rc);
}

long SqliteRegistry::endTransaction(bool commit)
{
    if (!ready())
        return kBadDb;
    if (sqlite3_get_autocommit(m_db) != 0)
        return kInvalidHandle; // none began
    if (commit) {
        if (const int rc = sqlite3_exec(m_db, "COMMIT", nullptr, nullptr, nullptr);
            rc != SQLITE_OK) {
            exec(m_db, "ROLLBACK");
            return errorOf(rc);
        }
        return kSuccess;
    }
    return exec(m_db, "ROLLBACK") ? kSuccess : kBadDb;
}
