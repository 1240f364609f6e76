// Tone: the curves that take a copy's values back to the original's, fitted from pairs
// of values the two pictures have at the same place. Where the pairs come from (the
// alignment) is the registration's business; this is the statistics of the values alone.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

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

} // namespace pelinor
