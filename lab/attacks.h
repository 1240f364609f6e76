// Attacks on marked pictures: the distortions a picture meets in the wild, used to
// measure how well a watermark survives them.
#pragma once

#include "image/picture.h"

#include <cstdint>
#include <string>
#include <vector>

namespace pelinor {

// Every attack reads a 24-bit picture (Error err::Not24Bit otherwise) and returns a new
// 24-bit picture of the same size and row order; the input is never modified.

// Re-encodes as JPEG at quality 1..100 and decodes again.
PictureRef attackJpeg(const Picture& picture, int quality);

// Adds Gaussian noise of standard deviation sigma (in grey levels) to each channel
// independently, then limits to 0..255 and rounds. The same seed gives the same noise.
PictureRef attackNoise(const Picture& picture, double sigma, std::uint64_t seed);

// Separable Gaussian blur of standard deviation sigma (pixels, kernel radius 3 sigma);
// edges are extended.
PictureRef attackBlur(const Picture& picture, double sigma);

// Resizes by the factor f (each side, at least one pixel) and back to the original size
// with a triangle filter widened when shrinking, so shrinking averages areas.
PictureRef attackScale(const Picture& picture, double f);

// Keeps the centred rectangle holding the fraction f (0..1) of the area, with the
// picture's aspect ratio, and takes every other pixel from `fill` (same size).
PictureRef attackCrop(const Picture& picture, double f, const Picture& fill);

// Requantizes every channel to `levels` (2..256) evenly spaced values over 0..255.
PictureRef attackRequantize(const Picture& picture, int levels);

// Resampling one picture to another size, shared by the scale attack.
PictureRef resizePicture(const Picture& picture, int width, int height);

// One attack with its parameter, as the command line and the evaluation name them.
struct Attack {
    enum class Kind { Jpeg, Noise, Blur, Scale, Crop, Requantize };
    Kind kind = Kind::Jpeg;
    double parameter = 0.0;
};

// Checks the parameter's range; Error err::InvalidCall naming the attack otherwise.
void validateAttack(const Attack& attack);

// Applies one attack. `original` fills the cropped-away area; `seed` drives the noise.
PictureRef applyAttack(
    const Picture& picture, const Attack& attack, const Picture* original, std::uint64_t seed);

// "jpeg", "noise", ... and a short label such as "JPEG Q=75".
std::string attackName(Attack::Kind kind);
std::string attackLabel(const Attack& attack);

} // namespace pelinor
