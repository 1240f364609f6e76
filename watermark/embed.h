// Embedding a watermark into the luminance DCT of a 24-bit picture.
#pragma once

#include "image/picture.h"
#include "obrada/array2d.h"
#include "watermark/luminance.h"
#include "watermark/watermark_file.h"

#include <string>

namespace pelinor {

struct EmbedResult {
    PictureRef marked; // embedWatermark: a new picture, the source is never modified; empty in place
    long long changed = 0; // coefficients scaled
    double psnr = 0.0; // marked against source, all three channels, dB (infinity if identical)
};

// With Only24Bit the source must be 24-bit (Error err::Not24Bit with kOnly24BitText
// otherwise). With Any, 8-bit colour is marked exactly as 24-bit; grey is its own
// luminance; 16-bit samples are marked at their precision (luminance 0..65535), each
// colour channel moving by the luminance change. Alpha is copied unchanged, and the
// marked picture keeps the source's channels, depth, metadata and source description.
EmbedResult embedWatermark(
    const Picture& source, const Watermark& watermark, Depths depths = Depths::Only24Bit);
// The same into the 24-bit picture itself, whose pixels become the marked ones (`marked`
// stays empty: the caller holds the picture); for callers that do not need the source
// afterwards, at less memory. A failure before the pixels are written leaves them as they were.
EmbedResult embedWatermarkInPlace(Picture& picture, const Watermark& watermark);

// Threshold for the watermark's length, then every significant coefficient scaled by
// (alpha * x(i) + 1) in scan order. Returns how many were scaled. More significant
// coefficients than values (possible only through the threshold's cap) is error 9.
// Refuses what detection refuses (alpha 0, all-zero values), a picture with fewer non-zero
// candidates than values (err::TooFewCoefficients) and marked coefficients too large to
// compute with (err::Overflow). The embeddings above also refuse a marked picture that
// came out identical to the source (err::NothingEmbedded): nothing would be detectable.
long long embedCoefficients(Plane& coeffs, const Watermark& watermark);

// err::TooFewCoefficients, naming the counts, when the threshold OdrediPrag gave for
// `length` leaves fewer than `length` significant coefficients because the picture has no
// more non-zero candidates (a constant picture has none).
void requireRoomForWatermark(const Plane& coeffs, double threshold, int length);
// The same refusal from the size alone, before any transform: a width x height picture has
// (width - 1) x (height - 1) candidates, fewer than `length` (a picture one pixel wide has none).
void requireCandidates(int width, int height, int length);

} // namespace pelinor
