// Embedding and detection.
#include "lab/attacks.h"
#include "lab/evaluation.h"
#include "obrada/colour.h"
#include "obrada/dct.h"
#include "obrada/selection.h"
#include "tests/test_support.h"
#include "watermark/detector.h"
#include "watermark/embed.h"
#include "watermark/luminance.h"
#include "watermark/strength.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace pelinor {
namespace {

using test::gaussianWatermark;
using test::pixels;

// The colour conversion there and back, with `change` applied to the planes in between.
PictureRef throughPlanes(const Picture& source, const std::function<void(ByteArray2D&)>& change = {})
{
    ByteArray2D planes;
    PretvoriUYCbCr(openView(source), planes);
    if (change) change(planes);
    PictureRef out = Picture::create(source.width(), source.height(), 24, source.topDown());
    PretvoriURGB(planes, openView(*out));
    return out;
}

// The embedding's steps as they read, on whole arrays with checked access. Plane row y is
// row y from the bottom of the image, whatever order the picture stores its rows in.
PictureRef literalEmbed(const Picture& source, const Watermark& wm, long long& changed)
{
    return throughPlanes(source, [&](ByteArray2D& p) {
        const int w = source.width(), h = source.height();
        const auto row = [&](int y) { return source.storedRow(h - 1 - y); };
        Plane l(w, h), c;
        for (int x = 0; x < w; ++x)
            for (int y = 0; y < h; ++y)
                l.at(x, y) = double(p.at(3 * x, row(y))) - 128.0;
        DirektniDCT(l, c);
        const double t = OdrediPrag(c, wm.length);
        changed = 0;
        for (int u = 1; u < w; ++u)
            for (int v = 1; v < h; ++v)
                if (std::fabs(c.at(u, v)) > std::fabs(t))
                    c.at(u, v) = (wm.alpha * wm.values.at(std::size_t(changed++)) + 1) * c.at(u, v);
        InverzniDCT(c, l);
        for (int x = 0; x < w; ++x)
            for (int y = 0; y < h; ++y)
                p.at(3 * x, row(y)) = std::uint8_t(std::nearbyint(std::clamp(l.at(x, y) + 128, 0.0, 255.0)));
    });
}

struct Shape {
    int width, height;
    bool topDown;
    int length;
};

// Sizes straddle the row bands and give odd widths (row padding); 2 x 2 and 11 x 11 have
// exactly N candidates. Noise has distinct magnitudes, so exactly N coefficients change,
// x(0) on the first in scan order as the literal steps put it.
class EmbedMatchesLiteralSteps : public ::testing::TestWithParam<Shape> { };

TEST_P(EmbedMatchesLiteralSteps, ByteForByte)
{
    const auto [width, height, topDown, length] = GetParam();
    const PictureRef source = test::noisePicture(width, height, unsigned(width * 131 + height), topDown);
    const Watermark wm = gaussianWatermark(length, 0.3, 7);
    long long expectedChanged = 0;
    const PictureRef expected = literalEmbed(*source, wm, expectedChanged);
    const EmbedResult r = embedWatermark(*source, wm);
    EXPECT_EQ(r.marked->topDown(), topDown);
    EXPECT_EQ(pixels(*r.marked), pixels(*expected));
    EXPECT_EQ(r.changed, expectedChanged);
    EXPECT_EQ(r.changed, std::min<long long>(length, (width - 1LL) * (height - 1)));
    EXPECT_DOUBLE_EQ(r.psnr, psnr(*source, *expected));
    // In place: the same bytes in the picture itself, the same figures.
    const PictureRef own = source->clone();
    const EmbedResult inPlace = embedWatermarkInPlace(*own, wm);
    EXPECT_EQ(inPlace.marked, nullptr);
    EXPECT_EQ(pixels(*own), pixels(*expected));
    EXPECT_EQ(std::pair(inPlace.changed, inPlace.psnr), std::pair(r.changed, r.psnr));
}

INSTANTIATE_TEST_SUITE_P(Sizes, EmbedMatchesLiteralSteps,
    ::testing::Values(Shape{5, 3, false, 3}, Shape{2, 2, false, 1}, Shape{11, 11, true, 100},
        Shape{31, 70, true, 100}, Shape{64, 65, false, 100}, Shape{97, 33, true, 1000}),
    [](const auto& c) {
        return std::to_string(c.param.width) + "x" + std::to_string(c.param.height)
            + (c.param.topDown ? "TopDown" : "") + "N" + std::to_string(c.param.length);
    });

TEST(Embed, TiesAtTheThresholdChangeFewerButNoneAtAllIsRefused)
{
    // Candidates in scan order 9, 8, 7, 7, 7; row and column 0 hold large values that never count.
    Plane c(2, 6), sevens(2, 4);
    const double column[6] = {1000, 9, 8, 7, 7, 7};
    for (int v = 0; v < 6; ++v)
        c(0, v) = 5000, c(1, v) = column[v];
    EXPECT_EQ(embedCoefficients(c, gaussianWatermark(3, 0.5, 2)), 2); // the third and fourth largest tie
    EXPECT_EQ(c(1, 3), 7);
    sevens(1, 1) = sevens(1, 2) = sevens(1, 3) = 7;
    test::expectError([&] { embedCoefficients(sevens, gaussianWatermark(1, 0.5, 2)); },
        err::TooFewCoefficients, "tie at it");
    EXPECT_EQ(sevens(1, 1), 7);
}

// A picture too small for the watermark is refused from its size alone, before any transform.
TEST(Embed, CandidatesCountedFromTheSize)
{
    requireCandidates(11, 11, 100); // exactly 100 candidates
    requireCandidates(2, 2, 1);
    for (const auto& [width, height, length] : {std::tuple{11, 11, 101}, {1, 400, 1}, {400, 1, 1}, {2, 2, 2}})
        test::expectError([&, width = width, height = height,
                              length = length] { requireCandidates(width, height, length); },
            err::TooFewCoefficients, "candidate coefficients");
}

// Embedding that would leave nothing to detect is refused, each with its counts or cause,
// and neither way of embedding touches the pixels it was given.
TEST(Embed, RefusesWhatWouldEmbedNothingDetectable)
{
    Watermark zeros = gaussianWatermark(100, 0.3, 1);
    std::fill(zeros.values.begin(), zeros.values.end(), 0.0);
    const struct {
        const char* name;
        PictureRef picture;
        Watermark watermark;
        int number;
        const char* part;
    } cases[] = {
        {"constant", Picture::create(64, 64, 24), gaussianWatermark(100, 0.3, 1), err::TooFewCoefficients,
            "has 0 non-zero coefficients among its 3969 candidates (u, v >= 1) but the watermark has 100"},
        {"20 x 20, N = 1000", test::noisePicture(20, 20, 4), gaussianWatermark(1000, 0.3, 1),
            err::TooFewCoefficients, "has 361 non-zero coefficients among its 361 candidates"},
        {"one row", test::noisePicture(40, 1, 4), gaussianWatermark(10, 0.3, 1), err::TooFewCoefficients,
            "among its 0 candidates"},
        {"alpha 0", test::noisePicture(64, 64, 4), gaussianWatermark(100, 0.0, 1), err::ZeroAlpha,
            "alpha is 0"},
        {"all-zero values", test::noisePicture(64, 64, 4), zeros, err::ZeroWatermark, "Every value"},
        // A strength too small to move any pixel leaves the picture as it was.
        {"alpha 1e-12", Picture::create(64, 64, 24), gaussianWatermark(100, 1e-12, 1), err::NothingEmbedded,
            "identical to the original"},
    };
    // The last picture: one bright pixel on black, so there are coefficients to scale.
    for (int c = 0; c < 3; ++c)
        test::pixelAt(*cases[5].picture, 10, 10)[c] = 200;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<std::uint8_t> before = pixels(*c.picture);
        test::expectError([&] { embedWatermark(*c.picture, c.watermark); }, c.number, c.part);
        test::expectError([&] { embedWatermarkInPlace(*c.picture, c.watermark); }, c.number, c.part);
        EXPECT_EQ(pixels(*c.picture), before);
        if (c.number != err::NothingEmbedded)
            test::expectError([&] { embedForTargetPsnr(*c.picture, c.watermark, 40.0); }, c.number, c.part);
    }
}

