// The detection engine that every front end calls (the command line's detect, identify and
// evaluate, the desktop program's test dialog): the original prepared once, the suspect
// tested as it stands and registered onto the original only when needed, and the verdict
// by the rule the caller asks for.
#pragma once

#include "image/picture.h"
#include "watermark/detect.h"
#include "watermark/registration.h"
#include "watermark/watermark_file.h"

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace pelinor {

// When a detection registers the suspect onto the original first.
//  Never: as it stands only (pictures of different sizes are refused, err::SizeMismatch).
//  Always: registration, then detection.
//  Auto: as it stands when the sizes agree, and registered only when they differ or nothing
//  is found so; a same-size suspect that cannot be aligned keeps its plain result. Once
//  registration ran, its result is the answer, whatever the plain one was: the alignment
//  is the pictures' decision, never the watermark's.
//  SizesDiffer: as it stands when the sizes agree, registered only when they differ.
enum class RegisterMode { Auto, Always, Never, SizesDiffer };

// The command line's bound: a false-positive probability of at most 1e-9, about six
// standard deviations.
inline constexpr double kDefaultMaxFalsePositive = 1e-9;
// The desktop program's guard beside its similarity rule: a short watermark, whose
// similarity reaches 0.7 by chance all too often, never finds an unmarked picture. It
// changes nothing for watermarks of 50 values and more.
inline constexpr double kDesktopMaxFalsePositive = 1e-6;

// How a similarity becomes a verdict.
//  Evidence: found when the false-positive probability is at most maxFalsePositive; for a
//  watermark whose figure does not hold (mean not 0), when the similarity is above threshold.
//  Similarity: found when the similarity is above threshold (the classic rule), and, when
//  maxFalsePositive is above 0, the false-positive probability is at most that as well.
struct DecisionRule {
    enum class Kind { Evidence, Similarity };
    Kind kind = Kind::Similarity;
    double threshold = kDefaultThreshold;
    double maxFalsePositive = 0.0;

    static DecisionRule byEvidence(double maxFalsePositive = kDefaultMaxFalsePositive)
    {
        return {Kind::Evidence, kDefaultThreshold, maxFalsePositive};
    }
    static DecisionRule bySimilarity(double threshold = kDefaultThreshold)
    {
        return {Kind::Similarity, threshold, 0.0};
    }
    // The test dialog's rule: similarity above 0.7, guarded at kDesktopMaxFalsePositive.
    static DecisionRule desktop() { return {Kind::Similarity, kDefaultThreshold, kDesktopMaxFalsePositive}; }
};

// The verdict for a similarity of a watermark of `length` values under a rule (see
// verdict() for `statisticHolds`).
DetectResult decide(double similarity, const DecisionRule& rule, long long coefficients, int length,
    bool statisticHolds = true);

// Many watermarks tested against one suspect: each result's family-wise figure over all of
// them (`lengths`, one per result, of those whose statistic holds) and, under the evidence
// rule, its verdict by that figure, so that every watermark whose own similarity is
// overwhelming evidence is found (copies averaged by colluders show each of their marks).
// Results whose statistic does not hold keep their verdict by similarity.
void decideTogether(
    std::span<DetectResult* const> results, std::span<const int> lengths, const DecisionRule& rule);

// The unmarked original prepared for detection: the picture (for registration) and its
// luminance DCT, analysed once, with the significant coefficients of each watermark length
// found once. Safe to share between threads once made.
class Reference {
public:
    // The original is not copied: it must outlive the reference. With `onlyLength`, only
    // the significant coefficients for that length are kept and the transform is let go
    // once they are found: one watermark, at the memory of one plane. With Only24Bit the
    // original, and every suspect tested against it, must be 24-bit (err::Not24Bit).
    explicit Reference(
        const Picture& original, Depths depths = Depths::Any, std::optional<int> onlyLength = std::nullopt);

    const Picture& picture() const noexcept { return m_picture; }
    Depths depths() const noexcept { return m_depths; }
    int width() const noexcept { return m_picture.width(); }
    int height() const noexcept { return m_picture.height(); }

    // Transforms the original, once; later calls return at once. Detection calls it when
    // it first needs the transform, so that a caller may run it beside the suspect's.
    void prepare() const;
    double peak() const;
    // The original's own transform, for testing the original itself as a control. Not kept
    // with `onlyLength` (err::InvalidCall).
    const Analysis& analysis() const;

    // The significant coefficients for a watermark of `length` values (>= 1).
    const Significant& significant(int length) const;

private:
    const Picture& m_picture;
    Depths m_depths;
    std::optional<int> m_onlyLength;
    mutable std::once_flag m_prepared;
    mutable Analysis m_analysis;
    mutable std::mutex m_mutex;
    mutable std::map<int, std::unique_ptr<Significant>> m_significant;
};

// One suspect's transform tested against one or many watermarks: the ratios are extracted
// once per watermark length and shared between threads.
class SuspectTest {
public:
    SuspectTest(const Reference& reference, const Analysis& suspect);

    // C1/C0 - 1 at the significant positions for `length` (see extractRatios).
    const std::vector<double>& ratios(int length);
    long long coefficients(int length) { return m_reference.significant(length).count(); }

    // The result for one watermark. Refuses alpha 0 and an all-zero watermark.
    DetectResult detect(const Watermark& watermark, const DecisionRule& rule);

private:
    const Reference& m_reference;
    const Analysis& m_suspect;
    std::mutex m_mutex;
    std::map<int, std::unique_ptr<std::vector<double>>> m_ratios;
};

// The suspect as a test sees it: as it stands or brought onto the original's grid.
struct SuspectOnGrid {
    const Picture& picture; // the suspect, or its registered copy (the original's size)
    const Analysis& analysis; // that picture's transform
    const Registration* registration; // null when tested as it stands
};

// What the caller tests: given the suspect on the grid, whether the watermark (or any of
// many) was found. Called once, or twice in Auto mode (as it stands, then registered).
using SuspectTester = std::function<bool(const SuspectOnGrid&)>;

struct SuspectTesting {
    std::optional<Registration> registration; // when the registered suspect gave the answer
    bool testedAsItStands = false;
    std::string registrationError; // why a registration tried after the plain test failed
};

struct DetectOptions {
    RegisterMode mode = RegisterMode::Auto;
    RegisterOptions registration;
    // The original's transform beside the suspect's, on two threads, instead of one after
    // the other (faster, at the memory of a second plane).
    bool parallel = false;
};

// The rule "test the suspect as it stands, register it only when needed", for any test.
// A suspect that cannot be aligned when registration is required is Error err::NotAlignable.
SuspectTesting testSuspect(const Reference& reference, const Picture& suspect, const SuspectTester& test,
    const DetectOptions& options);

struct Detection {
    DetectResult result;
    std::optional<Registration> registration; // empty when the suspect answered as it stands
};

// One watermark against one suspect. The refusals come first, in the order the steps would
// meet them: depth, watermark, size (when the suspect is not registered).
Detection detect(const Reference& reference, const Watermark& watermark, const Picture& suspect,
    const DecisionRule& rule, const DetectOptions& options = {});

// The whole detection of one suspect as it stands, in the classic fixed order of steps
// (watermark already read), at the memory of one plane.
DetectResult detectWatermark(const Picture& original, const Watermark& watermark, const Picture& suspect,
    double threshold = kDefaultThreshold, Depths depths = Depths::Only24Bit);

} // namespace pelinor
