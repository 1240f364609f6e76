#include "lab/multi_detect.h"

#include "base/error.h"
#include "obrada/selection.h"

#include <string>

namespace pelinor {

ReferenceDetector::ReferenceDetector(const Analysis& original, int length)
    : m_width(original.width)
    , m_height(original.height)
    , m_length(length)
{
    if (length < 1)
        throw Error(err::SubscriptOutOfRange,
            "Subscript out of range: a watermark length of " + std::to_string(length)
                + " (at least 1 needed)");
    const Plane& c0 = original.coeffs;
    const double threshold = OdrediPrag(c0, length);
    forEachSignificant(c0, threshold, [&](int u, int v, long long i) {
        // More than N can only come from the selection's cap; the extra ones carry no value.
        if (i >= length) return;
        const std::size_t offset = std::size_t(u) * std::size_t(c0.n2()) + std::size_t(v);
        m_positions.push_back(offset);
        m_original.push_back(c0.data()[offset]);
    });
}

std::vector<double> ReferenceDetector::extract(const Analysis& suspect) const
{
    requireSameSize(m_width, m_height, suspect.width, suspect.height);
    std::vector<double> x(std::size_t(m_length), 0.0);
    const double* c1 = suspect.coeffs.data();
    for (std::size_t k = 0; k < m_positions.size(); ++k)
        x[k] = c1[m_positions[k]] / m_original[k] - 1.0;
    return x;
}

DetectResult ReferenceDetector::detect(
    std::span<const double> extracted, const Watermark& watermark, double threshold) const
{
    requireUsableWatermark(watermark);
    if (int(watermark.values.size()) != m_length)
        throw Error(err::InvalidCall,
            "Invalid procedure call: the watermark has " + std::to_string(watermark.values.size())
                + " values, the detection was set up for " + std::to_string(m_length));
    // Extracted without the division by alpha, so only its sign is left to apply.
    double s = normalisedCorrelation(extracted, watermark.values);
    if (watermark.alpha < 0) s = -s;
    DetectResult r = verdict(s, threshold, coefficients(), m_length);
    r.originalWidth = r.suspectWidth = m_width;
    r.originalHeight = r.suspectHeight = m_height;
    return r;
}

DetectResult ReferenceDetector::detect(
    const Analysis& suspect, const Watermark& watermark, double threshold) const
{
    return detect(extract(suspect), watermark, threshold);
}

double familyWiseFalsePositive(double s, std::span<const int> lengths)
{
    // Summed as logarithms, so that tiny probabilities over many files do not round to 0.
    double logNone = 0.0;
    for (const int n : lengths)
        logNone += std::log1p(-falsePositiveProbability(s, n));
    return -std::expm1(logNone);
}

} // namespace pelinor
