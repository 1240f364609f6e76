// The catalogue: one SQLite file recording the originals, the recipients, the key made
// for each recipient of each original, and every marked copy written. It holds keys, which
// are secrets: it is created readable by its owner only.
#pragma once

#include "catalogue/database.h"
#include "watermark/generator.h"
#include "watermark/watermark_file.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace pelinor {

// The version of the tables this program writes; older files are brought up to it when
// opened, newer ones are refused.
inline constexpr int kCatalogueSchema = 2;

struct OriginalRecord {
    long long id = 0;
    std::string path; // as given when it was added
    std::string sha256; // of the file's bytes
    long long size = 0; // bytes
    std::string format; // "jpeg", "png", ...
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> fingerprint; // catalogue/fingerprint.h
    std::string added; // ISO 8601, UTC
};

struct RecipientRecord {
    long long id = 0;
    std::string name;
    std::string note;
    std::string added;
};

struct KeyRecord {
    long long id = 0;
    long long originalId = 0;
    long long recipientId = 0;
    int length = 0;
    double alpha = 0.0;
    double mean = 0.0;
    double deviation = 1.0;
    std::string sha256; // of the watermark file's text
    std::string source; // "generated", or the path a watermark file was imported from
    std::string created;
};

// What a key's values come from: a seed for keys this program generated, the whole
// watermark file's text for imported ones.
struct KeyMaterial {
    std::optional<KeySeed> seed;
    std::string content;
};

struct MarkRecord {
    long long id = 0;
    long long originalId = 0;
    long long recipientId = 0;
    long long keyId = 0;
    std::string output; // the marked copy's path as written
    std::string outputSha256; // empty while unfinished
    std::optional<double> psnr;
    std::optional<double> similarity; // the verification of the written file
    std::string settings; // how it was embedded, as "key=value; ..."
    std::string toolVersion;
    std::string created;
    bool finished = false; // false: the copy may or may not have been written
};

// Everything recorded about one recipient's copy: for listings, exports and trace.
struct MarkView {
    MarkRecord mark;
    std::string recipient;
    std::string originalPath;
};

struct RemovedCounts {
    long long keys = 0;
    long long marks = 0;
};

class Catalogue {
public:
    // PELINOR_CATALOGUE, else $XDG_DATA_HOME/pelinor/catalogue.sqlite, else
    // ~/.local/share/pelinor/catalogue.sqlite. Error 76 when none of them can be made.
    static std::string defaultPath();

    // Opens the catalogue at `path`. A missing file is created when `create` (its folder
    // too, readable by the owner only), else error 53. A file that is not a catalogue, is
    // damaged or comes from a newer version is refused (err::BadCatalogue) and left as it
    // is; an older one is brought up to date in one transaction.
    static std::unique_ptr<Catalogue> open(const std::string& path, bool create);

    const std::string& path() const noexcept { return m_path; }
    // True when the file's permissions let others than its owner read it.
    bool readableByOthers() const noexcept { return m_readableByOthers; }
    // True when open() created the file.
    bool created() const noexcept { return m_created; }

    // Runs body as one transaction: all its changes are kept, or none.
    template <class F> void transaction(F&& body) { m_db->transaction(std::forward<F>(body)); }

    // The original with this SHA-256, adding it when new (record.id is set either way).
    long long addOriginal(OriginalRecord& record);
    std::optional<OriginalRecord> findOriginal(const std::string& sha256);
    std::optional<OriginalRecord> original(long long id);
    std::vector<OriginalRecord> originals(bool withFingerprints = false);
    // Calls f(id, fingerprint) for every original, in id order, without keeping them.
    void forEachFingerprint(const std::function<void(long long, const std::vector<std::uint8_t>&)>& f);

    // The recipient of this name, adding them when new; a non-empty note replaces theirs.
    long long addRecipient(const std::string& name, const std::string& note = {});
    std::optional<RecipientRecord> findRecipient(const std::string& name);
    std::vector<RecipientRecord> recipients();

    long long addKey(KeyRecord& record, const KeyMaterial& material);
    std::vector<KeyRecord> keysFor(long long originalId);
    std::vector<KeyRecord> keys();
    std::optional<KeyRecord> key(long long id);
    // The key's watermark, generated again from its seed or read from its stored text.
    Watermark keyWatermark(long long keyId);

    long long addMark(MarkRecord& record);
    void finishMark(long long id, const std::string& outputSha256, double psnr, double similarity);
    // Drops an unfinished mark and its key (an interrupted or failed marking).
    void dropUnfinishedMark(long long id);
    std::vector<MarkView> marks();
    std::vector<MarkView> marksFor(long long originalId);
    // The mark made with this key, if any.
    std::optional<MarkView> markForKey(long long keyId);
    // The finished mark whose copy had this SHA-256 when written, if any.
    std::optional<MarkView> markByOutput(const std::string& sha256);
    std::vector<MarkView> marksOf(long long recipientId);

    // Removes everything recorded for the recipient; nothing when there is no such name.
    std::optional<RemovedCounts> removeRecipient(const std::string& name);

    // SQLite's own consistency check: empty when the file is sound.
    std::vector<std::string> integrityProblems();

    // The tables of version `version` and earlier, on an empty database; for tests of the
    // migrations.
    static void migrate(Database& db, int from, int to);
    static constexpr std::uint32_t kApplicationId = 0x50454C43; // "PELC"

private:
    Catalogue(std::string path, std::unique_ptr<Database> db, bool readableByOthers, bool created);
    std::vector<MarkView> markViews(const char* where, long long value);
    std::string m_path;
    std::unique_ptr<Database> m_db;
    bool m_readableByOthers = false;
    bool m_created = false;
};

// The time now as ISO 8601 in UTC, to the second: "2026-11-03T14:02:11Z".
std::string isoNow();

} // namespace pelinor
