// SPDX-License-Identifier: MIT
#include "SqliteStatement.h"

#include <sqlite3.h>

namespace sqlite {

bool exec(sqlite3 *db, const char *sql)
{
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

Statement::~Statement()
{
    if (m_stmt) {
        sqlite3_reset(m_stmt);
        sqlite3_clear_bindings(m_stmt);
    }
}

Statement &Statement::reset()
{
    sqlite3_reset(m_stmt);
    return *this;
}

Statement &Statement::bind(int index, const std::string &text)
{
    sqlite3_bind_text(m_stmt, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    return *this;
}

Statement &Statement::bind(int index, std::int64_t number)
{
    sqlite3_bind_int64(m_stmt, index, number);
    return *this;
}

Statement &Statement::bindBlob(int index, const std::uint8_t *data, std::uint32_t size)
{
    // A null pointer would bind NULL.
    if (size == 0)
        sqlite3_bind_zeroblob(m_stmt, index, 0);
    else
        sqlite3_bind_blob(m_stmt, index, data, static_cast<int>(size), SQLITE_TRANSIENT);
    return *this;
}

int Statement::step()
{
    return m_stmt ? sqlite3_step(m_stmt) : SQLITE_ERROR;
}

std::string Statement::text(int column) const
{
    const auto *chars = sqlite3_column_text(m_stmt, column);
    return chars ? std::string(reinterpret_cast<const char *>(chars),
                               static_cast<std::size_t>(sqlite3_column_bytes(m_stmt, column)))
                 : std::string();
}

std::int64_t Statement::number(int column) const
{
    return sqlite3_column_int64(m_stmt, column);
}

std::vector<std::uint8_t> Statement::blob(int column) const
{
    // An empty blob comes back as a null pointer.
    const auto *bytes = static_cast<const std::uint8_t *>(sqlite3_column_blob(m_stmt, column));
    const int size = sqlite3_column_bytes(m_stmt, column);
    if (!bytes || size <= 0)
        return {};
    return {bytes, bytes + size};
}

Transaction::Transaction(sqlite3 *db)
    : m_db(db)
    , m_done(sqlite3_get_autocommit(db) == 0)
{
    if (!m_done)
        m_rc = sqlite3_exec(m_db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
}

Transaction::~Transaction()
{
    if (m_rc == SQLITE_OK && !m_done)
        exec(m_db, "ROLLBACK");
}

int Transaction::commit()
{
    if (m_done)
        return SQLITE_OK;
    m_done = true;
    const int rc = sqlite3_exec(m_db, "COMMIT", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK)
        exec(m_db, "ROLLBACK");
    return rc;
}

} // namespace sqlite
