// Checking a marked picture as a lossy encoder writes it: the encoded bytes decoded again,
// their PSNR against the original and the mark detected in them, and the lowest quality
// at which the mark is still found.
#pragma once

#include "image/picture.h"
#include "watermark/detector.h"
#include "watermark/watermark_file.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

namespace pelinor {

// PSNR of b against a over the three 8-bit colour channels, in dB (infinity for identical
// pictures); pictures of any depth are compared through their 8-bit colour memory.
// err::SizeMismatch for pictures of different sizes.
double colourPsnr(const Picture& a, const Picture& b);

struct WrittenCheck {
    double psnr = 0.0; // the decoded file against the original
    DetectResult result; // the mark in the decoded file, as it stands
};

// Decodes `bytes` and tests them against the original under `rule`.
WrittenCheck checkWritten(const Reference& original, const Watermark& watermark,
    std::span<const std::uint8_t> bytes, const DecisionRule& rule);

// The encoding of the marked picture at a quality 1..100.
using EncodeAtQuality = std::function<std::vector<std::uint8_t>(int quality)>;

// The lowest quality above `failing` whose encoding keeps the mark findable, searched by
// bisection (the mark survives better at higher qualities); none when even 100 loses it.
std::optional<int> lowestFindableQuality(const Reference& original, const Watermark& watermark,
    const DecisionRule& rule, const EncodeAtQuality& encode, int failing);

} // namespace pelinor
