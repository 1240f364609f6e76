// Whose copy is this? The suspect's original is found in the catalogue from its content
// alone (the fingerprint gives a short list, registration confirms), then the key of every
// recipient of that original is tested, and, by the evidence rule, a key counts as found
// when the chance that any of the keys tested, never embedded, scores as high is at most
// the rule's bound (the family-wise false-positive probability).
#pragma once

#include "catalogue/catalogue.h"
#include "image/picture.h"
#include "watermark/detector.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace pelinor {

struct TraceOptions {
    DecisionRule rule = DecisionRule::byEvidence();
    float minFingerprintScore = 0.6f; // below this an original is not even tried
    // Originals this close to the best are tried too: a series of similar shots (a few
    // pixels apart, they score a few hundredths below the copy's own original). Registration then
    // refuses those that are not the original.
    float fingerprintMargin = 0.15f;
    std::size_t maxCandidates = 5;
    RegisterMode mode = RegisterMode::Auto;
    std::int64_t maxPixels = kDefaultMaxPixels;
    bool keepPictures = false; // keep the original and the suspect on its grid, for a report
};

struct TracedKey {
    KeyRecord key;
    std::string recipient;
    std::optional<MarkRecord> mark; // the copy it went into, when recorded
    // The verdict over every key tested: logFalsePositive for this key alone, logFamilyWise
    // for any of them at this key's similarity (natural logarithms, watermark/evidence.h).
    DetectResult result;
    bool found() const noexcept { return result.found; }
};

struct TracedOriginal {
    OriginalRecord original;
    float fingerprintScore = 0.0f;
    bool tested = false; // false: not confirmed as the original (see `note`)
    std::string note; // why it was not tested, or what registration said
    std::optional<Registration> registration; // when the suspect was registered onto it
    std::vector<TracedKey> keys; // best first
    PictureRef picture; // with keepPictures: the original
    PictureRef suspectOnGrid; // with keepPictures: the suspect as tested (registered or not)
};

struct TraceResult {
    std::size_t originalsSearched = 0;
    std::vector<TracedOriginal> candidates; // in the order tried
    std::size_t keysTested = 0;
    // The keys found, over every candidate, best first.
    std::vector<const TracedKey*> found() const;
};

// Traces `suspect`; an original that cannot be read is noted on its candidate, not thrown.
TraceResult traceSuspect(Catalogue& catalogue, const Picture& suspect, const TraceOptions& options = {});

} // namespace pelinor