// Values so large that the marked coefficients, or the correlation's sums, overflow: an
// overflow error naming what overflowed, never a NaN similarity.
TEST(Engine, OverflowingValuesAreRefusedNotTurnedIntoNaN)
{
    Watermark huge = gaussianWatermark(50, 10.0, 6);
    for (std::size_t i = 0; i < huge.values.size(); ++i)
        huge.values[i] = i % 2 ? 1e308 : -1e308;
    const PictureRef picture = test::noisePicture(32, 32, 6);
    test::expectError([&] { embedWatermark(*picture, huge); }, err::Overflow,
        "Overflow: the marked coefficients are too large to compute with");
    const PictureRef own = picture->clone();
    test::expectError([&] { embedWatermarkInPlace(*own, huge); }, err::Overflow, "marked coefficients");
    EXPECT_EQ(pixels(*own), pixels(*picture));
    // Choosing the strength for a PSNR meets the same overflow, not a PSNR it cannot reach.
    test::expectError([&] { embedForTargetPsnr(*picture, huge, 40.0); }, err::Overflow,
        "marked coefficients are too large");

    // Detection of a genuine mark against the huge file: the watermark's sum of squares.
    const Watermark fair = gaussianWatermark(50, 0.3, 6);
    const PictureRef marked = embedWatermark(*picture, fair).marked;
    Watermark alike = fair;
    for (double& v : alike.values)
        v = 1e308;
    test::expectError([&] { detectWatermark(*picture, alike, *marked); }, err::Overflow,
        "the watermark's values are too large to compute with");
    const Analysis suspect = analysePicture(*marked);
    const Reference reference(*picture);
    test::expectError([&] { SuspectTest(reference, suspect).detect(alike, DecisionRule{}); }, err::Overflow,
        "watermark's values");
    // A strength so small that the extracted values (divided by it) overflow.
    Watermark faint = fair;
    faint.alpha = 1e-308;
    test::expectError([&] { detectWatermark(*picture, faint, *marked); }, err::Overflow,
        "the values extracted from the suspect are too large");
    // Large but finite sums whose product would overflow still give the cosine.
    const std::vector<double> big = {1e150, 2e150}, big2 = {2e150, 4e150};
    EXPECT_NEAR(normalisedCorrelation(big, big2), 1.0, 1e-12);
    const std::vector<double> tiny = {1e-150, 2e-150};
    EXPECT_NEAR(normalisedCorrelation(tiny, tiny), 1.0, 1e-12);
}

