#include "watermark/detector.h"

#include "base/error.h"
#include "base/parallel.h"
#include "obrada/dct.h"
#include "watermark/evidence.h"

#include <cmath>
#include <string>

namespace pelinor {

namespace {

// Whether a result's figure meets a rule's bound, compared in logarithms so that figures
// below the smallest double still decide.
bool withinBound(double logP, double bound)
{
    return logP <= std::log(bound);
}

} // namespace

DetectResult decide(
    double similarity, const DecisionRule& rule, long long coefficients, int length, bool statisticHolds)
{
    DetectResult r = verdict(similarity, rule.threshold, coefficients, length, statisticHolds);
    r.maxFalsePositive = rule.maxFalsePositive;
    if (!statisticHolds) return r; // decided by the similarity alone
    if (rule.kind == DecisionRule::Kind::Evidence) {
        r.byEvidence = true;
        r.found = withinBound(r.logFalsePositive, rule.maxFalsePositive);
    } else if (rule.maxFalsePositive > 0.0) {
        r.found = r.found && withinBound(r.logFalsePositive, rule.maxFalsePositive);
    }
    return r;
}

void decideTogether(
    std::span<DetectResult* const> results, std::span<const int> lengths, const DecisionRule& rule)
{
    for (DetectResult* r : results) {
        if (std::isnan(r->logFalsePositive)) continue;
        r->logFamilyWise = logFamilyWise(r->similarity, lengths);
        if (rule.kind == DecisionRule::Kind::Evidence)
            r->found = withinBound(r->logFamilyWise, rule.maxFalsePositive);
    }
}

Reference::Reference(const Picture& original, Depths depths, std::optional<int> onlyLength)
    : m_picture(original)
    , m_depths(depths)
    , m_onlyLength(onlyLength)
{
    if (depths == Depths::Only24Bit) require24Bit(original);
}

void Reference::prepare() const
{
    std::call_once(m_prepared, [this] {
        m_analysis.width = m_picture.width();
        m_analysis.height = m_picture.height();
        Plane& coeffs = m_analysis.coeffs;
        m_analysis.peak = anyLuminanceInto(m_picture, coeffs);
        DirektniDCT(coeffs, coeffs);
        if (!m_onlyLength) return;
        m_significant[*m_onlyLength]
            = std::make_unique<Significant>(selectSignificant(coeffs, *m_onlyLength));
        coeffs = Plane();
    });
}

double Reference::peak() const
{
    prepare();
    return m_analysis.peak;
}

const Analysis& Reference::analysis() const
{
    prepare();
    if (m_onlyLength)
        throw Error(err::InvalidCall,
            "Invalid procedure call: the original's transform was let go once its coefficients were found");
    return m_analysis;
}

const Significant& Reference::significant(int length) const
{
    if (length < 1)
        throw Error(err::SubscriptOutOfRange,
            "Subscript out of range: a watermark length of " + std::to_string(length)
                + " (at least 1 needed)");
    prepare();
    std::lock_guard lock(m_mutex);
    if (const auto known = m_significant.find(length); known != m_significant.end()) return *known->second;
    if (m_onlyLength)
        throw Error(err::InvalidCall,
            "Invalid procedure call: the watermark has " + std::to_string(length)
                + " values, the detection was set up for " + std::to_string(*m_onlyLength));
    auto& slot = m_significant[length];
    slot = std::make_unique<Significant>(selectSignificant(m_analysis.coeffs, length));
    return *slot;
}

SuspectTest::SuspectTest(const Reference& reference, const Analysis& suspect)
    : m_reference(reference)
    , m_suspect(suspect)
{
    requireSameSize(reference.width(), reference.height(), suspect.width, suspect.height);
}

const std::vector<double>& SuspectTest::ratios(int length)
{
    const Significant& s = m_reference.significant(length);
    const double gain = m_reference.peak() / m_suspect.peak;
    std::lock_guard lock(m_mutex);
    auto& slot = m_ratios[length];
    if (!slot) slot = std::make_unique<std::vector<double>>(extractRatios(s, m_suspect.coeffs, length, gain));
    return *slot;
}

DetectResult SuspectTest::detect(const Watermark& watermark, const DecisionRule& rule)
{
    requireUsableWatermark(watermark);
    const int length = int(watermark.values.size());
    DetectResult r = decide(similarityOfRatios(ratios(length), watermark), rule, coefficients(length), length,
        statisticHolds(watermark));
    r.originalWidth = m_reference.width();
    r.originalHeight = m_reference.height();
    r.suspectWidth = m_suspect.width;
    r.suspectHeight = m_suspect.height;
    return r;
}

namespace {

// The picture's transform, with the original's made first, or beside it on a second thread.
Analysis analyseBeside(const Reference& reference, const Picture& picture, bool parallel)
{
    Analysis analysis;
    if (!parallel) {
        reference.prepare();
        return analysePicture(picture, Depths::Any);
    }
    runParallel(2, 2, [&](std::size_t i) {
        if (i == 0)
            reference.prepare();
        else
            analysis = analysePicture(picture, Depths::Any);
    });
    return analysis;
}

} // namespace

SuspectTesting testSuspect(const Reference& reference, const Picture& suspect, const SuspectTester& test,
    const DetectOptions& options)
{
    if (reference.depths() == Depths::Only24Bit) require24Bit(suspect);
    const Picture& original = reference.picture();
    const RegisterMode mode = registrable(original, suspect) ? options.mode : RegisterMode::Never;
    const bool sameSize = original.width() == suspect.width() && original.height() == suspect.height();
    const bool plainFirst = mode == RegisterMode::Never || (mode != RegisterMode::Always && sameSize);
    SuspectTesting out;
    if (plainFirst) {
        requireSameSize(original.width(), original.height(), suspect.width(), suspect.height());
        const Analysis analysis = analyseBeside(reference, suspect, options.parallel);
        out.testedAsItStands = true;
        const bool found = test({suspect, analysis, nullptr});
        if (mode != RegisterMode::Auto || found) return out;
    }
    Registered registered;
    try {
        registered = registerPicture(original, suspect, options.registration);
    } catch (const Error& e) {
        // A same-size suspect that cannot be aligned keeps its plain result.
        if (!plainFirst || e.number() != err::NotAlignable) throw;
        out.registrationError = e.what();
        return out;
    }
    const Analysis analysis = analyseBeside(reference, *registered.picture, options.parallel);
    out.registration = registered.registration;
    test({*registered.picture, analysis, &*out.registration});
    return out;
}

Detection detect(const Reference& reference, const Watermark& watermark, const Picture& suspect,
    const DecisionRule& rule, const DetectOptions& options)
{
    if (reference.depths() == Depths::Only24Bit) require24Bit(suspect);
    requireUsableWatermark(watermark);
    Detection d;
    const SuspectTesting t = testSuspect(
        reference, suspect,
        [&](const SuspectOnGrid& s) {
            SuspectTest test(reference, s.analysis);
            d.result = test.detect(watermark, rule);
            return d.result.found;
        },
        options);
    d.registration = t.registration;
    d.result.suspectWidth = suspect.width();
    d.result.suspectHeight = suspect.height();
    return d;
}

DetectResult detectWatermark(const Picture& original, const Watermark& watermark, const Picture& suspect,
    double threshold, Depths depths)
{
    // Every refusal comes before the transforms, in the order the steps would meet them.
    if (depths == Depths::Only24Bit) {
        require24Bit(original);
        require24Bit(suspect);
    }
    checkComparable(watermark, original.width(), original.height(), suspect.width(), suspect.height());
    const Reference reference(original, depths, int(watermark.values.size()));
    DetectOptions options;
    options.mode = RegisterMode::Never;
    return detect(reference, watermark, suspect, DecisionRule::bySimilarity(threshold), options).result;
}

} // namespace pelinor
