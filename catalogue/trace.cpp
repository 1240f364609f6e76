#include "catalogue/trace.h"

#include "base/error.h"
#include "catalogue/fingerprint.h"
#include "catalogue/sha256.h"
#include "image/image_io.h"

#include <algorithm>
#include <map>

namespace pelinor {

namespace {

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
    std::vector<int> lengths;
    for (const KeyRecord& k : catalogue.keysFor(record.id)) {
        TracedKey t;
        t.key = k;
        t.recipient = names[k.recipientId];
        if (const auto m = catalogue.markForKey(k.id)) t.mark = m->mark;
        candidate.keys.push_back(std::move(t));
        watermarks.push_back(catalogue.keyWatermark(k.id));
        lengths.push_back(watermarks.back().length);
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
                bool any = false;
                for (std::size_t i = 0; i < watermarks.size(); ++i) {
                    TracedKey& t = candidate.keys[i];
                    const DetectResult r = test.detect(watermarks[i], DecisionRule{});
                    t.similarity = r.similarity;
                    t.z = r.z;
                    t.falsePositive = r.falsePositive;
                    t.familyWise = familyWiseFalsePositive(r.similarity, lengths);
                    t.found = t.familyWise <= options.bound;
                    any = any || t.found;
                }
                if (options.keepPictures) candidate.suspectOnGrid = grid.picture.clone();
                return any;
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
            if (k.found) out.push_back(&k);
    std::stable_sort(out.begin(), out.end(),
        [](const TracedKey* a, const TracedKey* b) { return a->similarity > b->similarity; });
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
    std::vector<int> lengths;
    for (const TracedOriginal& c : result.candidates)
        for (const TracedKey& k : c.keys)
            lengths.push_back(k.key.length);
    result.keysTested = lengths.size();
    for (TracedOriginal& c : result.candidates) {
        for (TracedKey& k : c.keys) {
            k.familyWise = familyWiseFalsePositive(k.similarity, lengths);
            k.found = k.familyWise <= options.bound;
        }
        std::stable_sort(c.keys.begin(), c.keys.end(),
            [](const TracedKey& a, const TracedKey& b) { return a.similarity > b.similarity; });
    }
    return result;
}

} // namespace pelinor
