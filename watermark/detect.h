// Detecting a watermark: normalised correlation of the extracted and the original sequence.
#pragma once

#include "image/picture.h"
#include "obrada/array2d.h"
#include "watermark/embed.h"
#include "watermark/watermark_file.h"

#include <span>
#include <string_view>
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
    double falsePositive = 0.0; // one-sided P(s >= similarity) for a never-embedded watermark
    int originalWidth = 0, originalHeight = 0, suspectWidth = 0, suspectHeight = 0;
};

// The extracted sequence: X(i) = (C1(u, v) / C0(u, v) - 1) / alpha at the original's
// significant positions, in scan order. Entries that no coefficient reached stay 0.
// A suspect on another luminance scale than the original (8-bit against 16-bit) has its
// coefficients brought to the original's scale first.
struct Extraction {
    std::vector<double> values; // the watermark's length
    long long significant = 0;
};
Extraction extractWatermark(const Analysis& original, const Watermark& watermark, const Analysis& suspect);

// Refuses a watermark that gives no similarity: alpha 0 (err::ZeroAlpha), by which the
// embedded values would be divided, and all-zero values (err::ZeroWatermark).
void requireUsableWatermark(const Watermark& watermark);
// Refuses a suspect whose size differs from the original's (err::SizeMismatch), naming both.
void requireSameSize(int originalWidth, int originalHeight, int suspectWidth, int suspectHeight);
// Both refusals, the watermark's first.
void checkComparable(
    const Watermark& watermark, int originalWidth, int originalHeight, int suspectWidth, int suspectHeight);

// The normalised correlation (the cosine of the angle) of extracted values with a
// watermark's values: SXW / sqrt(SXX * SWW), the sums taken in ascending index. Values
// beyond the extracted ones count as extracted zeros. 0 when either sequence is all zeros.
double normalisedCorrelation(std::span<const double> extracted, std::span<const double> values);

// One-sided probability that a never-embedded watermark of length n reaches similarity s
// (s of such a watermark is close to normal with mean 0 and deviation 1/sqrt(n)).
double falsePositiveProbability(double s, int n);

// The result for a similarity: the verdict against the threshold, z and the chance of a
// false positive for a watermark of `length` values. The sizes are left to the caller.
DetectResult verdict(double similarity, double threshold, long long coefficients, int length);

// Steps after both analyses. Refuses alpha 0, an all-zero watermark and differing sizes.
DetectResult correlate(const Analysis& original, const Watermark& watermark, const Analysis& suspect,
    double threshold = kDefaultThreshold);

// The whole detection in its fixed order of steps (watermark already read).
DetectResult detectWatermark(const Picture& original, const Watermark& watermark, const Picture& suspect,
    double threshold = kDefaultThreshold, Depths depths = Depths::Only24Bit);

} // namespace pelinor
