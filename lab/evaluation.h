// The robustness lab: embed, attack, detect, and measure false positives; and choosing
// the strength alpha for a target PSNR.
#pragma once

#include "lab/attacks.h"
#include "lab/multi_detect.h"
#include "watermark/detect.h"
#include "watermark/embed.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace pelinor {

// Peak signal-to-noise ratio of b against a over all three channels, in dB; infinity for
// identical pictures. Both 24-bit and of the same size (error otherwise).
double psnr(const Picture& a, const Picture& b);

// The battery of the report: JPEG 90..5, noise, blur, scale, crop and requantize.
std::vector<Attack> standardBattery();

// What a row of the battery tested: the marked picture untouched, the unmarked original as
// the control, or the marked picture after an attack.
enum class RowKind { Marked, Control, Attacked };

struct EvaluationRow {
    RowKind kind = RowKind::Attacked;
    Attack attack; // what an Attacked row applied (parameter 0 on the other rows)
    std::string label;
    DetectResult result;
    double psnr = 0.0; // the tested picture against the original, dB
};

struct EvaluationOptions {
    double threshold = kDefaultThreshold;
    int randomCount = 1000; // never-embedded watermarks for the false-positive side
    std::uint64_t seed = 1; // noise attacks and random watermarks
    int jobs = 0; // worker threads; 0 = one per core
    double targetPsnr = 0.0; // above 0: embed at the alpha that gives this PSNR (see embedForTargetPsnr)
    std::vector<Attack> battery = standardBattery();
};

struct Evaluation {
    int width = 0;
    int height = 0;
    int length = 0;
    double alpha = 0.0; // the strength embedded (the file's, or the one chosen for a target PSNR)
    double targetPsnr = 0.0; // the target alpha was chosen for, 0 if none
    double threshold = kDefaultThreshold;
    long long changed = 0; // coefficients the embedding scaled
    double markedPsnr = 0.0; // marked against original
    std::vector<EvaluationRow> rows; // Marked, Control, then the battery in order
    std::vector<double> randomSimilarities; // never-embedded watermarks against the marked picture
    double randomMax = 0.0;
    double randomP99 = 0.0;
    double embeddedSimilarity() const { return rows.empty() ? 0.0 : rows.front().result.similarity; }
};

// A row's family as reports name it: "none", "control" or the attack's name.
std::string rowFamily(const EvaluationRow& row);

// Called after each finished step with (done, total, what was done); from one thread at a time.
using ProgressFn = std::function<void(int, int, const std::string&)>;

Evaluation evaluateRobustness(const Picture& original, const Watermark& watermark,
    const EvaluationOptions& options = {}, const ProgressFn& progress = {});

// Similarities of `count` watermarks drawn like the generator draws them (normal with the
// file's mean and deviation, the file's length and alpha sign) against extracted values.
std::vector<double> randomSimilarities(
    std::span<const double> extracted, const Watermark& like, int count, std::uint64_t seed);

// The p-th percentile (0..100) with linear interpolation; 0 for an empty set.
double percentile(std::vector<double> values, double p);

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
