// Generation of Gaussian watermarks.
#pragma once

#include "base/atomic_file.h"
#include "watermark/watermark_file.h"

#include <array>
#include <cstdint>
#include <random>
#include <string>

namespace pelinor {

// Writes a watermark file of genSize values, normal with mean genMean and standard
// deviation genVar. genSeed 0 seeds from the system's entropy source; any other seed
// gives a reproducible sequence. The file is replaced atomically (the notes say what a
// replaced file could not keep); a length over kMaxWatermarkLength is error 7, a value that
// overflows error 6, and neither touches it.
WriteNotes CoxGenMark(const std::string& datZig, double genAlpha, std::int32_t genSize, std::int32_t genSeed,
    double genMean, double genVar);

// A key: 256 bits from which a watermark's values are generated again whenever needed, so
// that a record of many keys holds 32 bytes for each instead of its values.
using KeySeed = std::array<std::uint32_t, 8>;
// 256 bits from the operating system's entropy (error 57 when it has none to give).
KeySeed entropySeed();
// The watermark of a key: `length` values by the pair procedure from a generator seeded
// with the eight words (std::seed_seq, so the same on every platform), scaled by
// `deviation` and shifted by `mean`. Errors as CoxGenMark's.
Watermark generateWatermark(
    const KeySeed& seed, std::int32_t length, double alpha, double mean, double deviation);

// The steps of the pair procedure, exposed for tests.
// One single-precision draw in [0, 1) (24 random bits, so never 1).
float uniformDraw(std::mt19937& generator);
// u from a draw r: k = floor(65536·r − 32768) as a 16-bit value, m = its low 15 bits,
// u = (m / 32768)·2 − 1, so −1 ≤ u ≤ 1 − 2^−14.
double pairComponent(float r);
// The polar step: false (draw again) when s = v·v + u·u is 0 or at least 1; otherwise
// x1 = f·u and x2 = f·v with f = sqrt(−2·ln s / s), two standard normal deviates.
bool polarPair(double u, double v, double& x1, double& x2);

} // namespace pelinor
