#include "store/Sqlite.h"

#include "common/Exception.h"

#include <sqlite3.h>

#include <cmath>
#include <limits>

namespace zyl::sql {

namespace {

[[noreturn]] void fail(sqlite3* db, int code)
{
    throw Exception(db ? sqlite3_errmsg(db) : sqlite3_errstr(code));
}

} // namespace

Database::Database(const std::string& path, int flags)
{
    const int code = sqlite3_open_v2(path.c_str(), &m_db, flags, nullptr);
    if (code != SQLITE_OK) {
        const std::string message = m_db ? sqlite3_errmsg(m_db) : sqlite3_errstr(code);
        close();
        throw Exception(message);
    }
    sqlite3_extended_result_codes(m_db, 1);
}

Database& Database::operator=(Database&& other) noexcept
{
    if (this != &other) {
        close();
        m_db = other.m_db;
        other.m_db = nullptr;
    }
    return *this;
}

void Database::close()
{
    if (m_db) {
        sqlite3_close_v2(m_db);
        m_db = nullptr;
    }
}

void Database::exec(const char* sql)
{
    char* error = nullptr;
    if (sqlite3_exec(m_db, sql, nullptr, nullptr, &error) != SQLITE_OK) {
        const std::string message = error ? error : sqlite3_errmsg(m_db);
        sqlite3_free(error);
        throw Exception(message);
    }
}

std::string Database::queryText(const char* sql)
{
    Statement statement(*this, sql);
    return statement.step() ? statement.columnText(0) : std::string();
}

std::int64_t Database::queryInt(const char* sql)
{
    Statement statement(*this, sql);
    return statement.step() ? statement.columnInt(0) : 0;
}

std::string Database::errorMessage() const
{
    return m_db ? sqlite3_errmsg(m_db) : "";
}

Statement::Statement(Database& db, const char* sql)
{
    if (sqlite3_prepare_v2(db.handle(), sql, -1, &m_stmt, nullptr) != SQLITE_OK)
        fail(db.handle(), 0);
}

Statement& Statement::operator=(Statement&& other) noexcept
{
    if (this != &other) {
        sqlite3_finalize(m_stmt);
        m_stmt = other.m_stmt;
        other.m_stmt = nullptr;
    }
    return *this;
}

Statement::~Statement()
{
    sqlite3_finalize(m_stmt);
}

Statement& Statement::bind(int index, std::int64_t value)
{
    if (sqlite3_bind_int64(m_stmt, index, value) != SQLITE_OK)
        fail(sqlite3_db_handle(m_stmt), 0);
    return *this;
}

Statement& Statement::bind(int index, double value)
{
    if (std::isnan(value))
        return bindNull(index);
    if (sqlite3_bind_double(m_stmt, index, value) != SQLITE_OK)
        fail(sqlite3_db_handle(m_stmt), 0);
    return *this;
}

Statement& Statement::bindText(int index, std::string_view text)
{
    if (sqlite3_bind_text64(m_stmt, index, text.data(), text.size(), SQLITE_TRANSIENT,
                            SQLITE_UTF8) != SQLITE_OK)
        fail(sqlite3_db_handle(m_stmt), 0);
    return *this;
}

Statement& Statement::bindBlob(int index, std::string_view bytes)
{
    // A zero-length blob still has to be a BLOB, not NULL: give SQLite a valid pointer.
    static const char empty = 0;
    if (sqlite3_bind_blob64(m_stmt, index, bytes.empty() ? &empty : bytes.data(), bytes.size(),
                            SQLITE_TRANSIENT) != SQLITE_OK)
        fail(sqlite3_db_handle(m_stmt), 0);
    return *this;
}

Statement& Statement::bindNull(int index)
{
    if (sqlite3_bind_null(m_stmt, index) != SQLITE_OK)
        fail(sqlite3_db_handle(m_stmt), 0);
    return *this;
}

bool Statement::step()
{
    const int code = sqlite3_step(m_stmt);
    if (code == SQLITE_ROW)
        return true;
    if (code == SQLITE_DONE)
        return false;
    // The message before the reset, which may replace it.
    const std::string message = sqlite3_errmsg(sqlite3_db_handle(m_stmt));
    sqlite3_reset(m_stmt);
    throw Exception(message);
}

void Statement::reset()
{
    sqlite3_reset(m_stmt);
}

void Statement::run()
{
    step();
    reset();
}

bool Statement::isNull(int column) const
{
    return sqlite3_column_type(m_stmt, column) == SQLITE_NULL;
}

std::int64_t Statement::columnInt(int column) const
{
    if (sqlite3_column_type(m_stmt, column) != SQLITE_INTEGER)
        throw Exception("a whole-number field holds something else");
    return sqlite3_column_int64(m_stmt, column);
}

double Statement::columnReal(int column) const
{
    switch (sqlite3_column_type(m_stmt, column)) {
    case SQLITE_NULL:
        return std::numeric_limits<double>::quiet_NaN();
    case SQLITE_INTEGER:
    case SQLITE_FLOAT:
        return sqlite3_column_double(m_stmt, column);
    default:
        throw Exception("a number field holds something else");
    }
}

std::string Statement::columnText(int column) const
{
    const unsigned char* text = sqlite3_column_text(m_stmt, column);
    const int size = sqlite3_column_bytes(m_stmt, column);
    return text ? std::string(reinterpret_cast<const char*>(text), size) : std::string();
}

std::string_view Statement::columnBlob(int column) const
{
    if (sqlite3_column_type(m_stmt, column) != SQLITE_BLOB)
        throw Exception("a binary field holds something else");
    const void* data = sqlite3_column_blob(m_stmt, column);
    const int size = sqlite3_column_bytes(m_stmt, column);
    return data ? std::string_view(static_cast<const char*>(data), size) : std::string_view();
}

Transaction::Transaction(Database& db, bool immediate) : m_db(db)
{
    m_db.exec(immediate ? "BEGIN IMMEDIATE" : "BEGIN");
}

Transaction::~Transaction()
{
    if (m_open) {
        try {
            m_db.exec("ROLLBACK");
        } catch (...) {
            // A failed commit may already have ended the transaction; nothing is left to undo.
        }
    }
}

void Transaction::commit()
{
    m_db.exec("COMMIT");
    m_open = false;
}

} // namespace zyl::sql
