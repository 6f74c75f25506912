#pragma once

// A thin owner of SQLite's C handles: a connection and prepared statements that close
// themselves, and every failure turned into an Exception carrying SQLite's own message.

#include <cstdint>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

namespace zyl::sql {

/// One connection. Move-only; closing waits for nothing (statements must be gone first,
/// which their owners' lifetimes ensure).
class Database {
public:
    Database() = default;
    /// \throws Exception "<SQLite's message>" when the file cannot be opened. `flags` are
    /// SQLite's open flags.
    Database(const std::string& path, int flags);
    Database(Database&& other) noexcept : m_db(other.m_db) { other.m_db = nullptr; }
    Database& operator=(Database&& other) noexcept;
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;
    ~Database() { close(); }

    bool isOpen() const { return m_db != nullptr; }
    sqlite3* handle() const { return m_db; }
    void close();

    /// Runs SQL text of one or more statements that return no rows of interest.
    /// \throws Exception with SQLite's message.
    void exec(const char* sql);
    /// The single value of a one-row query, as text ("" for NULL).
    std::string queryText(const char* sql);
    std::int64_t queryInt(const char* sql);
    std::string errorMessage() const;

private:
    sqlite3* m_db = nullptr;
};

/// One prepared statement, reused with reset().
class Statement {
public:
    Statement() = default;
    /// \throws Exception with SQLite's message when the text does not compile (for a store,
    /// a sign of a missing table or column).
    Statement(Database& db, const char* sql);
    Statement(Statement&& other) noexcept : m_stmt(other.m_stmt) { other.m_stmt = nullptr; }
    Statement& operator=(Statement&& other) noexcept;
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    ~Statement();

    // Parameters count from 1, as in SQLite.
    Statement& bind(int index, std::int64_t value);
    Statement& bind(int index, int value) { return bind(index, static_cast<std::int64_t>(value)); }
    /// A NaN is stored as NULL (SQLite has no NaN); columnReal reads NULL back as NaN.
    Statement& bind(int index, double value);
    Statement& bindText(int index, std::string_view text);
    Statement& bindBlob(int index, std::string_view bytes);
    Statement& bindNull(int index);

    /// Advances: true when a row is ready, false when the statement is done.
    /// \throws Exception with SQLite's message.
    bool step();
    /// Ready for the next use; the bindings are kept until rebound.
    void reset();
    /// Runs a statement that returns no row, then resets it.
    void run();

    bool isNull(int column) const;
    /// A whole number. \throws Exception when the column holds anything else (NULL, text,
    /// a real), which in a store means damage: SQLite would read text as 0.
    std::int64_t columnInt(int column) const;
    /// A number; NULL reads as NaN. \throws Exception for text or bytes.
    double columnReal(int column) const;
    std::string columnText(int column) const;
    /// The bytes of a BLOB column; \throws Exception when the column holds another type,
    /// which in a store means damage.
    std::string_view columnBlob(int column) const;

private:
    sqlite3_stmt* m_stmt = nullptr;
};

/// BEGIN ... COMMIT, rolled back when left by an exception.
class Transaction {
public:
    explicit Transaction(Database& db, bool immediate = true);
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    ~Transaction();
    void commit();

private:
    Database& m_db;
    bool m_open = true;
};

} // namespace zyl::sql
