// Registration: bringing a suspect picture of any size, position, orientation and tone
// back onto the original's pixel grid, so that the coefficients can be compared as if
// the suspect had never been resized, cropped, rotated, shifted, mirrored or re-toned.
//
// The detection always has the unmarked original, so the alignment is found from the
// pictures' content alone: candidates (same grid, stretched to the original's size,
// feature matches fitted robustly, each also for the mirror image) are refined by an
// intensity method and chosen by the image correlation of the original and the warped
// suspect. The watermark never takes part: choosing the alignment by the watermark's
// similarity would manufacture false positives.
#pragma once

#include "image/picture.h"
#include "watermark/tone.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace pelinor {

// What was done to bring the suspect S onto the original O. The transform reads: S is O
// scaled by `scale` and rotated by `rotationDeg` (counter-clockwise as seen, positive)
// about its centre, with that centre then moved by (shiftX, shiftY) pixels of S from S's
// centre (x to the right, y down), and finally mirrored left to right when `mirrored`.
// A pure shift by (dx, dy), a centred crop, a resize and a rotation on the same canvas
// each read as they were made. For an affine or perspective model the figures describe
// the transform near O's centre.
struct Registration {
    // How it was found: "identity", "stretch" (S's frame stretched onto O's, in one of the
    // eight right-angle orientations), "search" (scale and shift by phase correlation),
    // "features", "features-affine", "features-homography"; "+ecc" when refined.
    std::string method;
    std::string model = "similarity"; // "similarity", "affine" or "homography"
    double scale = 1.0; // S pixels per O pixel (the square root of the area ratio)
    double scaleX = 1.0, scaleY = 1.0; // along O's own x and y axes
    double rotationDeg = 0.0;
    int orientation = 0; // the right angle (0, 90, 180, 270) nearest the rotation
    double shiftX = 0.0;
    double shiftY = 0.0;
    bool mirrored = false;
    // S's flat margins (black, white or any flat colour: borders, letterbox bars), in S's
    // pixels; left out of the alignment and filled from O.
    struct Border {
        int left = 0, top = 0, right = 0, bottom = 0;
        bool any() const { return left || top || right || bottom; }
    } border;
    double coverage = 1.0; // share of O's pixels that S covers
    std::string gain = "none"; // "none" or "polynomial": a smooth gain field (vignetting) undone
    std::string tone = "none"; // "none" or "curve"
    double imageCorrelation = 1.0; // O against the warped S over the covered area
    // O's pixel (x, y), 0 = the top row, lies at S's pixel
    // ((t[0] x + t[1] y + t[2]) / w, (t[3] x + t[4] y + t[5]) / w), w = t[6] x + t[7] y + t[8].
    std::array<double, 9> transform{1, 0, 0, 0, 1, 0, 0, 0, 1};
    ToneCurves toneCurves{}; // S's values to O's; identity when tone is "none"
};

// How the suspect is resampled onto the original's grid (a suspect larger than the
// original is first reduced by area averaging).
enum class Resampler { Linear, Cubic, Lanczos };

struct RegisterOptions {
    double minCorrelation = 0.5; // below this the suspect is not taken for a copy of O
    double minCoverage = 0.05;
    Resampler resampler = Resampler::Cubic;
};

struct Registered {
    PictureRef picture; // S on O's grid: O's size and row order; what S does not cover comes from O
    Registration registration;
};

// Pictures of any kind the codecs read (grey, with alpha, 16-bit) are aligned on their
// luminance; a grey picture against a colour one is compared with its luminance, and the
// registered copy is then grey. A suspect that cannot be
// aligned (an unrelated picture, or one covering less than minCoverage of O) is
// Error err::NotAlignable.
Registered registerPicture(
    const Picture& original, const Picture& suspect, const RegisterOptions& options = {});

// True when registerPicture takes the pair: pictures of every kind the program reads are
// registered on their luminance, so that a grey, 16-bit or transparent copy is too.
bool registrable(const Picture& original, const Picture& suspect) noexcept;

// The scale, rotation, shift and mirror of an O-to-S transform, as Registration reads them.
void describeTransform(const std::array<double, 9>& transform, int originalWidth, int originalHeight,
    int suspectWidth, int suspectHeight, Registration& out);

} // namespace pelinor
