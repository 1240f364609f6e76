#include "lab/multi_detect.h"

#include "base/error.h"
#include "obrada/selection.h"

#include <algorithm>
#include <cmath>
#include <string>

namespace pelinor {

namespace {

std::string sizeText(int w, int h)
{
    return std::to_string(w) + " x " + std::to_string(h);
}

} // namespace

ReferenceDetector::ReferenceDetector(const Analysis& original, int length)
    : m_width(original.width)
    , m_height(original.height)
    , m_length(length)
{
    if (length < 1)
        throw Error(err::SubscriptOutOfRange, "watermark length " + std::to_string(length) + " is below 1");
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
    if (suspect.width != m_width || suspect.height != m_height)
        throw Error(err::SizeMismatch,
            "the suspect picture is " + sizeText(suspect.width, suspect.height) + " but the original is "
                + sizeText(m_width, m_height) + "; coefficients of different sizes cannot be compared");
    std::vector<double> x(std::size_t(m_length), 0.0);
    const double* c1 = suspect.coeffs.data();
    for (std::size_t k = 0; k < m_positions.size(); ++k)
        x[k] = c1[m_positions[k]] / m_original[k] - 1.0;
    return x;
}

double ReferenceDetector::similarity(std::span<const double> extracted, std::span<const double> values)
{
    double sxw = 0.0, sww = 0.0, sxx = 0.0;
    const std::size_t n = std::min(extracted.size(), values.size());
    for (std::size_t k = 0; k < n; ++k) {
        sxw += extracted[k] * values[k];
        sww += values[k] * values[k];
        sxx += extracted[k] * extracted[k];
    }
    for (std::size_t k = n; k < values.size(); ++k)
        sww += values[k] * values[k];
    const double product = sxx * sww;
    if (!(product > 0.0)) return 0.0;
    return sxw / std::sqrt(product);
}

DetectResult ReferenceDetector::detect(
    std::span<const double> extracted, const Watermark& watermark, double threshold) const
{
    if (watermark.alpha == 0.0)
        throw Error(err::ZeroAlpha, "the watermark's alpha is 0, so no embedded value can be extracted");
    if (int(watermark.values.size()) != m_length)
        throw Error(err::InvalidCall,
            "the watermark has " + std::to_string(watermark.values.size())
                + " values, the detection was set up for " + std::to_string(m_length));
    bool allZero = true;
    for (double w : watermark.values)
        allZero = allZero && w == 0.0;
    if (allZero)
        throw Error(err::ZeroWatermark, "every value of the watermark is 0, so no similarity exists");

    DetectResult r;
    r.similarity = similarity(extracted, watermark.values);
    if (watermark.alpha < 0) r.similarity = -r.similarity;
    r.threshold = threshold;
    r.found = r.similarity > threshold;
    r.coefficients = coefficients();
    r.z = r.similarity * std::sqrt(double(m_length));
    r.falsePositive = falsePositiveProbability(r.similarity, m_length);
    r.originalWidth = r.suspectWidth = m_width;
    r.originalHeight = r.suspectHeight = m_height;
    return r;
}

DetectResult ReferenceDetector::detect(
    const Analysis& suspect, const Watermark& watermark, double threshold) const
{
    return detect(extract(suspect), watermark, threshold);
}

double falsePositiveProbability(double s, int n)
{
    return 0.5 * std::erfc(s * std::sqrt(double(n)) / std::sqrt(2.0));
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
