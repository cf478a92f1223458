// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace sqlite {

/** Runs `sql` (statements without results); true when every one of them succeeded. */
bool exec(sqlite3 *db, const char *sql);

/** One use of a cached prepared statement, reset and unbound again on every path. */
class Statement
{
public:
    explicit Statement(sqlite3_stmt *stmt)
        : m_stmt(stmt)
    { }
    ~Statement();
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;

    bool ok() const { return m_stmt != nullptr; }
    Statement &reset();
    Statement &bind(int index, const std::string &text);
    Statement &bind(int index, std::int64_t number);
    /** An empty value binds as a zero-length blob, never as NULL. */
    Statement &bindBlob(int index, const std::uint8_t *data, std::uint32_t size);
    /** SQLITE_ROW, SQLITE_DONE or the error; SQLITE_ERROR for a statement that failed to
        prepare. */
    int step();
    std::string text(int column) const;
    std::int64_t number(int column) const;
    std::vector<std::uint8_t> blob(int column) const;

private:
    sqlite3_stmt *m_stmt = nullptr;
};

/** BEGIN IMMEDIATE ... COMMIT, rolled back unless committed. Inside a transaction the
    caller began, it is part of that one and does nothing itself. */
class Transaction
{
public:
    explicit Transaction(sqlite3 *db);
    ~Transaction();
    Transaction(const Transaction &) = delete;
    Transaction &operator=(const Transaction &) = delete;

    /** SQLite's result of the BEGIN. */
    int began() const { return m_rc; }
    /** SQLite's result of the COMMIT; a failed one is rolled back. */
    int commit();

private:
    sqlite3 *m_db;
    bool m_done;
    int m_rc = 0;
};

} // namespace sqlite
