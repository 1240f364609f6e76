// Embedding a watermark into the luminance DCT of a 24-bit picture.
#pragma once

#include <string>

#include "image/picture.h"
#include "watermark/watermark_file.h"

namespace pelinor {

struct EmbedResult {
    PictureRef marked;      // a new picture; the source is never modified
    long long changed = 0;  // coefficients scaled
    double psnr = 0.0;      // marked against source, all three channels, dB (infinity if identical)
};

// The source must be 24-bit (Error err::Not24Bit with kOnly24BitText otherwise).
EmbedResult embedWatermark(const Picture& source, const Watermark& watermark);

}  // namespace pelinor
