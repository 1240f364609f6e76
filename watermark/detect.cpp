#include "watermark/detect.h"

#include "base/error.h"
#include "obrada/dct.h"
#include "obrada/selection.h"
#include "watermark/embed.h"

#include <algorithm>
#include <cmath>
#include <string>

namespace pelinor {

namespace {

// The luminance of a picture and its transform, both in `plane`. Returns the luminance
// scale: 255, or 65535 for 16-bit samples.
double transformLuminance(const Picture& picture, Plane& plane)
{
    double peak = 255.0;
    if (marksThroughColourMemory(picture)) {
        colourLuminanceInto(picture, plane);
    } else {
        deepLuminanceInto(picture, plane);
        if (picture.sampleFormat().depth == 16) peak = 65535.0;
    }
    DirektniDCT(plane, plane);
    return peak;
}

// The original's significant coefficients in scan order, paired with the watermark's values:
// where they lie in the coefficient matrix, and their values.
struct Significant {
    std::vector<std::size_t> offsets;
    std::vector<double> values;
};

// More significant coefficients than watermark values (only the threshold's cap can cause
// it) is error 9.
Significant selectSignificant(const Plane& c0, const Watermark& watermark)
{
    const double threshold = OdrediPrag(c0, watermark.length);
    const long long available = static_cast<long long>(watermark.values.size());
    Significant s;
    forEachSignificant(c0, threshold, [&](int u, int v, long long i) {
        if (i >= available)
            throw Error(err::SubscriptOutOfRange,
                "Subscript out of range: more significant coefficients than the " + std::to_string(available)
                    + " watermark values");
        const std::size_t offset = std::size_t(u) * std::size_t(c0.n2()) + std::size_t(v);
        s.offsets.push_back(offset);
        s.values.push_back(c0.data()[offset]);
    });
    return s;
}

// X(i) = (C1(u, v) / C0(u, v) - 1) / alpha, evaluated in that order, at the original's positions.
// A suspect on another luminance scale (8-bit against a 16-bit original) has its coefficients
// multiplied by `gain`, the ratio of the scales, first.
Extraction extractAt(const Significant& s, const Plane& c1, const Watermark& watermark, double gain = 1.0)
{
    Extraction x;
    x.values.assign(watermark.values.size(), 0.0);
    x.significant = static_cast<long long>(s.offsets.size());
    for (std::size_t i = 0; i < s.offsets.size(); ++i) {
        const double c = gain == 1.0 ? c1.data()[s.offsets[i]] : c1.data()[s.offsets[i]] * gain;
        x.values[i] = (c / s.values[i] - 1.0) / watermark.alpha;
    }
    return x;
}

DetectResult resultFor(const Extraction& x, const Watermark& watermark, double threshold)
{
    return verdict(normalisedCorrelation(x.values, watermark.values), threshold, x.significant,
        int(watermark.values.size()));
}

} // namespace

Analysis analysePicture(const Picture& picture, Depths depths)
{
    if (depths == Depths::Only24Bit) require24Bit(picture);
    Analysis analysis;
    analysis.width = picture.width();
    analysis.height = picture.height();
    analysis.peak = transformLuminance(picture, analysis.coeffs);
    return analysis;
}

void requireUsableWatermark(const Watermark& watermark)
{
    if (watermark.alpha == 0.0)
        throw Error(err::ZeroAlpha,
            "The watermark's alpha is 0: the embedded values cannot be extracted (they are divided by it)");
    if (std::all_of(watermark.values.begin(), watermark.values.end(), [](double w) { return w == 0.0; }))
        throw Error(
            err::ZeroWatermark, "Every value of the watermark is 0: there is nothing to correlate with");
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

double falsePositiveProbability(double s, int n)
{
    return 0.5 * std::erfc(s * std::sqrt(double(n)) / std::sqrt(2.0));
}

DetectResult verdict(double similarity, double threshold, long long coefficients, int length)
{
    DetectResult r;
    r.similarity = similarity;
    r.threshold = threshold;
    r.found = similarity > threshold;
    r.coefficients = coefficients;
    r.z = similarity * std::sqrt(double(length));
    r.falsePositive = falsePositiveProbability(similarity, length);
    return r;
}

Extraction extractWatermark(const Analysis& original, const Watermark& watermark, const Analysis& suspect)
{
    const Plane& c0 = original.coeffs;
    const Plane& c1 = suspect.coeffs;
    requireSameSize(c0.n1(), c0.n2(), c1.n1(), c1.n2());
    return extractAt(selectSignificant(c0, watermark), c1, watermark, original.peak / suspect.peak);
}

DetectResult correlate(
    const Analysis& original, const Watermark& watermark, const Analysis& suspect, double threshold)
{
    checkComparable(watermark, original.width, original.height, suspect.width, suspect.height);
    DetectResult r = resultFor(extractWatermark(original, watermark, suspect), watermark, threshold);
    r.originalWidth = original.width;
    r.originalHeight = original.height;
    r.suspectWidth = suspect.width;
    r.suspectHeight = suspect.height;
    return r;
}

DetectResult detectWatermark(const Picture& original, const Watermark& watermark, const Picture& suspect,
    double threshold, Depths depths)
{
    // Every refusal comes before the transforms, in the order the steps would meet them.
    if (depths == Depths::Only24Bit) {
        require24Bit(original);
        require24Bit(suspect);
    }
    checkComparable(watermark, original.width(), original.height(), suspect.width(), suspect.height());
    // One plane serves both transforms: of the original only the significant coefficients
    // are kept before the suspect's luminance takes its place.
    Plane plane;
    const double originalPeak = transformLuminance(original, plane);
    const Significant significant = selectSignificant(plane, watermark);
    const double suspectPeak = transformLuminance(suspect, plane);
    DetectResult r = resultFor(
        extractAt(significant, plane, watermark, originalPeak / suspectPeak), watermark, threshold);
    r.originalWidth = r.suspectWidth = original.width();
    r.originalHeight = r.suspectHeight = original.height();
    return r;
}

} // namespace pelinor
