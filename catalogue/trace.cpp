#include "catalogue/trace.h"

#include "base/error.h"
#include "catalogue/fingerprint.h"
#include "catalogue/sha256.h"
#include "image/image_io.h"

#include <algorithm>
#include <cmath>
#include <map>

namespace pelinor {

namespace {

// The lengths of the keys whose false-positive figure holds: the family the verdict counts.
std::vector<int> holding(const std::vector<TracedKey>& keys)
{
    std::vector<int> lengths;
    for (const TracedKey& k : keys)
        if (!std::isnan(k.result.logFalsePositive)) lengths.push_back(k.key.length);
    return lengths;
}

std::vector<FingerprintIndex::Match> shortList(
    Catalogue& catalogue, const Picture& suspect, const TraceOptions& options, std::size_t& searched)
{
    FingerprintIndex index;
    catalogue.forEachFingerprint([&](long long id, const std::vector<std::uint8_t>& bytes) {
        Fingerprint f{};
        if (decodeFingerprint(bytes, f)) index.add(id, f);
    });
    searched = index.size();
    const std::vector<Fingerprint> views = suspectViews(suspect);
    std::vector<FingerprintIndex::Match> matches
        = index.search(views, options.minFingerprintScore, options.maxCandidates);
    if (!matches.empty()) {
        const float floor = matches.front().score - options.fingerprintMargin;
        std::erase_if(matches, [&](const FingerprintIndex::Match& m) { return m.score < floor; });
    }
    return matches;
}

// Tests every key of one original against the suspect, as it stands or registered.
void testOriginal(
    Catalogue& catalogue, TracedOriginal& candidate, const Picture& suspect, const TraceOptions& options)
{
    const OriginalRecord& record = candidate.original;
    PictureRef original;
    try {
        if (sha256File(record.path) != record.sha256) {
            candidate.note = "the file " + record.path
                + " is no longer the original that was marked (its SHA-256 "
                  "changed)";
            return;
        }
        original = loadPicture(record.path, options.maxPixels);
    } catch (const Error& e) {
        candidate.note = "the original " + record.path + " cannot be read: " + e.what();
        return;
    }
    std::map<long long, std::string> names;
    for (const RecipientRecord& r : catalogue.recipients())
        names[r.id] = r.name;
    std::vector<Watermark> watermarks;
    for (const KeyRecord& k : catalogue.keysFor(record.id)) {
        TracedKey t;
        t.key = k;
        t.recipient = names[k.recipientId];
        if (const auto m = catalogue.markForKey(k.id)) t.mark = m->mark;
        candidate.keys.push_back(std::move(t));
        watermarks.push_back(catalogue.keyWatermark(k.id));
    }
    if (watermarks.empty()) {
        candidate.note = "no keys are recorded for it";
        return;
    }
    const Reference reference(*original, Depths::Any);
    DetectOptions detectOptions;
    detectOptions.mode = options.mode;
    try {
        const SuspectTesting testing = testSuspect(
            reference, suspect,
            [&](const SuspectOnGrid& grid) {
                SuspectTest test(reference, grid.analysis);
                std::vector<DetectResult*> results;
                for (std::size_t i = 0; i < watermarks.size(); ++i) {
                    candidate.keys[i].result = test.detect(watermarks[i], options.rule);
                    results.push_back(&candidate.keys[i].result);
                }
                decideTogether(results, holding(candidate.keys), options.rule);
                if (options.keepPictures) candidate.suspectOnGrid = grid.picture.clone();
                return std::any_of(
                    results.begin(), results.end(), [](const DetectResult* r) { return r->found; });
            },
            detectOptions);
        candidate.tested = true;
        candidate.registration = testing.registration;
        if (!testing.registrationError.empty()) candidate.note = testing.registrationError;
    } catch (const Error& e) {
        if (e.number() != err::NotAlignable && e.number() != err::SizeMismatch) throw;
        candidate.note = e.what();
        candidate.keys.clear();
        return;
    }
    if (options.keepPictures) candidate.picture = original;
}

} // namespace

std::vector<const TracedKey*> TraceResult::found() const
{
    std::vector<const TracedKey*> out;
    for (const TracedOriginal& c : candidates)
        for (const TracedKey& k : c.keys)
            if (k.found()) out.push_back(&k);
    std::stable_sort(out.begin(), out.end(),
        [](const TracedKey* a, const TracedKey* b) { return a->result.similarity > b->result.similarity; });
    return out;
}

TraceResult traceSuspect(Catalogue& catalogue, const Picture& suspect, const TraceOptions& options)
{
    TraceResult result;
    for (const FingerprintIndex::Match& m :
        shortList(catalogue, suspect, options, result.originalsSearched)) {
        TracedOriginal candidate;
        candidate.original = *catalogue.original(m.id);
        candidate.fingerprintScore = m.score;
        testOriginal(catalogue, candidate, suspect, options);
        result.candidates.push_back(std::move(candidate));
    }
    // The family is every key tested, over all the originals tried.
    std::vector<DetectResult*> results;
    std::vector<int> lengths;
    for (TracedOriginal& c : result.candidates) {
        for (TracedKey& k : c.keys)
            results.push_back(&k.result);
        const std::vector<int> own = holding(c.keys);
        lengths.insert(lengths.end(), own.begin(), own.end());
    }
    result.keysTested = results.size();
    decideTogether(results, lengths, options.rule);
    for (TracedOriginal& c : result.candidates)
        std::stable_sort(c.keys.begin(), c.keys.end(),
            [](const TracedKey& a, const TracedKey& b) { return a.result.similarity > b.result.similarity; });
    return result;
}

} // namespace pelinor