// The marked coefficients' magnitudes may sum to at most 1e300, which keeps every value of
// the transform back, each a sum of coefficients with weights of at most 2, far from
// overflowing: values whose sum lands just over it are refused (error 6) though the sum
// itself is still finite, at the level of the coefficients and for a whole picture by every
// way of embedding.
TEST(Engine, MarkedCoefficientsSummingPastTheLimitAreRefused)
{
    // One significant coefficient of 1 at alpha 1: the sum is |x + 1|.
    const std::pair<double, bool> values[] = {{0.999999e300, true}, {-0.999999e300, true},
        {1.000001e300, false}, {-1.000001e300, false}, {1e304, false}, {1e307, false}, {1e308, false}};
    for (const auto& [value, accepted] : values) {
        SCOPED_TRACE(value);
        Plane c(3, 3);
        c(1, 1) = 1.0;
        const Watermark one{"", 1, 1.0, 0.0, 1.0, {value}};
        if (accepted) {
            EXPECT_EQ(embedCoefficients(c, one), 1);
            EXPECT_EQ(c(1, 1), value + 1.0);
        } else {
            test::expectError([&] { embedCoefficients(c, one); }, err::Overflow,
                "Overflow: the marked coefficients are too large to compute with");
        }
    }

    // A picture's: every value the same, chosen from the sum of its significant coefficients
    // so that the marked ones sum to `times` the limit.
    const PictureRef picture = test::noisePicture(32, 32, 6);
    const int length = 50;
    Plane coeffs;
    DirektniDCT(luminancePlane(*picture), coeffs);
    double sum = 0.0;
    forEachSignificant(
        coeffs, OdrediPrag(coeffs, length), [&](int u, int v, long long) { sum += std::fabs(coeffs(u, v)); });
    ASSERT_GT(sum, 0.0);
    for (const double times : {2.0, 1e4}) {
        SCOPED_TRACE(times);
        Watermark w = gaussianWatermark(length, 0.5, 6);
        for (double& v : w.values)
            v = times * 1e300 / (w.alpha * sum);
        test::expectError(
            [&] { embedWatermark(*picture, w); }, err::Overflow, "marked coefficients are too large");
        const PictureRef own = picture->clone();
        test::expectError([&] { embedWatermarkInPlace(*own, w); }, err::Overflow, "marked coefficients");
        EXPECT_EQ(pixels(*own), pixels(*picture));
        test::expectError([&] { embedForTargetPsnr(*picture, w, 40.0); }, err::Overflow,
            "marked coefficients are too large");
    }
}

