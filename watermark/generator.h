// Generation of Gaussian watermarks.
#pragma once

#include <cstdint>
#include <string>

namespace pelinor {

// Writes a watermark file of genSize values, normal with mean genMean and standard
// deviation genVar. genSeed 0 seeds from the system's entropy source; any other seed
// gives a reproducible sequence. The file is replaced atomically.
void CoxGenMark(const std::string& datZig, double genAlpha, std::int32_t genSize, std::int32_t genSeed,
                double genMean, double genVar);

}  // namespace pelinor
