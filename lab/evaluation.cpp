#include "lab/evaluation.h"

#include "base/error.h"
#include "base/parallel.h"
#include "obrada/bytes.h"
#include "watermark/evidence.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <mutex>
#include <random>
#include <thread>

namespace pelinor {

namespace {

struct Task {
    RowKind kind;
    std::string label;
    std::vector<Attack> chain; // Attacked rows: the one attack; Copy rows: the edits in order
};

} // namespace

double psnr(const Picture& a, const Picture& b)
{
    require24Bit(a);
    require24Bit(b);
    if (a.width() != b.width() || a.height() != b.height())
        throw Error(err::SizeMismatch,
            "Cannot compare a " + sizeText(a.width(), a.height()) + " picture with a "
                + sizeText(b.width(), b.height()) + " one");
    const std::size_t rowBytes = 3 * std::size_t(a.width());
    std::uint64_t sum = 0;
    for (int y = 0; y < a.height(); ++y)
        sum += squaredDifference(a.bits() + a.stride() * std::size_t(a.storedRow(y)),
            b.bits() + b.stride() * std::size_t(b.storedRow(y)), rowBytes);
    return psnrFromSquaredError(double(sum), double(rowBytes) * a.height());
}

std::string rowFamily(const EvaluationRow& row)
{
    switch (row.kind) {
    case RowKind::Marked:
        return "none";
    case RowKind::Control:
        return "control";
    case RowKind::Copy:
        return std::any_of(
                   row.chain.begin(), row.chain.end(), [](const Attack& a) { return isGeometric(a.kind); })
            ? "geometric"
            : "tone";
    case RowKind::Attacked:
        break;
    }
    return attackName(row.attack.kind);
}

std::vector<Attack> standardBattery()
{
    using K = Attack::Kind;
    std::vector<Attack> b;
    for (double q : {90, 75, 50, 30, 20, 10, 5})
        b.push_back({K::Jpeg, q});
    for (double s : {2, 5, 10, 20})
        b.push_back({K::Noise, s});
    for (double s : {0.5, 1.0, 2.0})
        b.push_back({K::Blur, s});
    for (double f : {0.5, 0.25})
        b.push_back({K::Scale, f});
    for (double f : {0.75, 0.5, 0.25})
        b.push_back({K::Crop, f});
    for (double l : {32, 8})
        b.push_back({K::Requantize, l});
    return b;
}

std::vector<std::vector<Attack>> registrationBattery()
{
    using K = Attack::Kind;
    return {{{K::Rotate, 1}}, {{K::Rotate, 5}, {K::Jpeg, 80}}, {{K::Shift, 3, 0}}, {{K::Mirror}},
        {{K::CropTo, 0.9}}, {{K::Resize, 0.5}}, {{K::Resize, 0.8}, {K::Jpeg, 85}}, {{K::Tone, 1.1, 10}},
        {{K::Gamma, 0.8}}, {{K::CropTo, 0.8}, {K::Resize, 0.7}, {K::Jpeg, 75}}, {{K::Social}}};
}

double percentile(std::vector<double> values, double p)
{
    if (values.empty()) return 0.0;
    std::sort(values.begin(), values.end());
    const double pos = std::clamp(p, 0.0, 100.0) / 100.0 * double(values.size() - 1);
    const std::size_t lo = std::size_t(std::floor(pos));
    const std::size_t hi = std::min(lo + 1, values.size() - 1);
    return values[lo] + (pos - double(lo)) * (values[hi] - values[lo]);
}

long long randomWatermarkTotal(const EvaluationOptions& options)
{
    const long long pictures = 1 + (long long)(options.battery.size() + options.chains.size()) + 1;
    return std::max(options.randomCount, 0) * pictures;
}

std::vector<double> randomSimilarities(std::span<const double> extracted, const Watermark& like, int count,
    std::uint64_t seed, const std::function<void()>& tick)
{
    // A stream of its own, so that changing the battery's noise does not change these.
    std::mt19937_64 rng(seed ^ 0x9E3779B97F4A7C15ULL);
    const bool spread = like.deviation > 0.0 && std::isfinite(like.deviation);
    std::normal_distribution<double> normal(like.mean, spread ? like.deviation : 1.0);
    std::vector<double> values(std::size_t(std::max(like.length, 0)));
    std::vector<double> out;
    out.reserve(std::size_t(std::max(count, 0)));
    for (int k = 0; k < count; ++k) {
        for (double& v : values)
            v = spread ? normal(rng) : like.mean;
        const double s = normalisedCorrelation(extracted, values);
        out.push_back(like.alpha < 0 ? -s : s);
        if (tick) tick();
    }
    return out;
}

Evaluation evaluateRobustness(const Picture& original, const Watermark& watermark,
    const EvaluationOptions& options, const ProgressFn& progress)
{
    for (const Attack& a : options.battery)
        validateAttack(a);
    for (const std::vector<Attack>& chain : options.chains)
        for (const Attack& a : chain)
            validateAttack(a);
    Evaluation ev;
    ev.width = original.width();
    ev.height = original.height();
    ev.length = watermark.length;
    ev.alpha = watermark.alpha;
    ev.keyAlpha = watermark.alpha;
    ev.targetPsnr = options.targetPsnr;
    ev.rule = options.rule;
    ev.threshold = options.rule.kind == DecisionRule::Kind::Evidence && statisticHolds(watermark)
        ? similarityFor(options.rule.maxFalsePositive, watermark.length)
        : options.rule.threshold;

    // Embed, analyse, two plain rows, the battery, the chains, false positives.
    const int total = int(options.battery.size() + options.chains.size()) + 5;
    int done = 0;
    std::mutex progressMutex;
    auto step = [&](const std::string& what) {
        std::lock_guard lock(progressMutex);
        ++done;
        if (progress) progress(done, total, what);
    };
    long long randomTotal = randomWatermarkTotal(options);
    long long randomDone = 0;
    auto randomProgress = [&](long long tested, long long skipped) {
        if (!options.randomProgress) return;
        std::lock_guard lock(progressMutex);
        randomDone += tested;
        randomTotal -= skipped;
        options.randomProgress(randomDone, randomTotal);
    };
    const std::function<void()> tick = [&] { randomProgress(1, 0); };
    const auto skipRandom = [&] { randomProgress(0, options.randomCount); };

    EmbedResult embedded;
    if (options.targetPsnr > 0.0) {
        TargetPsnrEmbed chosen = embedForTargetPsnr(original, watermark, options.targetPsnr);
        ev.alpha = chosen.alpha;
        embedded = std::move(chosen.embedded);
    } else if (options.floor.minPsnr > 0.0) {
        FloorEmbed kept = embedWithinFloor(original, watermark, options.floor, Depths::Only24Bit);
        ev.alpha = kept.alpha;
        ev.minPsnr = options.floor.minPsnr;
        embedded = std::move(kept.embedded);
    } else {
        embedded = embedWatermark(original, watermark);
    }
    ev.changed = embedded.changed;
    ev.markedPsnr = psnr(original, *embedded.marked);
    ev.markedBanding = banding(original, *embedded.marked);
    step("embedded");
    const Reference reference(original, Depths::Only24Bit);
    reference.prepare();
    const DecisionRule& rule = options.rule;
    const int length = int(watermark.values.size());
    step("analysed the original");

    std::vector<Task> tasks;
    tasks.push_back({RowKind::Marked, "marked, no attack", {}});
    tasks.push_back({RowKind::Control, "unmarked original", {}});
    for (const Attack& a : options.battery)
        tasks.push_back({RowKind::Attacked, attackLabel(a), {a}});
    for (const std::vector<Attack>& chain : options.chains)
        tasks.push_back({RowKind::Copy, chainLabel(chain), chain});
    ev.rows.resize(tasks.size());
    std::vector<double> markedValues;

    const int jobs = int(jobCount(options.jobs));
    runParallel(tasks.size(), unsigned(std::max(1, jobs)), [&](std::size_t i) {
        const Task& t = tasks[i];
        EvaluationRow& row = ev.rows[i];
        row.kind = t.kind;
        row.label = t.label;
        if (!t.chain.empty()) row.attack = t.chain.front();
        if (t.kind == RowKind::Copy) row.chain = t.chain;
        if (t.kind == RowKind::Control) { // the control is never registered: no random watermarks
            row.result = SuspectTest(reference, reference.analysis()).detect(watermark, rule);
            row.registered = row.result;
            row.psnr = std::numeric_limits<double>::infinity();
            step(t.label);
            return;
        }
        PixelBudget::Lease lease;
        if (options.budget != nullptr)
            lease = options.budget->acquire(chainPeakPixels(t.chain, original.width(), original.height()));
        PictureRef tested = embedded.marked;
        for (const Attack& a : t.chain)
            tested = applyAttack(*tested, a, &original, options.seed);
        row.comparable = tested->width() == original.width() && tested->height() == original.height();
        if (!row.comparable) {
            row.result.similarity = std::numeric_limits<double>::quiet_NaN();
            row.result.z = row.result.falsePositive = row.result.similarity;
        }
        row.registered = row.result;
        // Tested as detection does it by default: as it stands, and registered only where
        // it cannot be compared so or does not show the mark.
        DetectOptions how;
        how.mode = RegisterMode::Auto;
        SuspectTesting testing;
        try {
            testing = testSuspect(
                reference, *tested,
                [&](const SuspectOnGrid& s) {
                    SuspectTest test(reference, s.analysis);
                    if (!s.registration) {
                        row.result = row.registered = test.detect(watermark, rule);
                        row.psnr = psnr(original, *tested);
                        if (t.kind == RowKind::Marked) markedValues = test.ratios(length);
                        return row.result.found;
                    }
                    row.registered = test.detect(watermark, rule);
                    row.registration = *s.registration;
                    const std::vector<double> others = randomSimilarities(
                        test.ratios(length), watermark, options.randomCount, options.seed, tick);
                    if (!others.empty())
                        row.registeredRandomMax = *std::max_element(others.begin(), others.end());
                    if (!row.comparable) row.psnr = psnr(original, s.picture);
                    return row.registered.found;
                },
                how);
        } catch (const Error& e) {
            if (e.number() != err::NotAlignable) throw;
            testing.registrationError = e.what();
            if (!row.comparable) row.psnr = std::numeric_limits<double>::quiet_NaN();
        }
        row.registrationError = testing.registrationError;
        if (!testing.registration) skipRandom();
        step(t.label);
    });
    for (const EvaluationRow& row : ev.rows) {
        if (!row.registration) continue;
        ev.registeredRandomMax = ev.registeredRows++
            ? std::max(ev.registeredRandomMax, row.registeredRandomMax)
            : row.registeredRandomMax;
    }

    ev.randomSimilarities
        = randomSimilarities(markedValues, watermark, options.randomCount, options.seed, tick);
    if (!ev.randomSimilarities.empty()) {
        ev.randomMax = *std::max_element(ev.randomSimilarities.begin(), ev.randomSimilarities.end());
        ev.randomP99 = percentile(ev.randomSimilarities, 99.0);
    }
    step(std::to_string(options.randomCount) + " random watermarks");
    return ev;
}

} // namespace pelinor