TEST(Embed, NoResultTouchesItsSource)
{
    const PictureRef photo = test::samplePhoto();
    const std::vector<std::uint8_t> original = pixels(*photo);
    // A second embedding from the same source, and one from a marked picture, leave the
    // source and the earlier result as they were.
    const EmbedResult first = embedWatermark(*photo, gaussianWatermark(100, 0.3, 1));
    const std::vector<std::uint8_t> firstBytes = pixels(*first.marked);
    const EmbedResult second = embedWatermark(*photo, gaussianWatermark(100, 0.3, 2));
    embedWatermark(*first.marked, gaussianWatermark(100, 0.3, 3));
    EXPECT_EQ(pixels(*photo), original);
    EXPECT_EQ(pixels(*first.marked), firstBytes);
    EXPECT_NE(pixels(*second.marked), firstBytes);
}

TEST(Engine, RefusesPicturesThatAreNot24Bit)
{
    const PictureRef good = test::noisePicture(8, 8, 1);
    const Watermark wm = gaussianWatermark(10, 0.3, 1);
    const std::string text(kOnly24BitText);
    for (const int bits : {1, 8, 16, 32}) {
        SCOPED_TRACE(bits);
        const PictureRef bad = Picture::create(8, 8, bits);
        test::expectError([&] { embedWatermark(*bad, wm); }, err::Not24Bit, text);
        test::expectError([&] { embedWatermarkInPlace(*bad, wm); }, err::Not24Bit, text);
        try {
            embedWatermark(*bad, wm);
        } catch (const Error& e) {
            EXPECT_EQ(e.what(), text);
        }
        test::expectError([&] { detectWatermark(*bad, wm, *good); }, err::Not24Bit, text);
        test::expectError([&] { detectWatermark(*good, wm, *bad); }, err::Not24Bit, text);
        for (const Attack& a : standardBattery())
            test::expectError([&] { applyAttack(*bad, a, good.get(), 1); }, err::Not24Bit, text);
    }
}

