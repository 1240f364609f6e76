#include "catalogue/catalogue.h"

#include "base/error.h"
#include "catalogue/sha256.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace pelinor {

namespace {

namespace fs = std::filesystem;

// Each step brings the tables from one version to the next; a new file runs them all, so
// the path from the first version is the one every catalogue has taken.
const char* const kMigrations[] = {
    // 0 -> 1
    R"(
CREATE TABLE originals(
  id INTEGER PRIMARY KEY,
  path TEXT NOT NULL,
  sha256 TEXT NOT NULL UNIQUE,
  size INTEGER NOT NULL,
  format TEXT NOT NULL,
  width INTEGER NOT NULL,
  height INTEGER NOT NULL,
  fingerprint BLOB NOT NULL,
  added TEXT NOT NULL);
CREATE TABLE recipients(
  id INTEGER PRIMARY KEY,
  name TEXT NOT NULL UNIQUE,
  note TEXT NOT NULL DEFAULT '',
  added TEXT NOT NULL);
CREATE TABLE keys(
  id INTEGER PRIMARY KEY,
  original_id INTEGER NOT NULL REFERENCES originals(id) ON DELETE CASCADE,
  recipient_id INTEGER NOT NULL REFERENCES recipients(id) ON DELETE CASCADE,
  length INTEGER NOT NULL,
  alpha REAL NOT NULL,
  mean REAL NOT NULL,
  deviation REAL NOT NULL,
  seed BLOB,
  content TEXT,
  sha256 TEXT NOT NULL,
  source TEXT NOT NULL,
  created TEXT NOT NULL,
  CHECK ((seed IS NULL) <> (content IS NULL)));
CREATE TABLE marks(
  id INTEGER PRIMARY KEY,
  original_id INTEGER NOT NULL REFERENCES originals(id) ON DELETE CASCADE,
  recipient_id INTEGER NOT NULL REFERENCES recipients(id) ON DELETE CASCADE,
  key_id INTEGER NOT NULL REFERENCES keys(id) ON DELETE CASCADE,
  output TEXT NOT NULL,
  output_sha256 TEXT NOT NULL,
  psnr REAL,
  similarity REAL,
  settings TEXT NOT NULL,
  tool_version TEXT NOT NULL,
  created TEXT NOT NULL);
)",
    // 1 -> 2: a mark is recorded before its copy is written and finished after, so that an
    // interrupted command never leaves a copy nobody knows the key of; lookups by original.
    R"(
ALTER TABLE marks ADD COLUMN state TEXT NOT NULL DEFAULT 'done' CHECK (state IN ('unfinished', 'done'));
CREATE INDEX keys_by_original ON keys(original_id);
CREATE INDEX keys_by_recipient ON keys(recipient_id);
CREATE INDEX marks_by_original ON marks(original_id, recipient_id);
CREATE INDEX marks_by_key ON marks(key_id);
)",
};
static_assert(std::size(kMigrations) == kCatalogueSchema);

std::string errnoText()
{
    return std::strerror(errno);
}

int pragmaInt(Database& db, const char* sql)
{
    Statement s(db, sql);
    return s.step() ? int(s.integer(0)) : 0;
}

void setUp(Database& db)
{
    db.exec("PRAGMA foreign_keys = ON");
    // Every commit reaches the disk before the command goes on: a key whose record was lost
    // would leave a copy no one can trace.
    db.exec("PRAGMA synchronous = FULL");
}

// The first bytes of every SQLite file.
constexpr char kSqliteHeader[16] = "SQLite format 3";

// Refuses (without touching it) a file that is not an SQLite database at all.
void requireSqliteFile(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        throw Error(err::PathAccess,
            "Path/File access error: cannot read the catalogue " + path + ": " + errnoText());
    struct stat st { };
    char head[16] = {};
    const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    const ssize_t got = regular ? ::read(fd, head, sizeof head) : 0;
    ::close(fd);
    if (!regular) throw Error(err::BadCatalogue, "the catalogue " + path + " is not a regular file");
    if (got != ssize_t(sizeof head) || std::memcmp(head, kSqliteHeader, sizeof head) != 0)
        throw Error(err::BadCatalogue,
            "the catalogue " + path + " is not a Pelinor catalogue ("
                + (got == 0 ? "an empty file" : "not SQLite") + "); it was left as it is");
}

// Makes the folders of `dir` that are missing, readable by the owner only.
void makeFolders(const fs::path& dir)
{
    if (dir.empty() || fs::exists(dir)) return;
    makeFolders(dir.parent_path());
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)
        throw Error(
            err::PathNotFound, "Path not found: cannot make the folder " + dir.string() + ": " + errnoText());
}

