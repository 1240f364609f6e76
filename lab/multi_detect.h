// Detection against one original many times over: the original's threshold and
// significant positions are found once, and each suspect's values are extracted once,
// so testing many suspects or many watermarks costs a dot product each.
#pragma once

#include "watermark/detect.h"

#include <cstddef>
#include <span>
#include <vector>

namespace pelinor {

class ReferenceDetector {
public:
    // The original's analysis and the watermark length N (>= 1, error 9 otherwise).
    ReferenceDetector(const Analysis& original, int length);

    int length() const noexcept { return m_length; }
    long long coefficients() const noexcept { return static_cast<long long>(m_positions.size()); }
    int width() const noexcept { return m_width; }
    int height() const noexcept { return m_height; }

    // X(i) = C1/C0 - 1 at the original's significant positions in scan order, that is the
    // embedded values times alpha; entries that no coefficient reached stay 0. A suspect
    // of another size is refused as the detection refuses it.
    std::vector<double> extract(const Analysis& suspect) const;

    // The verdict for one watermark from values extract() gave. The size of alpha does not
    // change the similarity, only its sign does. Refuses what the detection refuses.
    DetectResult detect(std::span<const double> extracted, const Watermark& watermark,
        double threshold = kDefaultThreshold) const;
    DetectResult detect(
        const Analysis& suspect, const Watermark& watermark, double threshold = kDefaultThreshold) const;

private:
    int m_width = 0;
    int m_height = 0;
    int m_length = 0;
    std::vector<std::size_t> m_positions; // element offsets into the coefficient matrix
    std::vector<double> m_original; // C0 at those positions
};

// When many watermarks are tested against one suspect, the chance that at least one of them,
// never embedded, reaches similarity s by chance: 1 - prod(1 - p_k) over their lengths, with
// p_k = falsePositiveProbability(s, length_k). With one length that is 1 - (1 - p)^K.
double familyWiseFalsePositive(double s, std::span<const int> lengths);

} // namespace pelinor