// The sample photo marked and saved as BMP detects near 1, after JPEG at quality 75 still;
// detection reads the embedding's positions in its order, never-embedded watermarks stay
// far below the threshold, and the original itself is simply "not found".
TEST(Detect, MarkedPhoto)
{
    const PictureRef photo = test::samplePhoto();
    const Analysis original = analysePicture(*photo);
    for (const int n : {100, 1000}) {
        SCOPED_TRACE(n);
        const Watermark wm = gaussianWatermark(n, 0.3, unsigned(n));
        const EmbedResult e = embedWatermark(*photo, wm);
        const DetectResult r
            = detectWatermark(*photo, wm, *decodePicture(encodePicture(*e.marked, ImageFormat::Bmp)));
        EXPECT_GE(r.similarity, 0.95);
        EXPECT_TRUE(r.found);
        EXPECT_EQ(r.coefficients, n);
        EXPECT_DOUBLE_EQ(r.z, r.similarity * std::sqrt(double(n)));
        EXPECT_LT(r.falsePositive, 1e-10);
        EXPECT_EQ(std::vector<int>({r.originalWidth, r.originalHeight, r.suspectWidth, r.suspectHeight}),
            std::vector<int>({451, 300, 451, 300}));
        EXPECT_TRUE(
            detectWatermark(*photo, wm, *decodePicture(encodePicture(*e.marked, ImageFormat::Jpeg, 75)))
                .found);

        const Analysis suspect = analysePicture(*e.marked);
        // The whole detection, on one plane, to the last bit of the steps on two analyses.
        const DetectResult whole = detectWatermark(*photo, wm, *e.marked);
        const DetectResult steps = correlate(original, wm, suspect);
        EXPECT_EQ(std::tuple(whole.similarity, whole.coefficients, whole.falsePositive),
            std::tuple(steps.similarity, steps.coefficients, steps.falsePositive));
        const Extraction x = extractWatermark(original, wm, suspect);
        ASSERT_EQ(e.changed, n);
        ASSERT_EQ(x.values.size(), std::size_t(n));
        for (std::size_t i = 0; i < x.values.size(); ++i)
            EXPECT_NEAR(x.values[i], wm.values[i], 0.15) << i;
        // Found only strictly above the threshold; a negative alpha turns the similarity round.
        const double s = correlate(original, wm, suspect).similarity;
        EXPECT_FALSE(correlate(original, wm, suspect, s).found);
        EXPECT_TRUE(correlate(original, wm, suspect, std::nextafter(s, 0.0)).found);
        Watermark negative = wm;
        negative.alpha = -0.3;
        EXPECT_NEAR(correlate(original, negative, suspect).similarity, -s, 1e-12);

        double squares = 0;
        for (unsigned seed = 5000; seed < 5200; ++seed) {
            const double other = correlate(original, gaussianWatermark(n, 0.3, seed), suspect).similarity;
            EXPECT_LT(other, 0.5) << "seed " << seed;
            squares += other * other;
        }
        EXPECT_NEAR(std::sqrt(squares / 200 * n), 1.0, 0.3); // the z-score's deviation 1/sqrt(N)

        const DetectResult same = correlate(original, wm, original);
        EXPECT_EQ(std::tuple(same.similarity, same.found, same.coefficients), std::tuple(0.0, false, n));
        const Reference reference(*photo);
        EXPECT_EQ(SuspectTest(reference, original).detect(wm, DecisionRule{}).similarity, 0.0);
    }
}

enum class Storage { BmpBottomUp, BmpTopDown, Png, Jpeg };
constexpr Storage kStorages[] = {Storage::BmpBottomUp, Storage::BmpTopDown, Storage::Png, Storage::Jpeg};
constexpr const char* kStorageNames[] = {"bottom-up BMP", "top-down BMP", "PNG", "JPEG"};

std::int32_t readInt32(const std::vector<std::uint8_t>& b, std::size_t at)
{
    return std::int32_t(std::uint32_t(b[at]) | std::uint32_t(b[at + 1]) << 8 | std::uint32_t(b[at + 2]) << 16
        | std::uint32_t(b[at + 3]) << 24);
}

// A picture written to a file's bytes and read back. The BMP writer stores rows bottom-up;
// the top-down file is that one with its rows reversed and its height negated.
PictureRef throughFile(const Picture& picture, Storage storage)
{
    if (storage == Storage::Png) return decodePicture(encodePicture(picture, ImageFormat::Png));
    if (storage == Storage::Jpeg) return decodePicture(encodePicture(picture, ImageFormat::Jpeg, 92));
    std::vector<std::uint8_t> bmp = encodePicture(picture, ImageFormat::Bmp);
    if (storage == Storage::BmpTopDown) {
        const std::size_t offset = std::size_t(readInt32(bmp, 10));
        const int height = readInt32(bmp, 22);
        const std::size_t stride = Picture::strideFor(picture.width());
        std::vector<std::uint8_t> flipped(bmp.begin(), bmp.begin() + std::ptrdiff_t(offset));
        for (int row = height - 1; row >= 0; --row) {
            const auto first = bmp.begin() + std::ptrdiff_t(offset + std::size_t(row) * stride);
            flipped.insert(flipped.end(), first, first + std::ptrdiff_t(stride));
        }
        const std::uint32_t negative = std::uint32_t(-height);
        for (int i = 0; i < 4; ++i)
            flipped[22 + std::size_t(i)] = std::uint8_t(negative >> (8 * i));
        bmp = std::move(flipped);
    }
    PictureRef out = decodePicture(bmp);
    EXPECT_EQ(out->topDown(), storage == Storage::BmpTopDown);
    return out;
}

