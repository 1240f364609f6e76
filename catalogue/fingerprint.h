// A picture's content in 64 numbers, kept for every original, from which the catalogue finds
// the original of a copy that was resized, recompressed, re-toned, mirrored, turned by right
// angles or cropped to 80 % of each side.
//
// Whatever such a copy kept of the original, it kept the central window of 60 % of each side
// (a crop to 80 % per side can start no further than 20 % in). The fingerprint is that
// window's mean luminance over 8 x 8 cells, brought to mean 0 and length 1, so brightness and
// contrast drop out. A suspect is described once for every way the window may lie in it: each
// of the eight turns and mirrors, and crops to 100, 95, 90, 85 and 80 % of each side at the start,
// middle or end; the best cosine over those views is its score against an original.
// Registration then confirms (or refuses) the originals that score best.
#pragma once

#include "image/picture.h"

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace pelinor {

inline constexpr int kFingerprintSide = 8;
inline constexpr int kFingerprintSize = kFingerprintSide * kFingerprintSide;
using Fingerprint = std::array<float, kFingerprintSize>;

// The original's fingerprint (any depth; read through its 8-bit colour memory).
Fingerprint fingerprintOf(const Picture& picture);

// As stored in the catalogue: a version byte, then the 64 values as little-endian floats.
std::vector<std::uint8_t> encodeFingerprint(const Fingerprint& f);
// False for bytes of another version or length.
bool decodeFingerprint(std::span<const std::uint8_t> bytes, Fingerprint& out);

// Every view of a suspect, each a fingerprint.
std::vector<Fingerprint> suspectViews(const Picture& suspect);

// The cosine of two fingerprints: 1 for the same content, near 0 for unrelated pictures.
float fingerprintScore(const Fingerprint& a, const Fingerprint& b) noexcept;

// The fingerprints of many originals in one block of memory, searched by brute force.
class FingerprintIndex {
public:
    void add(long long id, const Fingerprint& f);
    std::size_t size() const noexcept { return m_ids.size(); }

    struct Match {
        long long id = 0;
        float score = 0.0f; // the best over the views
    };
    // The originals scoring at least minScore, best first, at most `limit` of them.
    std::vector<Match> search(std::span<const Fingerprint> views, float minScore, std::size_t limit) const;

private:
    std::vector<long long> m_ids;
    std::vector<float> m_values; // kFingerprintSize per original
};

} // namespace pelinor
