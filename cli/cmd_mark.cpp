#include "base/atomic_file.h"
#include "base/parallel.h"
#include "catalogue/catalogue.h"
#include "catalogue/original.h"
#include "catalogue/sha256.h"
#include "cli/args.h"
#include "cli/catalogue_access.h"
#include "cli/commands.h"
#include "cli/decision.h"
#include "cli/io.h"
#include "cli/mark_plan.h"
#include "cli/progress.h"
#include "image/image_io.h"
#include "watermark/detector.h"
#include "watermark/embed.h"
#include "watermark/generator.h"
#include "watermark/strength.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace pelinor::cli {

namespace {

namespace fs = std::filesystem;

const Option kOptions[] = {
    {"--for", "NAME", "a recipient; repeat it for each"},
    {"--recipients", "FILE", "the recipients, one a line: NAME, or NAME<TAB>NOTE; '#' starts a comment"},
    {"--output-dir", "DIR", "where the marked copies go, as STEM-NAME.EXT (created if missing)"},
    {"--again", nullptr,
        "mark a photo again for a recipient it was already marked for, with a\nnew key, replacing the copy; "
        "also finishes a marking that was\ninterrupted"},
    {"--jobs", "J", "copies marked at once (default: one per core)"},
    {"--length", "N", "values in each key (default 1000)"},
    {"--alpha", "A", "the strongest embedding allowed (default 0.1)"},
    {"--min-psnr", "DB",
        "the quality floor: alpha is lowered for a copy where needed so that its\nPSNR is at least DB "
        "(default 40) and its banding figure at most 4\nlevels; 0 embeds at --alpha as it is",
        nullptr, {0, kMaxTargetPsnr, kDefaultMinPsnr}},
    {"--quality", "Q|same",
        "JPEG quality 1..100 of the copies, or 'same' (the default): a JPEG\nphoto's own, estimated from its "
        "quantisation tables"},
    {"--subsampling", "S", "JPEG chroma subsampling 444, 422 or 420 (default: the photo's own)"},
    kCatalogueOption,
    kMaxPixelsOption,
};

// One photo, read once for all its recipients and released after the last of them.
struct Photo {
    std::string path;
    std::once_flag loaded;
    std::mutex mutex;
    PictureRef picture;
    OriginalRecord record;
    std::unique_ptr<Reference> reference; // for verifying each copy
    std::string error;
    std::atomic<std::size_t> remaining{0};
};

struct Job {
    Catalogue& catalogue;
    std::mutex catalogueMutex; // one connection, shared by the threads
    std::vector<Recipient> recipients;
    std::vector<Photo> photos;
    SaveOptions save;
    std::int32_t length = 1000;
    double alpha = 0.1;
    QualityFloor floor;
    bool again = false;
    std::int64_t maxPixels = kDefaultMaxPixels;
    std::string settings;
};

void load(Photo& photo, std::int64_t maxPixels)
{
    std::call_once(photo.loaded, [&] {
        try {
            photo.picture = loadPictureFile(photo.path, maxPixels);
            noteInput("mark", photo.path, *photo.picture);
            photo.record = withFile(photo.path, [&] { return describeOriginal(photo.path, *photo.picture); });
            photo.reference = std::make_unique<Reference>(*photo.picture, Depths::Any);
            withFile(photo.path, [&] { photo.reference->prepare(); });
        } catch (const std::exception& e) {
            photo.error = e.what();
            photo.reference.reset();
            photo.picture.reset();
        }
    });
    if (!photo.error.empty()) throw std::runtime_error(photo.error);
}

std::string dayOf(const std::string& iso)
{
    return iso.substr(0, 10);
}

// Records the key and the unfinished mark in one transaction, refusing a photo already
// marked for the recipient unless --again. Returns the mark's id.
long long recordMark(Job& job, Photo& photo, const Recipient& recipient, const std::string& output,
    KeySeed seed, const Watermark& key)
{
    std::lock_guard lock(job.catalogueMutex);
    long long markId = 0;
    job.catalogue.transaction([&] {
        OriginalRecord original = photo.record;
        original.path = absolutePath(photo.path);
        job.catalogue.addOriginal(original);
        const long long recipientId = job.catalogue.addRecipient(recipient.name, recipient.note);
        for (const MarkView& earlier : job.catalogue.marksFor(original.id)) {
            if (earlier.mark.recipientId != recipientId) continue;
            if (!job.again)
                throw FileError(photo.path,
                    earlier.mark.finished
                        ? "already marked for " + recipient.name + " on " + dayOf(earlier.mark.created) + " ("
                            + earlier.mark.output + "); --again marks it anew with a new key"
                        : "marking for " + recipient.name + " was interrupted on "
                            + dayOf(earlier.mark.created) + "; --again marks it anew");
            // An interrupted marking's key stays: its copy may have been written before the stop.
        }
        std::error_code ec;
        if (!job.again && fs::exists(output, ec))
            throw FileError(output,
                "exists already, and the catalogue has no mark of " + photo.path + " for " + recipient.name
                    + " in it; --again replaces it with a copy marked anew");
        KeyRecord k;
        k.originalId = original.id;
        k.recipientId = recipientId;
        k.length = key.length;
        k.alpha = key.alpha;
        k.mean = key.mean;
        k.deviation = key.deviation;
        k.sha256 = sha256Hex(formatWatermark(key));
        k.source = "generated";
        job.catalogue.addKey(k, KeyMaterial{seed, {}});
        MarkRecord m;
        m.originalId = original.id;
        m.recipientId = recipientId;
        m.keyId = k.id;
        m.output = absolutePath(output);
        m.settings = job.settings;
        m.toolVersion = PELINOR_VERSION;
        markId = job.catalogue.addMark(m);
    });
    return markId;
}

struct Marked {
    double psnr = 0.0;
    double similarity = 0.0;
    std::optional<double> banding; // under the quality floor
    std::optional<double> loweredAlpha; // when the floor asked for less than --alpha
};

// Embeds, encodes and decodes the copy again, and writes it only once its key is found in
// it as it will be on disk: a copy too damaged by its encoding (a JPEG quality too low for
// the strength) is a failure, and an earlier copy of the same name stays as it was.
Marked writeCopy(Job& job, Photo& photo, const Watermark& key, const std::string& output, std::string& sha)
{
    Marked marked;
    const EmbedResult r = withFile(photo.path, [&] {
        if (job.floor.minPsnr <= 0.0) return embedWatermark(*photo.picture, key, Depths::Any);
        FloorEmbed f = embedWithinFloor(*photo.picture, key, job.floor, Depths::Any);
        marked.banding = f.banding;
        if (f.lowered) marked.loweredAlpha = f.alpha;
        return std::move(f.embedded);
    });
    warnLosses("mark", output, *r.marked);
    const std::vector<std::uint8_t> bytes
        = withFile(output, [&] { return encodePicture(*r.marked, formatForPath(output), job.save); });
    const PictureRef written = withFile(output, [&] { return decodePicture(bytes, job.maxPixels); });
    const Analysis analysis = withFile(output, [&] { return analysePicture(*written, Depths::Any); });
    SuspectTest test(*photo.reference, analysis);
    const DetectResult score
        = withFile(photo.path, [&] { return test.detect(key, DecisionRule::byEvidence()); });
    if (!score.found)
        throw FileError(output,
            "the key would not be found in the copy as it would be written (" + verdictReason(score)
                + "); a higher --quality, a lower --min-psnr or a higher --alpha keeps it; nothing "
                  "written");
    warnReplaced("mark", output, withFile(output, [&] { return writeFileAtomic(output, bytes); }));
    sha = sha256Hex(bytes);
    marked.psnr = r.psnr;
    marked.similarity = score.similarity;
    return marked;
}

std::string markOne(Job& job, const MarkItem& item)
{
    Photo& photo = job.photos[item.photo];
    const Recipient& recipient = job.recipients[item.recipient];
    struct Release {
        Photo& photo;
        ~Release()
        {
            if (--photo.remaining == 0) {
                photo.reference.reset();
                photo.picture.reset();
            }
        }
    } release{photo};
    load(photo, job.maxPixels);
    const KeySeed seed = entropySeed();
    const Watermark key = generateWatermark(seed, job.length, job.alpha, 0.0, 1.0);
    const long long markId = recordMark(job, photo, recipient, item.output, seed, key);
    std::string sha;
    Marked marked;
    try {
        marked = writeCopy(job, photo, key, item.output, sha);
    } catch (...) {
        // No record without its copy: nothing was written.
        std::lock_guard lock(job.catalogueMutex);
        job.catalogue.transaction([&] { job.catalogue.dropUnfinishedMark(markId); });
        throw;
    }
    {
        std::lock_guard lock(job.catalogueMutex);
        job.catalogue.transaction(
            [&] { job.catalogue.finishMark(markId, sha, marked.psnr, marked.similarity); });
    }
    std::string text = item.output + ": for " + recipient.name;
    char figures[160];
    std::snprintf(figures, sizeof figures, ", PSNR %.2f dB", marked.psnr);
    text += figures;
    if (marked.banding) {
        std::snprintf(figures, sizeof figures, ", banding %.1f levels", *marked.banding);
        text += figures;
    }
    if (marked.loweredAlpha) {
        std::snprintf(figures, sizeof figures, ", alpha lowered from %.6g to %.6g for the quality floor",
            job.alpha, *marked.loweredAlpha);
        text += figures;
    }
    std::snprintf(figures, sizeof figures, ", verified (similarity %.4f)", marked.similarity);
    return text + figures;
}

std::vector<Recipient> recipientsOf(const ParsedArgs& a)
{
    std::vector<Recipient> list;
    for (const auto& [name, value] : a.inOrder())
        if (name == "--for") {
            if (value.empty()) throw UsageError("--for needs a name");
            list.push_back({value, {}});
        }
    if (const auto file = a.value("--recipients")) {
        const std::vector<std::uint8_t> bytes
            = withFile(*file, [&] { return readFileBytes(*file, 16 << 20); });
        for (Recipient& r : parseRecipients(std::string(bytes.begin(), bytes.end()), *file))
            list.push_back(std::move(r));
    }
    // A name given twice is one recipient (the later note wins).
    std::vector<Recipient> unique;
    for (Recipient& r : list) {
        auto same = std::find_if(
            unique.begin(), unique.end(), [&](const Recipient& u) { return u.name == r.name; });
        if (same == unique.end())
            unique.push_back(std::move(r));
        else if (!r.note.empty())
            same->note = r.note;
    }
    if (unique.empty()) throw UsageError("no recipient: give --for NAME or --recipients FILE");
    return unique;
}

int mark(const ParsedArgs& a)
{
    a.expectPositional(1, std::size_t(-1), "PHOTO...");
    const std::vector<Recipient> recipients = recipientsOf(a);
    const std::string dir = a.value("--output-dir").value_or("");
    if (dir.empty()) throw UsageError("--output-dir DIR is needed: the copies go there");
    const std::int32_t length = std::int32_t(a.integer("--length", 1000, 1, kMaxWatermarkLength));
    const double alpha = a.real("--alpha", 0.1);
    if (alpha == 0.0) throw UsageError("--alpha: 0 marks nothing");
    const unsigned jobs = jobCount(a.integer("--jobs", 0, 1, 1024));
    SaveOptions save = saveOptions(a);
    if (!a.has("--quality")) save.sameQuality = true;

    std::vector<std::string> photos;
    std::set<std::string> seen;
    for (const std::string& p : a.positional())
        if (seen.insert(fs::path(p).lexically_normal().string()).second) photos.push_back(p);
    const std::vector<MarkItem> items = planMarks(photos, recipients, dir);
    std::size_t refused = 0;
    for (const MarkItem& item : items)
        if (!item.refusal.empty()) {
            std::fprintf(stderr, "pelinor-cli mark: %s\n", item.refusal.c_str());
            ++refused;
        }
    if (refused > 0) {
        std::fprintf(
            stderr, "pelinor-cli mark: nothing marked (%zu of %zu copies refused)\n", refused, items.size());
        return kExitError;
    }
    const std::unique_ptr<Catalogue> catalogue = openCatalogue(a, "mark", true);
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (ec || !fs::is_directory(dir)) throw FileError(dir, ec ? ec.message() : "not a folder");

    Job job{*catalogue, {}, recipients, std::vector<Photo>(photos.size()), save, length, alpha, {},
        a.has("--again"), maxPixels(a), {}};
    job.floor.minPsnr = minPsnr(a);
    for (std::size_t i = 0; i < photos.size(); ++i) {
        job.photos[i].path = photos[i];
        job.photos[i].remaining = recipients.size();
    }
    job.settings = "length=" + std::to_string(length) + "; alpha=" + formatReal(alpha) + "; quality="
        + (save.sameQuality ? std::string("same") : std::to_string(save.quality)) + "; subsampling="
        + a.value("--subsampling").value_or("photo's own") + "; min-psnr=" + formatReal(job.floor.minPsnr);

    std::atomic<std::size_t> failed{0};
    {
        Progress progress(items.size(), Progress::stderrIsTerminal());
        runParallel(items.size(), jobs, [&](std::size_t i) {
            try {
                progress.print(stdout, markOne(job, items[i]));
            } catch (const std::exception& e) {
                // Failures name their file already; the rest concern the photo.
                ++failed;
                progress.print(stderr,
                    "pelinor-cli mark: "
                        + (dynamic_cast<const FileError*>(&e)
                                ? std::string(e.what())
                                : fileMessage(photos[items[i].photo], e.what())));
            }
            progress.advance();
        });
    }
    if (failed == 0) return kExitOk;
    std::fprintf(stderr, "pelinor-cli mark: %zu of %zu copies failed\n", failed.load(), items.size());
    return kExitError;
}

} // namespace

