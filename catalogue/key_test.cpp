#include "catalogue/key_test.h"

#include <cmath>

namespace pelinor {

KeyTester::KeyTester(const Analysis& original, const Analysis& suspect)
    : m_original(original)
    , m_suspect(suspect)
{
    requireSameSize(original.width, original.height, suspect.width, suspect.height);
}

KeyScore KeyTester::score(const Watermark& key)
{
    requireUsableWatermark(key);
    auto found = m_extracted.find(key.length);
    if (found == m_extracted.end()) {
        // Extracted with alpha 1: the values then hold C1/C0 - 1, whatever the key's alpha,
        // whose size does not change the correlation (only its sign does).
        Watermark unit;
        unit.length = key.length;
        unit.alpha = 1.0;
        unit.values.assign(std::size_t(key.length), 1.0);
        found = m_extracted.emplace(key.length, extractWatermark(m_original, unit, m_suspect).values).first;
    }
    KeyScore s;
    s.length = key.length;
    s.similarity = normalisedCorrelation(found->second, key.values) * (key.alpha < 0 ? -1.0 : 1.0);
    s.z = s.similarity * std::sqrt(double(key.length));
    s.falsePositive = falsePositiveProbability(s.similarity, key.length);
    return s;
}

double familyWiseProbability(std::span<const double> perKey)
{
    double logNone = 0.0; // log of the chance that none reaches its score
    for (double p : perKey) {
        if (p >= 1.0) return 1.0;
        logNone += std::log1p(-p);
    }
    return -std::expm1(logNone);
}

} // namespace pelinor
