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
// each read as they were made.
struct Registration {
    std::string method; // "identity", "stretch", "features", "features-affine"; "+ecc" when refined
    double scale = 1.0;
    double rotationDeg = 0.0;
    double shiftX = 0.0;
    double shiftY = 0.0;
    bool mirrored = false;
    double coverage = 1.0; // share of O's pixels that S covers
    std::string tone = "none"; // "none" or "curve"
    double imageCorrelation = 1.0; // O against the warped S over the covered area
    // O's pixel (x, y), 0 = the top row, lies at S's pixel (t[0] x + t[1] y + t[2], t[3] x + t[4] y + t[5]).
    std::array<double, 6> transform{1, 0, 0, 0, 1, 0};
    ToneCurves toneCurves{}; // S's values to O's; identity when tone is "none"
};

struct RegisterOptions {
    double minCorrelation = 0.5; // below this the suspect is not taken for a copy of O
    double minCoverage = 0.05;
};

struct Registered {
    PictureRef picture; // S on O's grid: O's size and row order; what S does not cover comes from O
    Registration registration;
};

// Both pictures must be 24-bit (Error err::Not24Bit otherwise). A suspect that cannot be
// aligned (an unrelated picture, or one covering less than minCoverage of O) is
// Error err::NotAlignable.
Registered registerPicture(
    const Picture& original, const Picture& suspect, const RegisterOptions& options = {});

// True when registerPicture takes the pair (both 24-bit); other pictures are compared as
// they stand.
bool registrable(const Picture& original, const Picture& suspect) noexcept;

// The scale, rotation, shift and mirror of an O-to-S transform, as Registration reads them.
void describeTransform(const std::array<double, 6>& transform, int originalWidth, int originalHeight,
    int suspectWidth, int suspectHeight, Registration& out);

} // namespace pelinor
