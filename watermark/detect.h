// The steps of detecting a watermark: the luminance DCT of a picture, the original's
// significant coefficients, the values extracted at them, and their normalised correlation
// with the watermark's. watermark/detector.h puts them together for every front end.
#pragma once

#include "image/picture.h"
#include "obrada/array2d.h"
#include "watermark/luminance.h"
#include "watermark/watermark_file.h"

#include <cstddef>
#include <limits>
#include <span>
#include <vector>

namespace pelinor {

inline constexpr double kDefaultThreshold = 0.7;

// The luminance DCT of one picture; with Only24Bit, of a 24-bit picture only
// (Error err::Not24Bit otherwise).
struct Analysis {
    int width = 0;
    int height = 0;
    Plane coeffs;
    double peak = 255.0; // the luminance scale: 255, or 65535 for 16-bit samples
};
Analysis analysePicture(const Picture& picture, Depths depths = Depths::Only24Bit);

struct DetectResult {
    double similarity = 0.0;
    bool found = false;
    double threshold = kDefaultThreshold;
    long long coefficients = 0; // significant coefficients in the original
    double z = 0.0; // similarity * sqrt(N)
    // P(s >= similarity) for a never-embedded watermark (watermark/evidence.h), and its
    // natural logarithm, which stays exact where the probability underflows. NaN for a
    // watermark whose mean is not 0, for which the figure does not hold.
    double falsePositive = 0.0;
    double logFalsePositive = 0.0;
    // How the verdict was reached: by the false-positive probability (at most
    // maxFalsePositive), or by the similarity (above threshold, and when maxFalsePositive is
    // above 0 with the probability at most that too).
    bool byEvidence = false;
    double maxFalsePositive = 0.0;
    // When many watermarks were tested against the suspect together: ln of the chance that
    // any of them, never embedded, reaches this similarity; NaN otherwise.
    double logFamilyWise = std::numeric_limits<double>::quiet_NaN();
    int originalWidth = 0, originalHeight = 0, suspectWidth = 0, suspectHeight = 0;
};

// The original's significant coefficients for a watermark of `length` values, in scan
// order: where they lie in the coefficient matrix, and their values. More of them than
// `length` (only the threshold's cap can cause it) is error 9.
struct Significant {
    std::vector<std::size_t> offsets;
    std::vector<double> values;
    long long count() const noexcept { return static_cast<long long>(offsets.size()); }
};
Significant selectSignificant(const Plane& c0, int length);

// C1(u, v) / C0(u, v) - 1 at the significant positions, in scan order: the embedded values
// times alpha. A suspect on another luminance scale than the original (8-bit against
// 16-bit) has its coefficients multiplied by `gain`, the ratio of the scales, first.
// Entries that no coefficient reached stay 0; the result has `length` entries.
std::vector<double> extractRatios(const Significant& s, const Plane& c1, int length, double gain = 1.0);

// The extracted sequence: X(i) = (C1(u, v) / C0(u, v) - 1) / alpha at the original's
// significant positions, in scan order. Entries that no coefficient reached stay 0.
struct Extraction {
    std::vector<double> values; // the watermark's length
    long long significant = 0;
};
Extraction extractWatermark(const Analysis& original, const Watermark& watermark, const Analysis& suspect);

// Refuses a suspect whose size differs from the original's (err::SizeMismatch), naming both.
void requireSameSize(int originalWidth, int originalHeight, int suspectWidth, int suspectHeight);
// requireUsableWatermark, then requireSameSize.
void checkComparable(
    const Watermark& watermark, int originalWidth, int originalHeight, int suspectWidth, int suspectHeight);

// The normalised correlation (the cosine of the angle) of extracted values with a
// watermark's values: SXW / sqrt(SXX * SWW), the sums taken in ascending index. Values
// beyond the extracted ones count as extracted zeros. 0 when either sequence is all zeros.
double normalisedCorrelation(std::span<const double> extracted, std::span<const double> values);

// The similarity of a watermark with ratios extractRatios gave: the ratios divided by
// alpha, then correlated with the watermark's values.
double similarityOfRatios(std::span<const double> ratios, const Watermark& watermark);

// The result for a similarity by the classic rule: found above the threshold; z and the
// chance of a false positive for a watermark of `length` values (NaN unless
// `statisticHolds`, see DetectResult). The sizes are left to the caller.
DetectResult verdict(
    double similarity, double threshold, long long coefficients, int length, bool statisticHolds = true);

// True when the false-positive figures hold for the watermark: its values were drawn with
// mean 0.
bool statisticHolds(const Watermark& watermark) noexcept;

// Steps after both analyses. Refuses alpha 0, an all-zero watermark and differing sizes.
DetectResult correlate(const Analysis& original, const Watermark& watermark, const Analysis& suspect,
    double threshold = kDefaultThreshold);

} // namespace pelinor