// A new, complete catalogue is built under a temporary name and linked into place, so no
// one ever opens a half-made one, and of two commands creating it at once one wins.
bool createCatalogue(const std::string& path)
{
    const fs::path target(path);
    makeFolders(target.parent_path());
    std::string name = target.parent_path() / ".";
    name += target.filename().string();
    name += ".XXXXXX";
    const int fd = ::mkstemp(name.data()); // mode 0600
    if (fd < 0)
        throw Error(err::PathAccess,
            "Path/File access error: cannot create the catalogue " + path + ": " + errnoText());
    ::fchmod(fd, 0600);
    ::close(fd);
    struct Cleanup {
        std::string file;
        ~Cleanup()
        {
            for (const char* suffix : {"", "-wal", "-shm", "-journal"})
                ::unlink((file + suffix).c_str());
        }
    } cleanup{name};
    {
        Database db(name, path);
        db.exec("PRAGMA journal_mode = WAL");
        setUp(db);
        db.transaction([&] {
            Catalogue::migrate(db, 0, kCatalogueSchema);
            db.exec("PRAGMA application_id = " + std::to_string(Catalogue::kApplicationId));
        });
    }
    if (::link(name.c_str(), path.c_str()) == 0) return true;
    if (errno == EEXIST) return false;
    throw Error(
        err::PathAccess, "Path/File access error: cannot create the catalogue " + path + ": " + errnoText());
}

std::vector<std::uint8_t> seedBytes(const KeySeed& seed)
{
    std::vector<std::uint8_t> bytes;
    for (std::uint32_t word : seed)
        for (int i = 0; i < 4; ++i)
            bytes.push_back(std::uint8_t(word >> (8 * i)));
    return bytes;
}

KeySeed seedFrom(const std::vector<std::uint8_t>& bytes, const std::string& label)
{
    if (bytes.size() != 32) throw Error(err::BadCatalogue, "the catalogue " + label + " holds a damaged key");
    KeySeed seed{};
    for (std::size_t w = 0; w < 8; ++w)
        for (std::size_t i = 0; i < 4; ++i)
            seed[w] |= std::uint32_t(bytes[4 * w + i]) << (8 * i);
    return seed;
}

constexpr const char* kOriginalColumns = "id, path, sha256, size, format, width, height, added, fingerprint";

OriginalRecord originalFrom(const Statement& s, bool withFingerprint)
{
    OriginalRecord r;
    r.id = s.integer(0);
    r.path = s.text(1);
    r.sha256 = s.text(2);
    r.size = s.integer(3);
    r.format = s.text(4);
    r.width = int(s.integer(5));
    r.height = int(s.integer(6));
    r.added = s.text(7);
    if (withFingerprint) r.fingerprint = s.blob(8);
    return r;
}

constexpr const char* kKeyColumns
    = "id, original_id, recipient_id, length, alpha, mean, deviation, sha256, source, created";

KeyRecord keyFrom(const Statement& s)
{
    KeyRecord k;
    k.id = s.integer(0);
    k.originalId = s.integer(1);
    k.recipientId = s.integer(2);
    k.length = int(s.integer(3));
    k.alpha = s.real(4);
    k.mean = s.real(5);
    k.deviation = s.real(6);
    k.sha256 = s.text(7);
    k.source = s.text(8);
    k.created = s.text(9);
    return k;
}

} // namespace