// Original (rows) and marked suspect (columns) each stored in any of the four ways: every
// pairing finds the watermark, and wherever the pixels are the same (all but JPEG) the
// similarity is exactly the same, so neither the row order nor the format counts.
TEST(Detect, StorageOfOriginalAndSuspectDoesNotMatter)
{
    const PictureRef picture = test::texturedPicture(120, 90);
    const Watermark wm = gaussianWatermark(300, 0.2, 17);
    double s[4][4];
    for (const Storage a : kStorages) {
        const PictureRef original = throughFile(*picture, a);
        const PictureRef marked = embedWatermark(*original, wm).marked;
        EXPECT_EQ(marked->topDown(), original->topDown());
        for (const Storage b : kStorages) {
            SCOPED_TRACE(
                std::string("original ") + kStorageNames[int(a)] + ", suspect " + kStorageNames[int(b)]);
            const DetectResult r = detectWatermark(*throughFile(*picture, a), wm, *throughFile(*marked, b));
            s[int(a)][int(b)] = r.similarity;
            EXPECT_GT(r.similarity, 0.9);
            EXPECT_TRUE(r.found);
        }
    }
    for (const Storage a : kStorages)
        for (const Storage b : kStorages) {
            SCOPED_TRACE(
                std::string("original ") + kStorageNames[int(a)] + ", suspect " + kStorageNames[int(b)]);
            if (a != Storage::Jpeg) {
                EXPECT_EQ(s[int(a)][int(b)], s[0][int(b)]);
            }
            if (b != Storage::Jpeg) {
                EXPECT_EQ(s[int(a)][int(b)], s[int(a)][0]);
            }
        }
    // The plane itself: a top-down picture gives the plane of its bottom-up twin.
    const PictureRef topDown = throughFile(*picture, Storage::BmpTopDown);
    const Plane expected = luminancePlane(*picture), actual = luminancePlane(*topDown);
    EXPECT_TRUE(std::equal(expected.data(), expected.data() + std::size_t(120 * 90), actual.data()));
}

// Detection and the detector for many watermarks refuse alike, naming the cause.
TEST(Detect, RefusesWhatCannotBeCompared)
{
    const struct {
        int number, width, height;
        double alpha;
        const char* mentions[2];
    } cases[] = {{err::ZeroAlpha, 64, 64, 0.0, {"alpha", ""}}, {err::ZeroWatermark, 64, 64, -1, {"0", ""}},
        {err::SizeMismatch, 30, 30, 0.3, {"30", "64"}}, {err::SizeMismatch, 80, 64, 0.3, {"80", "64"}}};
    const PictureRef original = test::noisePicture(64, 64, 1);
    const Reference reference(*original);
    for (const auto& c : cases) {
        const PictureRef suspect = test::noisePicture(c.width, c.height, 2);
        Watermark wm = gaussianWatermark(100, c.alpha, 3);
        if (c.alpha < 0) std::fill(wm.values.begin(), wm.values.end(), 0.0); // all-zero values
        for (const char* mention : c.mentions) {
            test::expectError([&] { detectWatermark(*original, wm, *suspect); }, c.number, mention);
            test::expectError(
                [&] { SuspectTest(reference, analysePicture(*suspect)).detect(wm, DecisionRule{}); },
                c.number, mention);
        }
    }
    test::expectError([&] { reference.significant(0); }, err::SubscriptOutOfRange);
}

} // namespace
} // namespace pelinor
