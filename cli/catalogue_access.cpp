#include "cli/catalogue_access.h"

#include "catalogue/fingerprint.h"
#include "catalogue/sha256.h"

#include <cstdio>
#include <filesystem>

namespace pelinor::cli {

std::unique_ptr<Catalogue> openCatalogue(const ParsedArgs& a, const char* command, bool create)
{
    const std::string path = a.value("--catalogue").value_or(Catalogue::defaultPath());
    if (path.empty()) throw UsageError("--catalogue needs a file");
    std::unique_ptr<Catalogue> catalogue = withFile(path, [&] { return Catalogue::open(path, create); });
    if (catalogue->readableByOthers())
        std::fprintf(stderr,
            "pelinor-cli %s: warning: %s can be read by other users, and it holds the keys; make it private "
            "with: chmod 600 '%s'\n",
            command, path.c_str(), path.c_str());
    return catalogue;
}

namespace {

// A re-export of a picture scores close to 1; other shots of a series clearly lower.
constexpr float kSamePictureScore = 0.97f;

} // namespace

void warnIfNotMarkedOriginal(const char* command, const std::string& path, const Picture& original)
{
    try {
        const std::string catalogueFile = Catalogue::defaultPath();
        std::error_code ec;
        if (catalogueFile.empty() || !std::filesystem::is_regular_file(catalogueFile, ec)) return;
        const std::unique_ptr<Catalogue> catalogue = Catalogue::open(catalogueFile, false);
        const std::string sha = sha256File(path);
        if (catalogue->findOriginal(sha)) return;
        if (const auto copy = catalogue->markByOutput(sha)) {
            std::fprintf(stderr,
                "pelinor-cli %s: warning: %s is not an original: it is the copy marked for %s (from %s); "
                "test against the original instead\n",
                command, path.c_str(), copy->recipient.c_str(), copy->originalPath.c_str());
            return;
        }
        FingerprintIndex index;
        catalogue->forEachFingerprint([&](long long id, const std::vector<std::uint8_t>& bytes) {
            Fingerprint f{};
            if (decodeFingerprint(bytes, f)) index.add(id, f);
        });
        const Fingerprint own = fingerprintOf(original);
        const auto matches = index.search(std::span<const Fingerprint>(&own, 1), kSamePictureScore, 1);
        if (matches.empty()) return;
        const auto known = catalogue->original(matches.front().id);
        if (!known || catalogue->keysFor(known->id).empty()) return;
        std::fprintf(stderr,
            "pelinor-cli %s: warning: %s is not the original that was marked: the catalogue's keys were "
            "marked into %s (SHA-256 %.12s...), which this picture resembles but differs from (SHA-256 "
            "%.12s...); a re-export or edit of the original makes a mark look weaker or absent, so test "
            "against %s\n",
            command, path.c_str(), known->path.c_str(), known->sha256.c_str(), sha.c_str(),
            known->path.c_str());
    } catch (const std::exception&) {
        // The catalogue is advice here: a damaged or busy one leaves the command as it is.
    }
}

std::optional<KeyOwner> keyOwner(const std::string& keySha256)
{
    try {
        const std::string catalogueFile = Catalogue::defaultPath();
        std::error_code ec;
        if (catalogueFile.empty() || !std::filesystem::is_regular_file(catalogueFile, ec))
            return std::nullopt;
        const std::unique_ptr<Catalogue> catalogue = Catalogue::open(catalogueFile, false);
        for (const KeyRecord& k : catalogue->keys()) {
            if (k.sha256 != keySha256) continue;
            KeyOwner owner;
            for (const RecipientRecord& r : catalogue->recipients())
                if (r.id == k.recipientId) owner.recipient = r.name;
            owner.mark = catalogue->markForKey(k.id);
            return owner;
        }
    } catch (const std::exception&) {
        // As above: advice only.
    }
    return std::nullopt;
}

} // namespace pelinor::cli
