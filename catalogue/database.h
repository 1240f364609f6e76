// A thin RAII layer over SQLite: one connection, prepared statements, and write
// transactions that wait for other writers instead of failing.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace pelinor {

class Database;

// One prepared statement. Parameters are numbered from 1, columns from 0.
class Statement {
public:
    Statement(Database& db, const char* sql);
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    Statement& bind(int index, long long value);
    Statement& bind(int index, double value);
    Statement& bind(int index, const std::string& text);
    Statement& bind(int index, std::span<const std::uint8_t> blob);
    Statement& bindNull(int index);
    Statement& bind(int index, const std::optional<double>& value);

    // The next row: true while there is one.
    bool step();
    // Runs a statement that returns no rows.
    void run();
    void reset();

    bool isNull(int column) const;
    long long integer(int column) const;
    double real(int column) const;
    std::optional<double> optionalReal(int column) const;
    std::string text(int column) const;
    std::vector<std::uint8_t> blob(int column) const;

private:
    Database& m_db;
    sqlite3_stmt* m_statement = nullptr;
};

class Database {
public:
    // Opens an existing file read-write (never creates one; that is the caller's business).
    // `label` names the file in every error.
    Database(const std::string& path, const std::string& label);
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    void exec(const std::string& sql);
    long long lastInsertId() const;
    int changes() const;
    sqlite3* handle() noexcept { return m_db; }
    const std::string& label() const noexcept { return m_label; }

    // An error for SQLite's result code: damage and foreign files as err::BadCatalogue,
    // a full disk, a lock held too long and the rest each as what they are.
    [[noreturn]] void fail(int code, const std::string& doing) const;

    // Runs body inside BEGIN IMMEDIATE ... COMMIT, waiting for other writers (busy timeout
    // and retries); a body that throws rolls everything back.
    template <class F> void transaction(F&& body)
    {
        begin();
        try {
            body();
        } catch (...) {
            rollback();
            throw;
        }
        commit();
    }

private:
    void begin();
    void commit();
    void rollback() noexcept;
    sqlite3* m_db = nullptr;
    std::string m_label;
};

} // namespace pelinor