const Command kMarkCommand{"mark", "mark photos for many recipients, each with a key of their own",
    "PHOTO... --for NAME [--for NAME...] --output-dir DIR [--again] [--jobs J]\nPHOTO... --recipients FILE "
    "--output-dir DIR [--length N] [--alpha A] [--min-psnr DB] [--quality Q|same]",
    "Marks each PHOTO once for each recipient, each copy with a fresh key from the operating\n"
    "system's entropy, and records in the catalogue which key went to whom, so that\n"
    "pelinor-cli trace can later tell whose copy a picture is. The embedding is embed's\n"
    "(metadata kept, a JPEG written at the photo's own quality unless --quality says\n"
    "otherwise, alpha lowered where needed for the quality floor); each copy, DIR/STEM-NAME.EXT with the "
    "name made safe for file names, is read\n"
    "back and its key found in it before it is recorded as done.",
    kOptions,
    "A photo already marked for a recipient is refused unless --again. Each copy is recorded\n"
    "before it is written and finished after it was verified, each step one transaction: a\n"
    "command stopped at any moment leaves no copy without its record (at worst one marked\n"
    "unfinished, which catalogue check reports and --again finishes). A picture that fails\n"
    "is named and the others are still marked.\n\n"
    "Exit status: 0 every copy marked, 2 usage or input error (any copy failed).",
    mark};

} // namespace pelinor::cli
