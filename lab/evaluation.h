// The robustness lab: embed, attack, detect, and measure false positives.
#pragma once

#include "base/pixel_budget.h"
#include "lab/attacks.h"
#include "watermark/detector.h"
#include "watermark/embed.h"
#include "watermark/registration.h"
#include "watermark/strength.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace pelinor {

// Peak signal-to-noise ratio of b against a over all three channels, in dB; infinity for
// identical pictures. Both 24-bit and of the same size (error otherwise).
double psnr(const Picture& a, const Picture& b);

// The battery of the report: JPEG 90..5, noise, blur, scale, crop and requantize.
std::vector<Attack> standardBattery();

// The copies people make, chains of edits that move, resize or re-tone the picture:
// rotate 1 degree, rotate 5 + JPEG 80, shift 3 pixels, mirror, crop to 90 % per side,
// resize 0.5, resize 0.8 + JPEG 85, brightness/contrast x1.1 + 10, gamma 0.8,
// crop to 80 % + resize 0.7 + JPEG 75, and the social-network copy.
std::vector<std::vector<Attack>> registrationBattery();

// What a row of the battery tested: the marked picture untouched, the unmarked original as
// the control, the marked picture after an attack, or a copy made by a chain of edits of
// the registration battery.
enum class RowKind { Marked, Control, Attacked, Copy };

struct EvaluationRow {
    RowKind kind = RowKind::Attacked;
    Attack attack; // what an Attacked row applied, a Copy row's first edit (parameter 0 on the others)
    std::vector<Attack> chain; // what a Copy row applied, in order
    std::string label;
    // As the picture stands; not comparable (similarity NaN, not found) when the attack
    // changed its size.
    DetectResult result;
    bool comparable = true;
    // With registration as detection does it by default: the plain result when that found
    // the mark, otherwise the registered picture's (or the plain one when nothing aligns).
    DetectResult registered;
    std::optional<Registration> registration; // when registration ran and aligned
    std::string registrationError; // when it ran and could not align
    // The highest similarity of the never-embedded watermarks against the registered picture.
    double registeredRandomMax = 0.0;
    // The tested picture against the original, dB; for a picture of another size, its
    // registered copy.
    double psnr = 0.0;
};

struct EvaluationOptions {
    DecisionRule rule; // how each row is decided (the classic similarity rule by default)
    int randomCount = 1000; // never-embedded watermarks for the false-positive side
    std::uint64_t seed = 1; // noise attacks and random watermarks
    int jobs = 0; // worker threads; 0 = one per core
    // Shared by the workers when set: each takes the pixels of the copy it makes (the most
    // its chain of attacks holds) before making it, so that J workers hold no more than the
    // budget.
    PixelBudget* budget = nullptr;
    double targetPsnr = 0.0; // above 0: embed at the alpha that gives this PSNR (see embedForTargetPsnr)
    // Without a target: the quality floor the embedding keeps (see embedWithinFloor); a
    // minPsnr of 0 embeds at the file's alpha.
    QualityFloor floor{0.0, kDefaultMaxBanding};
    std::vector<Attack> battery = standardBattery();
    std::vector<std::vector<Attack>> chains = registrationBattery();
    // The never-embedded watermarks tested so far and how many there will be: called from the
    // worker threads, one at a time, after each watermark. The total starts at
    // randomWatermarkTotal and drops by K for each picture that turns out to need no
    // registration, so it ends equal to the count.
    std::function<void(long long done, long long total)> randomProgress;
};

// How many never-embedded watermarks an evaluation tests at most: K against the marked
// picture and K against each picture that may be registered (every row but the control).
long long randomWatermarkTotal(const EvaluationOptions& options);

struct Evaluation {
    int width = 0;
    int height = 0;
    int length = 0;
    double alpha = 0.0; // the strength embedded (the file's, or the one chosen for a target PSNR)
    double targetPsnr = 0.0; // the target alpha was chosen for, 0 if none
    DecisionRule rule;
    // The similarity above which the rule finds the mark: the rule's threshold, or under the
    // evidence rule the similarity whose false-positive probability meets the bound for N.
    double threshold = kDefaultThreshold;
    long long changed = 0; // coefficients the embedding scaled
    double markedPsnr = 0.0; // marked against original
    double markedBanding = 0.0; // the marked picture's banding figure (see banding())
    double keyAlpha = 0.0; // the file's alpha
    double minPsnr = 0.0; // the floor kept, 0 if none
    std::vector<EvaluationRow> rows; // Marked, Control, the battery, then the chains, in order
    std::vector<double> randomSimilarities; // never-embedded watermarks against the marked picture
    double randomMax = 0.0;
    double randomP99 = 0.0;
    // The never-embedded watermarks against every registered picture: the highest similarity
    // and how many registered pictures there were.
    double registeredRandomMax = 0.0;
    int registeredRows = 0;
    double embeddedSimilarity() const { return rows.empty() ? 0.0 : rows.front().result.similarity; }
};

// A row's family as reports name it: "none", "control", the attack's name, or for a copy
// "geometric" (it moves, mirrors or resizes) or "tone".
std::string rowFamily(const EvaluationRow& row);

// Called after each finished step with (done, total, what was done); from one thread at a time.
using ProgressFn = std::function<void(int, int, const std::string&)>;

Evaluation evaluateRobustness(const Picture& original, const Watermark& watermark,
    const EvaluationOptions& options = {}, const ProgressFn& progress = {});

// Similarities of `count` watermarks drawn like the generator draws them (normal with the
// file's mean and deviation, the file's length and alpha sign) against extracted values.
// `tick`, when given, is called after each.
std::vector<double> randomSimilarities(std::span<const double> extracted, const Watermark& like, int count,
    std::uint64_t seed, const std::function<void()>& tick = {});

// The p-th percentile (0..100) with linear interpolation; 0 for an empty set.
double percentile(std::vector<double> values, double p);

} // namespace pelinor
