#include "watermark/detect.h"

#include "base/error.h"
#include "obrada/dct.h"
#include "obrada/selection.h"
#include "watermark/evidence.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

namespace pelinor {

Significant selectSignificant(const Plane& c0, int length)
{
    const double threshold = OdrediPrag(c0, length);
    Significant s;
    forEachSignificant(c0, threshold, [&](int u, int v, long long i) {
        if (i >= length)
            throw Error(err::SubscriptOutOfRange,
                "Subscript out of range: more significant coefficients than the " + std::to_string(length)
                    + " watermark values");
        const std::size_t offset = std::size_t(u) * std::size_t(c0.n2()) + std::size_t(v);
        s.offsets.push_back(offset);
        s.values.push_back(c0.data()[offset]);
    });
    return s;
}

std::vector<double> extractRatios(const Significant& s, const Plane& c1, int length, double gain)
{
    std::vector<double> r(std::size_t(length), 0.0);
    for (std::size_t i = 0; i < s.offsets.size(); ++i) {
        const double c = gain == 1.0 ? c1.data()[s.offsets[i]] : c1.data()[s.offsets[i]] * gain;
        r[i] = c / s.values[i] - 1.0;
    }
    return r;
}

double similarityOfRatios(std::span<const double> ratios, const Watermark& watermark)
{
    // X(i) = (C1 / C0 - 1) / alpha, evaluated in that order.
    std::vector<double> x(ratios.begin(), ratios.end());
    for (double& v : x)
        v /= watermark.alpha;
    return normalisedCorrelation(x, watermark.values);
}

Analysis analysePicture(const Picture& picture, Depths depths)
{
    if (depths == Depths::Only24Bit) require24Bit(picture);
    Analysis analysis;
    analysis.width = picture.width();
    analysis.height = picture.height();
    analysis.peak = anyLuminanceInto(picture, analysis.coeffs);
    DirektniDCT(analysis.coeffs, analysis.coeffs);
    return analysis;
}

void requireSameSize(int originalWidth, int originalHeight, int suspectWidth, int suspectHeight)
{
    if (originalWidth != suspectWidth || originalHeight != suspectHeight)
        throw Error(err::SizeMismatch,
            "The suspect picture is " + sizeText(suspectWidth, suspectHeight) + " pixels but the original is "
                + sizeText(originalWidth, originalHeight)
                + "; their coefficients can only be compared at the same size");
}

void checkComparable(
    const Watermark& watermark, int originalWidth, int originalHeight, int suspectWidth, int suspectHeight)
{
    requireUsableWatermark(watermark);
    requireSameSize(originalWidth, originalHeight, suspectWidth, suspectHeight);
}

double normalisedCorrelation(std::span<const double> extracted, std::span<const double> values)
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
    // A sum that is not finite would make the similarity NaN, which compares as neither
    // found nor larger than any other: refuse it, naming which side overflowed. Checked on
    // the sums, where it costs nothing per value.
    if (!std::isfinite(sww))
        throw Error(err::Overflow,
            "Overflow: the watermark's values are too large to compute with (the sum of their squares "
            "is not a finite number)");
    if (!std::isfinite(sxx))
        throw Error(err::Overflow,
            "Overflow: the values extracted from the suspect are too large to compute with (the sum of "
            "their squares is not a finite number)");
    if (!std::isfinite(sxw))
        throw Error(err::Overflow,
            "Overflow: the correlation of the extracted values with the watermark's is not a finite number");
    // Nothing extracted (a suspect identical to the original) is simply no watermark.
    if (!(sxx > 0.0 && sww > 0.0)) return 0.0;
    // Two large (or tiny) but finite sums can overflow (or underflow) their product: the
    // roots are then taken apart.
    const double product = sxx * sww;
    if (std::isnormal(product)) return sxw / std::sqrt(product);
    return sxw / (std::sqrt(sxx) * std::sqrt(sww));
}

DetectResult verdict(
    double similarity, double threshold, long long coefficients, int length, bool statisticHolds)
{
    DetectResult r;
    r.similarity = similarity;
    r.threshold = threshold;
    r.found = similarity > threshold;
    r.coefficients = coefficients;
    r.z = similarity * std::sqrt(double(length));
    if (statisticHolds) {
        r.logFalsePositive = logFalsePositive(similarity, length);
        r.falsePositive = std::exp(r.logFalsePositive);
    } else {
        r.logFalsePositive = r.falsePositive = std::numeric_limits<double>::quiet_NaN();
    }
    return r;
}

bool statisticHolds(const Watermark& watermark) noexcept
{
    return watermark.mean == 0.0;
}

Extraction extractWatermark(const Analysis& original, const Watermark& watermark, const Analysis& suspect)
{
    const Plane& c0 = original.coeffs;
    const Plane& c1 = suspect.coeffs;
    requireSameSize(c0.n1(), c0.n2(), c1.n1(), c1.n2());
    const int length = int(watermark.values.size());
    const Significant s = selectSignificant(c0, length);
    Extraction x;
    x.values = extractRatios(s, c1, length, original.peak / suspect.peak);
    for (double& v : x.values)
        v /= watermark.alpha;
    x.significant = s.count();
    return x;
}

DetectResult correlate(
    const Analysis& original, const Watermark& watermark, const Analysis& suspect, double threshold)
{
    checkComparable(watermark, original.width, original.height, suspect.width, suspect.height);
    const Extraction x = extractWatermark(original, watermark, suspect);
    DetectResult r = verdict(normalisedCorrelation(x.values, watermark.values), threshold, x.significant,
        int(watermark.values.size()), statisticHolds(watermark));
    r.originalWidth = original.width;
    r.originalHeight = original.height;
    r.suspectWidth = suspect.width;
    r.suspectHeight = suspect.height;
    return r;
}

} // namespace pelinor
