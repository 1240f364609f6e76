// Choosing the strength alpha for a target PSNR.
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

} // namespace pelinor