std::string isoNow()
{
    const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm utc{};
    ::gmtime_r(&now, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

std::string Catalogue::defaultPath()
{
    if (const char* given = std::getenv("PELINOR_CATALOGUE"); given && *given) return given;
    if (const char* data = std::getenv("XDG_DATA_HOME"); data && *data == '/')
        return std::string(data) + "/pelinor/catalogue.sqlite";
    if (const char* home = std::getenv("HOME"); home && *home)
        return std::string(home) + "/.local/share/pelinor/catalogue.sqlite";
    throw Error(
        err::PathNotFound, "Path not found: no catalogue given and neither XDG_DATA_HOME nor HOME is set");
}

void Catalogue::migrate(Database& db, int from, int to)
{
    for (int v = from; v < to; ++v)
        db.exec(kMigrations[v]);
    db.exec("PRAGMA user_version = " + std::to_string(to));
}

Catalogue::Catalogue(std::string path, std::unique_ptr<Database> db, bool readableByOthers, bool created)
    : m_path(std::move(path))
    , m_db(std::move(db))
    , m_readableByOthers(readableByOthers)
    , m_created(created)
{
}

std::unique_ptr<Catalogue> Catalogue::open(const std::string& path, bool create)
{
    bool created = false;
    struct stat st { };
    if (::stat(path.c_str(), &st) != 0) {
        if (errno != ENOENT)
            throw Error(
                err::PathAccess, "Path/File access error: the catalogue " + path + ": " + errnoText());
        if (!create) throw Error(err::FileNotFound, "File not found: there is no catalogue " + path + " yet");
        created = createCatalogue(path);
        if (::stat(path.c_str(), &st) != 0)
            throw Error(
                err::PathAccess, "Path/File access error: the catalogue " + path + ": " + errnoText());
    }
    requireSqliteFile(path);
    auto db = std::make_unique<Database>(path, path);
    const auto foreign = [&](const std::string& why) {
        return Error(err::BadCatalogue, "the catalogue " + path + " " + why + "; it was left as it is");
    };
    const std::uint32_t application = std::uint32_t(pragmaInt(*db, "PRAGMA application_id"));
    if (application != kApplicationId) throw foreign("is an SQLite database of another program");
    const int version = pragmaInt(*db, "PRAGMA user_version");
    if (version > kCatalogueSchema)
        throw foreign("was written by a newer Pelinor (tables version " + std::to_string(version)
            + "; this one knows up to " + std::to_string(kCatalogueSchema) + ")");
    if (version < 1) throw foreign("has no tables");
    setUp(*db);
    if (version < kCatalogueSchema)
        db->transaction([&] {
            // Another command may have brought it up to date meanwhile.
            const int now = pragmaInt(*db, "PRAGMA user_version");
            if (now < kCatalogueSchema) migrate(*db, now, kCatalogueSchema);
        });
    const bool readable = (st.st_mode & 077) != 0;
    return std::unique_ptr<Catalogue>(new Catalogue(path, std::move(db), readable, created));
}

long long Catalogue::addOriginal(OriginalRecord& record)
{
    if (const auto existing = findOriginal(record.sha256)) {
        record.id = existing->id;
        return record.id;
    }
    if (record.added.empty()) record.added = isoNow();
    Statement s(*m_db,
        "INSERT INTO originals(path, sha256, size, format, width, height, fingerprint, added) "
        "VALUES(?, ?, ?, ?, ?, ?, ?, ?)");
    s.bind(1, record.path)
        .bind(2, record.sha256)
        .bind(3, record.size)
        .bind(4, record.format)
        .bind(5, (long long)record.width)
        .bind(6, (long long)record.height)
        .bind(7, std::span<const std::uint8_t>(record.fingerprint))
        .bind(8, record.added);
    s.run();
    record.id = m_db->lastInsertId();
    return record.id;
}

std::optional<OriginalRecord> Catalogue::findOriginal(const std::string& sha256)
{
    Statement s(
        *m_db, (std::string("SELECT ") + kOriginalColumns + " FROM originals WHERE sha256 = ?").c_str());
    s.bind(1, sha256);
    if (!s.step()) return std::nullopt;
    return originalFrom(s, true);
}

std::optional<OriginalRecord> Catalogue::original(long long id)
{
    Statement s(*m_db, (std::string("SELECT ") + kOriginalColumns + " FROM originals WHERE id = ?").c_str());
    s.bind(1, id);
    if (!s.step()) return std::nullopt;
    return originalFrom(s, true);
}

std::vector<OriginalRecord> Catalogue::originals(bool withFingerprints)
{
    Statement s(*m_db, (std::string("SELECT ") + kOriginalColumns + " FROM originals ORDER BY id").c_str());
    std::vector<OriginalRecord> out;
    while (s.step())
        out.push_back(originalFrom(s, withFingerprints));
    return out;
}

void Catalogue::forEachFingerprint(const std::function<void(long long, const std::vector<std::uint8_t>&)>& f)
{
    Statement s(*m_db, "SELECT id, fingerprint FROM originals ORDER BY id");
    while (s.step())
        f(s.integer(0), s.blob(1));
}

long long Catalogue::addRecipient(const std::string& name, const std::string& note)
{
    if (const auto existing = findRecipient(name)) {
        if (!note.empty() && note != existing->note) {
            Statement u(*m_db, "UPDATE recipients SET note = ? WHERE id = ?");
            u.bind(1, note).bind(2, existing->id).run();
        }
        return existing->id;
    }
    Statement s(*m_db, "INSERT INTO recipients(name, note, added) VALUES(?, ?, ?)");
    s.bind(1, name).bind(2, note).bind(3, isoNow()).run();
    return m_db->lastInsertId();
}

std::optional<RecipientRecord> Catalogue::findRecipient(const std::string& name)
{
    Statement s(*m_db, "SELECT id, name, note, added FROM recipients WHERE name = ?");
    s.bind(1, name);
    if (!s.step()) return std::nullopt;
    return RecipientRecord{s.integer(0), s.text(1), s.text(2), s.text(3)};
}

std::vector<RecipientRecord> Catalogue::recipients()
{
    Statement s(*m_db, "SELECT id, name, note, added FROM recipients ORDER BY name");
    std::vector<RecipientRecord> out;
    while (s.step())
        out.push_back({s.integer(0), s.text(1), s.text(2), s.text(3)});
    return out;
}

long long Catalogue::addKey(KeyRecord& record, const KeyMaterial& material)
{
    if (record.created.empty()) record.created = isoNow();
    Statement s(*m_db,
        "INSERT INTO keys(original_id, recipient_id, length, alpha, mean, deviation, seed, content, sha256, "
        "source, created) VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
    s.bind(1, record.originalId)
        .bind(2, record.recipientId)
        .bind(3, (long long)record.length)
        .bind(4, record.alpha)
        .bind(5, record.mean)
        .bind(6, record.deviation);
    if (material.seed) {
        const std::vector<std::uint8_t> bytes = seedBytes(*material.seed);
        s.bind(7, std::span<const std::uint8_t>(bytes)).bindNull(8);
    } else {
        s.bindNull(7).bind(8, material.content);
    }
    s.bind(9, record.sha256).bind(10, record.source).bind(11, record.created);
    s.run();
    record.id = m_db->lastInsertId();
    return record.id;
}

std::vector<KeyRecord> Catalogue::keysFor(long long originalId)
{
    Statement s(*m_db,
        (std::string("SELECT ") + kKeyColumns + " FROM keys WHERE original_id = ? ORDER BY id").c_str());
    s.bind(1, originalId);
    std::vector<KeyRecord> out;
    while (s.step())
        out.push_back(keyFrom(s));
    return out;
}

std::vector<KeyRecord> Catalogue::keys()
{
    Statement s(*m_db, (std::string("SELECT ") + kKeyColumns + " FROM keys ORDER BY id").c_str());
    std::vector<KeyRecord> out;
    while (s.step())
        out.push_back(keyFrom(s));
    return out;
}

std::optional<KeyRecord> Catalogue::key(long long id)
{
    Statement s(*m_db, (std::string("SELECT ") + kKeyColumns + " FROM keys WHERE id = ?").c_str());
    s.bind(1, id);
    if (!s.step()) return std::nullopt;
    return keyFrom(s);
}

Watermark Catalogue::keyWatermark(long long keyId)
{
    Statement s(*m_db, "SELECT length, alpha, mean, deviation, seed, content FROM keys WHERE id = ?");
    s.bind(1, keyId);
    if (!s.step())
        throw Error(err::InvalidCall, "the catalogue " + m_path + " has no key " + std::to_string(keyId));
    if (s.isNull(4)) {
        try {
            return parseWatermark(s.text(5));
        } catch (const Error& e) {
            throw Error(err::BadCatalogue, "the catalogue " + m_path + " holds a damaged key: " + e.what());
        }
    }
    return generateWatermark(
        seedFrom(s.blob(4), m_path), std::int32_t(s.integer(0)), s.real(1), s.real(2), s.real(3));
}

long long Catalogue::addMark(MarkRecord& record)
{
    if (record.created.empty()) record.created = isoNow();
    Statement s(*m_db,
        "INSERT INTO marks(original_id, recipient_id, key_id, output, output_sha256, psnr, similarity, "
        "settings, "
        "tool_version, created, state) VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
    s.bind(1, record.originalId)
        .bind(2, record.recipientId)
        .bind(3, record.keyId)
        .bind(4, record.output)
        .bind(5, record.outputSha256)
        .bind(6, record.psnr)
        .bind(7, record.similarity)
        .bind(8, record.settings)
        .bind(9, record.toolVersion)
        .bind(10, record.created)
        .bind(11, std::string(record.finished ? "done" : "unfinished"));
    s.run();
    record.id = m_db->lastInsertId();
    return record.id;
}

void Catalogue::finishMark(long long id, const std::string& outputSha256, double psnr, double similarity)
{
    Statement s(
        *m_db, "UPDATE marks SET output_sha256 = ?, psnr = ?, similarity = ?, state = 'done' WHERE id = ?");
    s.bind(1, outputSha256).bind(2, psnr).bind(3, similarity).bind(4, id).run();
}

void Catalogue::dropUnfinishedMark(long long id)
{
    Statement find(*m_db, "SELECT key_id FROM marks WHERE id = ? AND state = 'unfinished'");
    find.bind(1, id);
    if (!find.step()) return;
    const long long keyId = find.integer(0);
    Statement drop(*m_db, "DELETE FROM marks WHERE id = ?");
    drop.bind(1, id).run();
    Statement dropKey(
        *m_db, "DELETE FROM keys WHERE id = ? AND NOT EXISTS (SELECT 1 FROM marks WHERE key_id = ?)");
    dropKey.bind(1, keyId).bind(2, keyId).run();
}

std::vector<MarkView> Catalogue::markViews(const char* where, long long value)
{
    std::string sql
        = "SELECT m.id, m.original_id, m.recipient_id, m.key_id, m.output, m.output_sha256, m.psnr, "
          "m.similarity, m.settings, m.tool_version, m.created, m.state, r.name, o.path "
          "FROM marks m JOIN recipients r ON r.id = m.recipient_id JOIN originals o ON o.id = m.original_id";
    if (where) sql += std::string(" WHERE ") + where;
    sql += " ORDER BY m.id";
    Statement s(*m_db, sql.c_str());
    if (where) s.bind(1, value);
    std::vector<MarkView> out;
    while (s.step()) {
        MarkView v;
        MarkRecord& m = v.mark;
        m.id = s.integer(0);
        m.originalId = s.integer(1);
        m.recipientId = s.integer(2);
        m.keyId = s.integer(3);
        m.output = s.text(4);
        m.outputSha256 = s.text(5);
        m.psnr = s.optionalReal(6);
        m.similarity = s.optionalReal(7);
        m.settings = s.text(8);
        m.toolVersion = s.text(9);
        m.created = s.text(10);
        m.finished = s.text(11) == "done";
        v.recipient = s.text(12);
        v.originalPath = s.text(13);
        out.push_back(std::move(v));
    }
    return out;
}

std::vector<MarkView> Catalogue::marks()
{
    return markViews(nullptr, 0);
}

std::vector<MarkView> Catalogue::marksFor(long long originalId)
{
    return markViews("m.original_id = ?", originalId);
}

std::vector<MarkView> Catalogue::marksOf(long long recipientId)
{
    return markViews("m.recipient_id = ?", recipientId);
}

std::optional<MarkView> Catalogue::markByOutput(const std::string& sha256)
{
    std::string sql = "SELECT id FROM marks WHERE output_sha256 = ? AND state = 'done' ORDER BY id DESC";
    Statement s(*m_db, sql.c_str());
    s.bind(1, sha256);
    if (!s.step()) return std::nullopt;
    std::vector<MarkView> found = markViews("m.id = ?", s.integer(0));
    if (found.empty()) return std::nullopt;
    return found.front();
}

std::optional<MarkView> Catalogue::markForKey(long long keyId)
{
    std::vector<MarkView> found = markViews("m.key_id = ?", keyId);
    if (found.empty()) return std::nullopt;
    return found.back();
}

std::optional<RemovedCounts> Catalogue::removeRecipient(const std::string& name)
{
    const auto recipient = findRecipient(name);
    if (!recipient) return std::nullopt;
    RemovedCounts counts;
    Statement k(*m_db,
        "SELECT (SELECT count(*) FROM keys WHERE recipient_id = ?1), "
        "(SELECT count(*) FROM marks WHERE recipient_id = ?1)");
    k.bind(1, recipient->id);
    if (k.step()) {
        counts.keys = k.integer(0);
        counts.marks = k.integer(1);
    }
    Statement d(*m_db, "DELETE FROM recipients WHERE id = ?");
    d.bind(1, recipient->id).run();
    return counts;
}

std::vector<std::string> Catalogue::integrityProblems()
{
    std::vector<std::string> problems;
    Statement s(*m_db, "PRAGMA integrity_check");
    while (s.step())
        if (s.text(0) != "ok") problems.push_back(s.text(0));
    Statement f(*m_db, "PRAGMA foreign_key_check");
    while (f.step())
        problems.push_back("a record in " + f.text(0) + " refers to a missing one in " + f.text(2));
    return problems;
}

} // namespace pelinor
