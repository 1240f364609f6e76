// Choosing the strength alpha: for a target PSNR, or the strongest within a quality floor
// (a lowest PSNR and a most visible change in flat areas).
#pragma once

#include "image/picture.h"
#include "watermark/embed.h"
#include "watermark/watermark_file.h"

namespace pelinor {

// Embeds with the strength chosen so that the marked picture's PSNR is as close as
// possible to targetDb without going below it. Keeps the sign of the file's alpha.
// Refuses targets that no positive strength reaches.
struct TargetPsnrEmbed {
    double alpha = 0.0;
    EmbedResult embedded;
};
TargetPsnrEmbed embedForTargetPsnr(const Picture& source, const Watermark& watermark, double targetDb);
double alphaForTargetPsnr(const Picture& source, const Watermark& watermark, double targetDb);

// The visible change in flat areas, in 8-bit luminance levels: the 99th percentile, over
// the 8 x 8 blocks whose own luminance varies little in the original (standard deviation at
// most kFlatBlockDeviation levels), of the block's mean luminance change. The embedding's
// change is smooth, so a block's mean is what shows as banding in a sky or on skin, and the
// rounding's one-level noise does not count; texture hides a change elsewhere. 0 when the
// picture has no flat block. Pictures of any depth, of the same size (err::SizeMismatch otherwise).
inline constexpr double kFlatBlockDeviation = 2.0;
double banding(const Picture& original, const Picture& changed);

// The floor the command line's embedding keeps by default: a PSNR of at least 40 dB and a
// banding figure of at most 4 levels. At alpha 0.1 photographs show 4 to 13 levels, and a
// smooth sky shows a faint pattern from about 4; a limit of 3 cost a further 2.6 points of the
// evaluation battery on the sample photographs, for a change hardly seen.
inline constexpr double kDefaultMinPsnr = 40.0;
inline constexpr double kDefaultMaxBanding = 4.0;
struct QualityFloor {
    double minPsnr = kDefaultMinPsnr; // 0: no floor at all
    double maxBanding = kDefaultMaxBanding;
};

// Embeds at the watermark's alpha when the marked picture keeps the floor, otherwise at the
// strongest alpha of the same sign that does (found by embedding, each try's figures
// estimating the next strength). Refuses (err::InvalidCall) a floor no strength keeps.
struct FloorEmbed {
    double alpha = 0.0; // the strength used
    EmbedResult embedded;
    double banding = 0.0; // of the marked picture
    // The figures at the watermark's own alpha, when it had to be lowered.
    bool lowered = false;
    double scale = 1.0; // alpha over the watermark's
    double keyPsnr = 0.0;
    double keyBanding = 0.0;
};
FloorEmbed embedWithinFloor(const Picture& source, const Watermark& watermark, const QualityFloor& floor,
    Depths depths = Depths::Any);

} // namespace pelinor
