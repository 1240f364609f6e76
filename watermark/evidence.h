// The evidence of a similarity: how likely a watermark that was never embedded is to reach
// it by chance. For a watermark of N independent zero-mean Gaussian values and any fixed
// extracted sequence, the normalised correlation is distributed as one coordinate of a
// uniformly random unit vector in N dimensions: (1 + s) / 2 ~ Beta((N - 1) / 2, (N - 1) / 2),
// which for N >= 2 is Student's t with N - 1 degrees of freedom in t = s sqrt((N - 1) / (1 - s^2)),
// and for N = 1 is -1 or +1 with probability 1/2 each. The figures are exact, not the normal
// approximation, and kept as natural logarithms so that 1e-300 and far smaller do not round
// to 0.
#pragma once

#include <span>
#include <string>

namespace pelinor {

// ln P(S >= s) for a never-embedded watermark of length n >= 1; -infinity when s cannot be
// reached (s > 1, or s = 1 for n >= 2), 0 when it always is (s <= -1).
double logFalsePositive(double s, int n);

// When many watermarks are tested against one suspect: ln of the chance that at least one
// of them, never embedded, reaches s: 1 - prod(1 - p_k) over their lengths, exact in
// logarithms however small. 0 files: -infinity.
double logFamilyWise(double s, std::span<const int> lengths);

// A probability from its logarithm, for people: "0.159", "2.7e-80", "3.1e-412", "0".
std::string formatProbability(double logP);

// The smallest similarity at which a watermark of n values is evidence at maxFalsePositive;
// above 1 (infinity) when none is, as for n = 1.
double similarityFor(double maxFalsePositive, int n);

// The shortest watermark for which a similarity of `s` is evidence at `maxFalsePositive`.
int shortestLengthFor(double s, double maxFalsePositive);

} // namespace pelinor
