#include "catalogue/database.h"

#include "base/error.h"

#include <chrono>
#include <sqlite3.h>
#include <thread>

namespace pelinor {

namespace {

// How long a command waits for another one's write to finish before giving up.
constexpr int kBusyMilliseconds = 30'000;

} // namespace

Database::Database(const std::string& path, const std::string& label)
    : m_label(label)
{
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX;
    const int rc = sqlite3_open_v2(path.c_str(), &m_db, flags, nullptr);
    if (rc != SQLITE_OK) {
        const std::string text = m_db ? sqlite3_errmsg(m_db) : sqlite3_errstr(rc);
        sqlite3_close(m_db);
        m_db = nullptr;
        throw Error(
            err::PathAccess, "Path/File access error: cannot open the catalogue " + label + ": " + text);
    }
    sqlite3_busy_timeout(m_db, kBusyMilliseconds);
    sqlite3_extended_result_codes(m_db, 0);
}

Database::~Database()
{
    sqlite3_close_v2(m_db);
}

void Database::fail(int code, const std::string& doing) const
{
    const std::string detail = m_db ? sqlite3_errmsg(m_db) : sqlite3_errstr(code);
    const std::string where = "the catalogue " + m_label;
    switch (code & 0xFF) {
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
        throw Error(err::BadCatalogue,
            where + " is damaged or not a catalogue (" + detail + "); it was left as it is");
    case SQLITE_FULL:
        throw Error(err::DiskFull, "Disk full: " + doing + " in " + where);
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        throw Error(err::CatalogueBusy,
            where + " is still busy with another command after " + std::to_string(kBusyMilliseconds / 1000)
                + " s (" + doing + ")");
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_CANTOPEN:
        throw Error(
            err::PermissionDenied, "Permission denied: " + doing + " in " + where + " (" + detail + ")");
    case SQLITE_NOMEM:
        throw Error(err::OutOfMemory, "Out of memory: " + doing + " in " + where);
    case SQLITE_IOERR:
        throw Error(err::DeviceIo, "Device I/O error: " + doing + " in " + where + " (" + detail + ")");
    default:
        throw Error(err::DeviceIo, "Device I/O error: " + doing + " in " + where + " (" + detail + ")");
    }
}

void Database::exec(const std::string& sql)
{
    const int rc = sqlite3_exec(m_db, sql.c_str(), nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) fail(rc, "running " + sql.substr(0, 40));
}

long long Database::lastInsertId() const
{
    return sqlite3_last_insert_rowid(m_db);
}

int Database::changes() const
{
    return sqlite3_changes(m_db);
}

void Database::begin()
{
    // The busy handler does not run for every lock a writer meets in WAL mode (a snapshot
    // that another writer moved on), so the start of a write is retried here as well.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kBusyMilliseconds);
    for (;;) {
        const int rc = sqlite3_exec(m_db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
        if (rc == SQLITE_OK) return;
        if ((rc & 0xFF) != SQLITE_BUSY || std::chrono::steady_clock::now() > deadline)
            fail(rc, "starting a change");
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

void Database::commit()
{
    const int rc = sqlite3_exec(m_db, "COMMIT", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
        rollback();
        fail(rc, "saving a change");
    }
}

void Database::rollback() noexcept
{
    if (!sqlite3_get_autocommit(m_db)) sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
}

Statement::Statement(Database& db, const char* sql)
    : m_db(db)
{
    const int rc = sqlite3_prepare_v2(db.handle(), sql, -1, &m_statement, nullptr);
    if (rc != SQLITE_OK) db.fail(rc, "reading the records");
}

Statement::~Statement()
{
    sqlite3_finalize(m_statement);
}

Statement& Statement::bind(int index, long long value)
{
    sqlite3_bind_int64(m_statement, index, value);
    return *this;
}

Statement& Statement::bind(int index, double value)
{
    sqlite3_bind_double(m_statement, index, value);
    return *this;
}

Statement& Statement::bind(int index, const std::string& text)
{
    sqlite3_bind_text(m_statement, index, text.data(), int(text.size()), SQLITE_TRANSIENT);
    return *this;
}

Statement& Statement::bind(int index, std::span<const std::uint8_t> blob)
{
    sqlite3_bind_blob(m_statement, index, blob.data(), int(blob.size()), SQLITE_TRANSIENT);
    return *this;
}

Statement& Statement::bindNull(int index)
{
    sqlite3_bind_null(m_statement, index);
    return *this;
}

Statement& Statement::bind(int index, const std::optional<double>& value)
{
    return value ? bind(index, *value) : bindNull(index);
}

bool Statement::step()
{
    const int rc = sqlite3_step(m_statement);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    sqlite3_reset(m_statement);
    m_db.fail(rc, "reading or writing the records");
}

void Statement::run()
{
    while (step()) { }
}

void Statement::reset()
{
    sqlite3_reset(m_statement);
    sqlite3_clear_bindings(m_statement);
}

bool Statement::isNull(int column) const
{
    return sqlite3_column_type(m_statement, column) == SQLITE_NULL;
}

long long Statement::integer(int column) const
{
    return sqlite3_column_int64(m_statement, column);
}

double Statement::real(int column) const
{
    return sqlite3_column_double(m_statement, column);
}

std::optional<double> Statement::optionalReal(int column) const
{
    if (isNull(column)) return std::nullopt;
    return real(column);
}

std::string Statement::text(int column) const
{
    const auto* p = sqlite3_column_text(m_statement, column);
    return p ? std::string(
               reinterpret_cast<const char*>(p), std::size_t(sqlite3_column_bytes(m_statement, column)))
             : std::string();
}

std::vector<std::uint8_t> Statement::blob(int column) const
{
    const auto* p = static_cast<const std::uint8_t*>(sqlite3_column_blob(m_statement, column));
    return p ? std::vector<std::uint8_t>(p, p + sqlite3_column_bytes(m_statement, column))
             : std::vector<std::uint8_t>();
}

} // namespace pelinor
