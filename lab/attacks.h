// Attacks on marked pictures: the distortions a picture meets in the wild, used to
// measure how well a watermark survives them.
#pragma once

#include "image/picture.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace pelinor {

// Every attack reads a 24-bit picture (Error err::Not24Bit otherwise) and returns a new
// 24-bit picture in the same row order; the input is never modified. Only crop-to,
// resize and the social-network copy change the size.

// Re-encodes as JPEG at quality 1..100 and decodes again.
PictureRef attackJpeg(const Picture& picture, int quality);

// Adds Gaussian noise of standard deviation sigma (in grey levels) to each channel
// independently, then limits to 0..255 and rounds. The same seed gives the same noise.
PictureRef attackNoise(const Picture& picture, double sigma, std::uint64_t seed);

// Gaussian blur of standard deviation sigma (pixels, kernel radius 3 sigma, rounded up);
// edges are extended.
PictureRef attackBlur(const Picture& picture, double sigma);

// Resizes by the factor f (each side, at least one pixel) and back to the original size
// (see resizePicture).
PictureRef attackScale(const Picture& picture, double f);

// Keeps the centred rectangle holding the fraction f (0..1) of the area, with the
// picture's aspect ratio, and takes every other pixel from `fill` (same size).
PictureRef attackCrop(const Picture& picture, double f, const Picture& fill);

// Requantizes every channel to `levels` (2..256) evenly spaced values over 0..255.
PictureRef attackRequantize(const Picture& picture, int levels);

// Resampling one picture to another size: shrinking averages areas, enlarging
// interpolates linearly. Error 7 for a result beyond the pixel limit.
PictureRef resizePicture(const Picture& picture, int width, int height);

// The edits copies meet on their way round, which move, resize or re-tone the picture.
// Rotation by deg degrees (counter-clockwise as seen) about the centre on the same
// canvas, the corners filled black.
PictureRef attackRotate(const Picture& picture, double deg);
// The content moved dx pixels right and dy down on the same canvas, black where it left.
PictureRef attackShift(const Picture& picture, double dx, double dy);
// Left and right exchanged.
PictureRef attackMirror(const Picture& picture);
// Keeps the centred fraction f (0..1] of each side: a smaller picture.
PictureRef attackCropTo(const Picture& picture, double f);
// Resized by f (each side, at least one pixel), not restored.
PictureRef attackResize(const Picture& picture, double f);
// Every channel value v to gain * v + offset.
PictureRef attackTone(const Picture& picture, double gain, double offset);
// Every channel value v to 255 (v / 255)^(1 / g): above 1 brightens, below darkens.
PictureRef attackGamma(const Picture& picture, double g);
// What a social network makes of an upload: the long side brought down to 1080 pixels
// (a smaller picture is left at its size), then JPEG at quality 80.
PictureRef attackSocial(const Picture& picture);

// One attack with its parameters, as the command line and the evaluation name them.
// `second` is the shift's dy and the tone's offset; mirror and social take none.
struct Attack {
    enum class Kind {
        Jpeg,
        Noise,
        Blur,
        Scale,
        Crop,
        Requantize,
        Rotate,
        Shift,
        Mirror,
        CropTo,
        Resize,
        Tone,
        Gamma,
        Social,
    };
    Kind kind = Kind::Jpeg;
    double parameter = 0.0;
    double second = 0.0;
};

// What an attack does to a picture, as reports group them: signal processing (JPEG, noise,
// blur...), geometry (moves, mirrors or resizes: registration's business) or tone.
enum class AttackFamily { Signal, Geometric, Tone };

// The values one attack parameter takes: from `min` (or above it, when aboveMin) to `max`,
// whole numbers only when `whole`.
struct ParameterRange {
    double min = 0.0;
    double max = 0.0;
    bool aboveMin = false;
    bool whole = false;
    bool contains(double v) const noexcept;
};

// One attack, declared once: its name (the command-line flag is "--" + name), the values it
// takes and their ranges, the --help line, its family, its label and the function that
// applies it. The command line, its --help, the checks, the evaluation and the
// documentation tests all read this table.
struct AttackEntry {
    Attack::Kind kind;
    const char* name; // "jpeg", "crop-to"
    const char* metavar; // "Q", "DX,DY"; null for an attack without values
    int values; // 0, 1, or 2 given as "A,B"
    ParameterRange first; // the parameter's
    ParameterRange second; // the second value's (shift's dy, tone's offset)
    const char* unit; // after the range in a refusal ("degrees"), or ""
    const char* help; // the --help line; "{range}" stands for the ranges, as rangeNote gives them
    AttackFamily family;
    std::string (*label)(const Attack& attack);
    PictureRef (*apply)(
        const Picture& picture, const Attack& attack, const Picture* original, std::uint64_t seed);
};

// Every attack, in the order the command line's help lists them.
std::span<const AttackEntry> attackTable() noexcept;
const AttackEntry& attackEntry(Attack::Kind kind);
// The --help line with its ranges filled in ("re-encode as JPEG at quality Q (1..100) ...").
std::string attackHelp(const AttackEntry& entry);
// The ranges as the help notes them: "1..100", "0 < F <= 4", "0 < GAIN <= 10, -255..255".
std::string rangeNote(const AttackEntry& entry);
// The ranges as a refusal states them: "a whole number from 1 to 100".
std::string rangeText(const AttackEntry& entry);

// Checks the parameters' ranges; Error err::InvalidCall naming the attack otherwise.
void validateAttack(const Attack& attack);

// The size of the picture an attack makes from a width x height one, and the most pixels a
// picture holds on the way (the input, the scale attack's resized copy, the result): what a
// command checks against its budget before attacking.
struct AttackSize {
    int width = 0;
    int height = 0;
    std::int64_t peakPixels = 0;
};
AttackSize attackResultSize(const Attack& attack, int width, int height);
// The most pixels a picture holds on the way through a chain of attacks from a width x height
// one, the input included.
std::int64_t chainPeakPixels(const std::vector<Attack>& chain, int width, int height);

// Applies one attack. `original` fills the cropped-away area; `seed` drives the noise.
PictureRef applyAttack(
    const Picture& picture, const Attack& attack, const Picture* original, std::uint64_t seed);

// "jpeg", "noise", ... and a short label such as "JPEG Q=75". A chain's label joins its
// steps' with " + ".
std::string attackName(Attack::Kind kind);
std::string attackLabel(const Attack& attack);
std::string chainLabel(const std::vector<Attack>& chain);
// Whether the attack moves, mirrors or resizes the picture (registration's business).
bool isGeometric(Attack::Kind kind);

} // namespace pelinor
