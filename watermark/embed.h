// Embedding a watermark into the luminance DCT of a 24-bit picture.
#pragma once

#include "image/picture.h"
#include "obrada/array2d.h"
#include "watermark/watermark_file.h"

#include <string>

namespace pelinor {

struct EmbedResult {
    PictureRef marked; // embedWatermark: a new picture, the source is never modified
    long long changed = 0; // coefficients scaled
    double psnr = 0.0; // marked against source, all three channels, dB (infinity if identical)
};

// The source must be 24-bit (Error err::Not24Bit with kOnly24BitText otherwise).
EmbedResult embedWatermark(const Picture& source, const Watermark& watermark);
// The same into the picture itself, whose pixels become the marked ones (`marked` is
// `picture`); for callers that do not need the source afterwards, at less memory. A
// failure before the pixels are written leaves them as they were.
EmbedResult embedWatermarkInPlace(const PictureRef& picture, const Watermark& watermark);

// The luminance of a 24-bit picture minus 128, as the plane the DCT takes: L(x, y) is the
// luminance byte of pixel x in row y counted from the bottom of the image, as PretvoriUYCbCr
// gives it, minus 128. That is the stored order of an ordinary bottom-up bitmap; a picture
// stored top-down gives the same plane, so the storage order of an original, its marked copy
// and a suspect never matters.
Plane luminancePlane(const Picture& picture);
// The same into `lum`, reusing its memory when it already has the picture's size.
void luminanceInto(const Picture& picture, Plane& lum);

// Threshold for the watermark's length, then every significant coefficient scaled by
// (alpha * x(i) + 1) in scan order. Returns how many were scaled. More significant
// coefficients than values (possible only through the threshold's cap) is error 9.
long long embedCoefficients(Plane& coeffs, const Watermark& watermark);

} // namespace pelinor
