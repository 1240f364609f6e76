// Tone: the curves that take a copy's values back to the original's, fitted from pairs
// of values the two pictures have at the same place. Where the pairs come from (the
// alignment) is the registration's business; this is the statistics of the values alone.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace pelinor {

using ToneCurves = std::array<std::array<std::uint8_t, 256>, 3>; // blue, green, red

ToneCurves identityCurves();

// Per channel and per original value u (0..255): how many suspect values were seen
// there, their sum and their sum of squares.
struct ToneSamples {
    std::array<std::array<double, 256>, 3> sum{}, sumSquares{}, count{};

    void add(int channel, std::uint8_t originalValue, double suspectValue)
    {
        const std::size_t c = std::size_t(channel), u = originalValue;
        sum[c][u] += suspectValue;
        sumSquares[c][u] += suspectValue * suspectValue;
        count[c][u] += 1;
    }
};

struct ToneFit {
    ToneCurves curves{}; // the suspect's values to the original's
    bool used = false; // false: the curves are the identity
};

// Per channel, the curve that takes O's values to S's mean at the same place, and its
// inverse as the curve applied to S. The fit runs that way round because O is exact and S
// is not: S's values against O's are unbiased whatever noise S carries, where O's against
// S's would flatten with it (and take a noisy copy for a contrast edit). The curves are
// used only where they clearly fit better than the values as they are.
ToneFit fitTone(const ToneSamples& samples);

// A smooth gain field: the suspect's luminance over the original's as exp of a low-order
// polynomial in the position (u, v in -1..1 across the long side, 0 at the centre): a
// vignette or any smooth fall of light. Fitted from pairs of values at sample positions,
// on their logarithms, so that dark and bright places weigh alike.
struct GainSamples {
    std::vector<std::array<double, 4>> pairs; // u, v, original value, suspect value

    void add(double u, double v, double originalValue, double suspectValue)
    {
        pairs.push_back({u, v, originalValue, suspectValue});
    }
};

struct GainField {
    static constexpr int kTerms = 7; // 1, u, v, u², uv, v², (u² + v²)²
    std::array<double, kTerms> coefficients{};
    bool used = false; // false: gain 1 everywhere

    double at(double u, double v) const;
};

// The field, used only where it clearly explains the ratio better than one constant does
// and varies by a few per cent across the picture: a copy that differs by noise, a tone
// edit or a watermark alone keeps a gain of 1.
GainField fitGain(const GainSamples& samples);

} // namespace pelinor
