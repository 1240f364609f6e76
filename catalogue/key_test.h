// Testing the catalogue's keys against one suspect that lies on its original's grid: the
// suspect's values are extracted once per watermark length and each key costs a dot
// product. The verdict is by evidence: how likely a key that was never embedded would
// score as high, for one key and for every key tested at once.
#pragma once

#include "watermark/detect.h"
#include "watermark/watermark_file.h"

#include <map>
#include <span>
#include <vector>

namespace pelinor {

// A find is declared when the chance that any of the keys tested, never embedded, scores
// as high is at most this.
inline constexpr double kDefaultFalsePositiveBound = 1e-9;

struct KeyScore {
    double similarity = 0.0;
    double z = 0.0; // similarity * sqrt(N)
    double falsePositive = 0.0; // one key, never embedded, scoring at least `similarity`
    int length = 0;
};

class KeyTester {
public:
    // Both analyses of the same size (err::SizeMismatch otherwise); kept by reference.
    KeyTester(const Analysis& original, const Analysis& suspect);
    // Refuses what detection refuses (alpha 0, all-zero values).
    KeyScore score(const Watermark& key);

private:
    const Analysis& m_original;
    const Analysis& m_suspect;
    std::map<int, std::vector<double>> m_extracted; // C1/C0 - 1 by watermark length
};

// The chance that at least one of K keys never embedded reaches its score by chance,
// 1 - prod(1 - p_k), computed so that tiny p_k are not lost: about sum(p_k) then.
double familyWiseProbability(std::span<const double> perKey);

} // namespace pelinor
