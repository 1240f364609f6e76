// The robustness lab: attacks, evaluation, the detector for many watermarks, strength.
#include "lab/attacks.h"
#include "lab/evaluation.h"
#include "obrada/bytes.h"
#include "tests/test_support.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <iterator>
#include <set>

namespace pelinor {
namespace {

using test::makePicture;
using test::pixelAt;
using test::pixels;
using K = Attack::Kind;
constexpr double kSame = INFINITY; // PSNR of an unchanged picture

struct AttackCase {
    const char* name;
    K kind;
    double parameter;
    bool keepsConstant; // a picture of one colour comes out exactly as it went in
    double minDb, maxDb; // PSNR of the result on a textured picture
};

class AttackProperties : public ::testing::TestWithParam<AttackCase> { };

// Every attack returns a new picture of the same size, depth and row order, leaves its
// input alone and repeats itself exactly; what it costs in PSNR is in the table.
TEST_P(AttackProperties, Hold)
{
    const AttackCase& c = GetParam();
    const Attack attack{c.kind, c.parameter};
    for (const bool topDown : {false, true}) {
        SCOPED_TRACE(topDown ? "top-down" : "bottom-up");
        const PictureRef p = test::texturedPicture(64, 48, topDown);
        const PictureRef fill = makePicture(64, 48, [](int x, int y, int) { return (x * 7 + y * 3) % 256; });
        const std::vector<std::uint8_t> before = pixels(*p);
        const PictureRef out = applyAttack(*p, attack, fill.get(), 9);
        EXPECT_NE(out.get(), p.get());
        EXPECT_EQ(std::vector<int>({out->width(), out->height(), out->bitsPerPixel(), out->topDown()}),
            std::vector<int>({64, 48, 24, topDown}));
        EXPECT_EQ(pixels(*p), before);
        EXPECT_EQ(pixels(*applyAttack(*p, attack, fill.get(), 9)), pixels(*out));
        const double db = psnr(*p, *out);
        EXPECT_GE(db, c.minDb);
        EXPECT_LE(db, c.maxDb);
        if (c.keepsConstant) {
            const PictureRef one = makePicture(
                23, 17, [](int, int, int k) { return 37 + 90 * k; }, topDown);
            EXPECT_EQ(pixels(*applyAttack(*one, attack, one.get(), 9)), pixels(*one));
        }
    }
}

using C = AttackCase;
INSTANTIATE_TEST_SUITE_P(Table, AttackProperties,
    ::testing::Values(C{"Jpeg100", K::Jpeg, 100, false, 35, 37.5}, C{"Jpeg75", K::Jpeg, 75, false, 29, 31},
        C{"Jpeg10", K::Jpeg, 10, false, 24.5, 26.5}, C{"Noise0", K::Noise, 0, true, kSame, kSame},
        C{"Noise5", K::Noise, 5, false, 33.8, 34.3}, C{"Noise40", K::Noise, 40, false, 15.8, 16.8},
        C{"Blur0", K::Blur, 0, true, kSame, kSame}, C{"Blur0p5", K::Blur, 0.5, true, 44, 46.5},
        C{"Blur2", K::Blur, 2, true, 26.5, 28}, C{"Blur20", K::Blur, 20, true, 18, 19.5},
        C{"Scale1", K::Scale, 1, true, kSame, kSame}, C{"Scale2", K::Scale, 2, true, 42.5, 44.5},
        C{"ScaleHalf", K::Scale, 0.5, true, 32.5, 34}, C{"ScaleQuarter", K::Scale, 0.25, true, 26, 27.5},
        C{"ScaleTiny", K::Scale, 0.001, true, 16.3, 17.8}, C{"Crop1", K::Crop, 1, true, kSame, kSame},
        C{"CropHalf", K::Crop, 0.5, true, 11.5, 12.5},
        C{"Requantize256", K::Requantize, 256, true, kSame, kSame},
        C{"Requantize8", K::Requantize, 8, false, 27.3, 28.1}),
    [](const auto& c) { return std::string(c.param.name); });

struct EditCase {
    const char* name;
    Attack attack;
    int width, height; // of the result, from a 64 x 48 picture
    // The value expected at (x, y, channel) of the result, from the input's value at any place.
    std::function<int(const std::function<int(int, int, int)>& in, int x, int y, int c)> value;
};

class Edits : public ::testing::TestWithParam<EditCase> { };

// The geometric and tonal edits, pixel by pixel, in both row orders.
TEST_P(Edits, PixelByPixel)
{
    const EditCase& e = GetParam();
    for (const bool topDown : {false, true}) {
        SCOPED_TRACE(topDown ? "top-down" : "bottom-up");
        const PictureRef p = test::texturedPicture(64, 48, topDown);
        const PictureRef out = applyAttack(*p, e.attack, nullptr, 1);
        ASSERT_EQ(std::vector<int>({out->width(), out->height(), out->bitsPerPixel(), out->topDown()}),
            std::vector<int>({e.width, e.height, 24, topDown}));
        const auto in = [&](int x, int y, int c) {
            return x < 0 || y < 0 || x >= 64 || y >= 48 ? 0 : int(pixelAt(*p, x, y)[c]);
        };
        const PictureRef jpeg = attackJpeg(*p, 80);
        const auto value
            = e.value ? e.value : [&](auto, int x, int y, int c) { return int(pixelAt(*jpeg, x, y)[c]); };
        int wrong = 0;
        for (int y = 0; y < e.height; ++y)
            for (int x = 0; x < e.width; ++x)
                for (int c = 0; c < 3; ++c)
                    wrong += std::abs(pixelAt(*out, x, y)[c] - value(in, x, y, c)) > 1;
        EXPECT_EQ(wrong, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Table, Edits,
    ::testing::Values(
        EditCase{"Rotate0", {K::Rotate, 0}, 64, 48, [](auto in, int x, int y, int c) { return in(x, y, c); }},
        // A quarter turn counter-clockwise about (31.5, 23.5): what was at the right is at the top.
        EditCase{"Rotate90", {K::Rotate, 90}, 64, 48,
            [](auto in, int x, int y, int c) { return in(55 - y, x - 8, c); }},
        EditCase{"Shift", {K::Shift, 3, -2}, 64, 48,
            [](auto in, int x, int y, int c) { return in(x - 3, y + 2, c); }},
        EditCase{
            "Mirror", {K::Mirror}, 64, 48, [](auto in, int x, int y, int c) { return in(63 - x, y, c); }},
        EditCase{"CropTo", {K::CropTo, 0.5}, 32, 24,
            [](auto in, int x, int y, int c) { return in(x + 16, y + 12, c); }},
        EditCase{"ResizeHalf", {K::Resize, 0.5}, 32, 24,
            [](auto in, int x, int y, int c) {
                return (in(2 * x, 2 * y, c) + in(2 * x + 1, 2 * y, c) + in(2 * x, 2 * y + 1, c)
                           + in(2 * x + 1, 2 * y + 1, c) + 2)
                    / 4;
            }},
        EditCase{"Tone", {K::Tone, 1.1, 10}, 64, 48,
            [](auto in, int x, int y, int c) { return int(limitAndRound(1.1 * in(x, y, c) + 10)); }},
        EditCase{"Gamma", {K::Gamma, 2}, 64, 48,
            [](auto in, int x, int y, int c) {
                return int(limitAndRound(255 * std::sqrt(in(x, y, c) / 255.0)));
            }},
        // Already small: only the JPEG at quality 80.
        EditCase{"SocialSmall", {K::Social}, 64, 48, nullptr}),
    [](const auto& c) { return std::string(c.param.name); });

TEST(Attacks, SocialBringsTheLongSideTo1080)
{
    for (const auto& [w, h, ow, oh] : {std::array{2160, 1000, 1080, 500}, std::array{600, 1620, 400, 1080}}) {
        const PictureRef out
            = attackSocial(*makePicture(w, h, [](int x, int y, int) { return (x + y) % 256; }));
        EXPECT_EQ(std::pair(out->width(), out->height()), std::pair(ow, oh));
    }
}

TEST(Attacks, NoiseSeedAreaAveragingAndPsnr)
{
    const PictureRef p = test::texturedPicture(16, 16);
    EXPECT_NE(pixels(*attackNoise(*p, 5.0, 42)), pixels(*attackNoise(*p, 5.0, 43)));
    const PictureRef stripes = makePicture(40, 20, [](int x, int, int) { return x % 2 ? 255 : 0; });
    const PictureRef half = resizePicture(*stripes, 20, 10);
    for (int x = 2; x < 18; ++x)
        EXPECT_NEAR(pixelAt(*half, x, 5)[2], 128, 1) << x;

    const PictureRef a = makePicture(10, 10, [](int, int, int) { return 100; });
    const PictureRef b = makePicture(
        10, 10, [](int, int, int) { return 110; }, true);
    EXPECT_NEAR(psnr(*a, *b), 10 * std::log10(255.0 * 255.0 / 100.0), 1e-12);
    test::expectError(
        [&] { psnr(*a, *makePicture(10, 9, [](int, int, int) { return 0; })); }, err::SizeMismatch);
}

TEST(Attacks, CropKeepsTheCentreFractionAndFillsFromTheOriginal)
{
    const PictureRef marked = makePicture(40, 30, [](int, int, int) { return 200; });
    const PictureRef original = makePicture(
        40, 30, [](int, int, int) { return 10; }, true);
    EXPECT_EQ(pixels(*attackCrop(*marked, 0.0, *original)), pixels(*original));
    for (double f : {0.75, 0.5, 0.25}) {
        const PictureRef out = attackCrop(*marked, f, *original);
        int kept = 0;
        for (int y = 0; y < 30; ++y)
            for (int x = 0; x < 40; ++x)
                kept += pixelAt(*out, x, y)[1] == 200;
        EXPECT_NEAR(kept / 1200.0, f, 0.03) << f;
        EXPECT_EQ(
            std::vector<int>({pixelAt(*out, 20, 15)[0], pixelAt(*out, 0, 0)[0], pixelAt(*out, 39, 29)[0]}),
            std::vector<int>({200, 10, 10}))
            << f;
    }
    test::expectError(
        [&] { attackCrop(*marked, 0.5, *makePicture(40, 31, [](int, int, int) { return 0; })); },
        err::SizeMismatch);
    test::expectError([&] { applyAttack(*marked, {K::Crop, 0.5}, nullptr, 0); }, err::InvalidCall);
}

TEST(Attacks, RequantizeGivesExactlyThatManyLevels)
{
    const PictureRef ramp = makePicture(256, 1, [](int x, int, int) { return x; });
    for (const int levels : {2, 3, 8, 32, 100, 256}) {
        const PictureRef out = attackRequantize(*ramp, levels);
        std::set<int> seen;
        for (int x = 0; x < 256; ++x) {
            seen.insert(pixelAt(*out, x, 0)[0]);
            EXPECT_LE(std::abs(pixelAt(*out, x, 0)[0] - x), 128 / (levels - 1) + 1) << x;
        }
        EXPECT_EQ(std::tuple(int(seen.size()), *seen.begin(), *seen.rbegin()), std::tuple(levels, 0, 255));
    }
}

TEST(Attacks, ParametersAreChecked)
{
    const struct {
        K kind;
        std::vector<double> valid, invalid;
    } cases[] = {{K::Jpeg, {1, 100}, {0, 101, 50.5}}, {K::Noise, {0}, {-1, NAN}}, {K::Blur, {20}, {1e9}},
        {K::Scale, {0.25}, {0, 4.5, INFINITY}}, {K::Crop, {1}, {1.01}}, {K::Requantize, {2}, {1, 257}},
        {K::Rotate, {-360, 1}, {361, NAN}}, {K::Shift, {-3, 1e5}, {2e5}}, {K::CropTo, {1, 0.01}, {0, 1.5}},
        {K::Resize, {4, 0.1}, {0, 5}}, {K::Tone, {1, 10}, {0, 11}}, {K::Gamma, {0.05, 20}, {0.01, 21}},
        {K::Mirror, {0}, {NAN}}, {K::Social, {0}, {INFINITY}}};
    for (const auto& c : cases) {
        for (const double v : c.valid)
            EXPECT_NO_THROW(validateAttack({c.kind, v})) << attackName(c.kind) << v;
        for (const double v : c.invalid)
            test::expectError([&] { validateAttack({c.kind, v}); }, err::InvalidCall, attackName(c.kind));
    }
}

// The table is the one declaration of every attack: each kind once, each range's ends
// accepted and the values just outside refused with the range the help shows.
TEST(Attacks, TheTableDeclaresEveryAttackOnceWithItsRanges)
{
    std::set<int> kinds;
    std::set<std::string> names;
    for (const AttackEntry& entry : attackTable()) {
        SCOPED_TRACE(entry.name);
        EXPECT_TRUE(kinds.insert(int(entry.kind)).second);
        EXPECT_TRUE(names.insert(entry.name).second);
        EXPECT_EQ(attackName(entry.kind), entry.name);
        EXPECT_EQ(&attackEntry(entry.kind), &entry);
        EXPECT_EQ(isGeometric(entry.kind), entry.family == AttackFamily::Geometric);
        EXPECT_EQ(entry.metavar == nullptr, entry.values == 0);
        const std::string help = attackHelp(entry);
        EXPECT_EQ(help.find("{range}"), std::string::npos);
        if (entry.values > 0) {
            EXPECT_NE(help.find(rangeNote(entry)), std::string::npos) << help;
        }
        const std::string text = rangeText(entry);
        const auto refused = [&](double first, double second) {
            test::expectError(
                [&] {
                    validateAttack({entry.kind, first, second});
                },
                err::InvalidCall, "the " + std::string(entry.name) + " parameter ");
            try {
                validateAttack({entry.kind, first, second});
            } catch (const Error& e) {
                EXPECT_NE(std::string(e.what()).find(text), std::string::npos) << e.what();
            }
        };
        const auto ends = [](const ParameterRange& r) {
            const double step = r.whole ? 1.0 : 1e-9 * std::max(1.0, std::fabs(r.max));
            return std::array{
                r.aboveMin ? r.min + step : r.min, r.max, r.aboveMin ? r.min : r.min - step, r.max + step};
        };
        if (entry.values == 0) {
            EXPECT_NO_THROW(validateAttack({entry.kind, 0.0, 0.0}));
            continue;
        }
        const auto first = ends(entry.first);
        const double inSecond = entry.values == 2 ? entry.second.max : 0.0;
        EXPECT_NO_THROW(validateAttack({entry.kind, first[0], inSecond}));
        EXPECT_NO_THROW(validateAttack({entry.kind, first[1], inSecond}));
        refused(first[2], inSecond);
        refused(first[3], inSecond);
        if (entry.first.whole) refused(entry.first.min + 0.5, inSecond);
        if (entry.values == 2) {
            const auto second = ends(entry.second);
            EXPECT_NO_THROW(validateAttack({entry.kind, first[1], second[0]}));
            refused(first[1], second[2]);
            refused(first[1], second[3]);
        }
    }
    EXPECT_EQ(int(kinds.size()), int(K::Social) + 1);
    // As the refusals and --help state them.
    EXPECT_EQ(rangeText(attackEntry(K::Jpeg)), "a whole number from 1 to 100");
    EXPECT_EQ(rangeNote(attackEntry(K::Scale)), "0 < F <= 4");
    EXPECT_EQ(
        rangeText(attackEntry(K::Tone)), "a gain above 0 and at most 10 and an offset from -255 to 255");
    EXPECT_EQ(rangeNote(attackEntry(K::Tone)), "0 < GAIN <= 10, -255 <= OFFSET <= 255");
    EXPECT_EQ(rangeText(attackEntry(K::Shift)), "each from -100000 to 100000 pixels");
    EXPECT_EQ(rangeText(attackEntry(K::Rotate)), "from -360 to 360 degrees");
}

// The sizes a command checks against its budget before attacking are the sizes the attacks
// make, at every attack's ends of range and in between.
TEST(Attacks, ResultSizesAreKnownBeforeAttacking)
{
    const PictureRef picture = test::noisePicture(37, 23, 4);
    for (const AttackEntry& entry : attackTable()) {
        std::vector<double> values = {entry.first.max};
        if (entry.values > 0) values.push_back(entry.first.aboveMin ? entry.first.max / 3 : entry.first.min);
        for (const double v : values) {
            const Attack attack{entry.kind, v, entry.values == 2 ? entry.second.max / 2 : 0.0};
            SCOPED_TRACE(attackLabel(attack));
            const AttackSize size = attackResultSize(attack, 37, 23);
            const PictureRef out = applyAttack(*picture, attack, picture.get(), 1);
            EXPECT_EQ(std::pair(size.width, size.height), std::pair(out->width(), out->height()));
            EXPECT_GE(
                size.peakPixels, std::max<std::int64_t>(37 * 23, std::int64_t(out->width()) * out->height()));
        }
    }
    // Scaling by 4 and back holds a picture 16 times the size on the way; a social copy of a
    // wide picture is brought to 1080 pixels.
    EXPECT_EQ(attackResultSize({K::Scale, 4}, 1000, 500).peakPixels, 4000LL * 2000);
    const AttackSize social = attackResultSize({K::Social}, 4000, 1000);
    EXPECT_EQ(std::pair(social.width, social.height), std::pair(1080, 270));
    // Sides are rounded, not truncated: 0.9 of 64 x 48 keeps 58 x 43.
    const PictureRef wide = test::noisePicture(64, 48, 2);
    for (const K kind : {K::CropTo, K::Resize}) {
        const PictureRef out = applyAttack(*wide, {kind, 0.9}, nullptr, 1);
        EXPECT_EQ(std::pair(out->width(), out->height()), std::pair(58, 43)) << attackName(kind);
    }
}

// The man page describes every attack of the table with the ranges --help gives.
TEST(Attacks, TheManPageStatesEveryAttackWithItsRanges)
{
    std::ifstream in(std::string(PELINOR_SOURCE_DIR) + "/data/man/pelinor-cli.1.in");
    ASSERT_TRUE(in);
    std::string man((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    man = man.substr(man.find(".\\\" ---- attack"));
    man = man.substr(0, man.find(".\\\" ---- ", 10));
    // The text as it reads: "\-" is a minus, lines run on.
    for (std::size_t at; (at = man.find("\\-")) != std::string::npos;)
        man.replace(at, 2, "-");
    std::replace(man.begin(), man.end(), '\n', ' ');
    for (const AttackEntry& entry : attackTable()) {
        SCOPED_TRACE(entry.name);
        const std::string flag = std::string(entry.values ? ".BI --" : ".B --") + entry.name + " ";
        const std::size_t at = man.find(flag);
        ASSERT_NE(at, std::string::npos) << flag;
        const std::string text = man.substr(at, man.find(".TP", at) - at);
        EXPECT_NE(text.find(rangeNote(entry)), std::string::npos) << text;
    }
}

class Lab : public ::testing::Test {
protected:
    const PictureRef original = test::texturedPicture(128, 96);
    const Watermark watermark = test::gaussianWatermark(300, 0.3, 7);
    const PictureRef marked = embedWatermark(*original, watermark).marked;
};

TEST_F(Lab, EvaluationRowsAndFalsePositives)
{
    EvaluationOptions options;
    options.randomCount = 200;
    int calls = 0, lastDone = 0, lastTotal = 0;
    const Evaluation ev
        = evaluateRobustness(*original, watermark, options, [&](int done, int total, const std::string&) {
              EXPECT_EQ(done, ++calls);
              lastDone = done;
              lastTotal = total;
          });
    EXPECT_EQ(lastDone, lastTotal);
    ASSERT_EQ(ev.rows.size(), standardBattery().size() + registrationBattery().size() + 2);
    EXPECT_EQ(ev.rows[0].kind, RowKind::Marked);
    EXPECT_EQ(rowFamily(ev.rows[0]), "none");
    EXPECT_GT(ev.rows[0].result.similarity, 0.95);
    EXPECT_NEAR(ev.rows[0].psnr, ev.markedPsnr, 1e-12);
    EXPECT_EQ(ev.rows[1].kind, RowKind::Control);
    EXPECT_EQ(rowFamily(ev.rows[1]), "control");
    EXPECT_EQ(rowFamily(ev.rows[2]), "jpeg");
    EXPECT_EQ(ev.rows[1].result.similarity, 0.0);
    EXPECT_FALSE(ev.rows[1].result.found);
    EXPECT_EQ(ev.rows[2].label, "JPEG Q=90");
    EXPECT_TRUE(ev.rows[2].result.found);
    for (const EvaluationRow& r : ev.rows)
        EXPECT_TRUE(r.kind == RowKind::Control || std::isfinite(r.psnr)) << r.label;

    // The copies registration brings back: as they stand only the same-size ones can be
    // tested at all and the moved ones fail; a row found as it stands is not registered,
    // every other one is, and the moved ones gain by it. (This small picture with fine
    // texture and a strong mark loses the mark to halving, so not every row is found.)
    const std::size_t chains = standardBattery().size() + 2;
    for (std::size_t i = chains; i < ev.rows.size(); ++i) {
        const EvaluationRow& r = ev.rows[i];
        SCOPED_TRACE(r.label);
        EXPECT_EQ(r.kind, RowKind::Copy);
        EXPECT_TRUE(rowFamily(r) == "geometric" || rowFamily(r) == "tone");
        EXPECT_EQ(r.comparable, !std::isnan(r.result.similarity));
        EXPECT_EQ(r.registration.has_value(), !(r.comparable && r.result.found));
        if (rowFamily(r) == "geometric" && r.comparable && !r.result.found) {
            EXPECT_GT(r.registered.similarity, r.result.similarity + 0.3);
        }
    }
    int plainly = 0, registered = 0;
    for (std::size_t i = 2; i < ev.rows.size(); ++i) {
        plainly += ev.rows[i].result.found;
        registered += ev.rows[i].registered.found;
    }
    EXPECT_GE(registered, plainly + 3);
    const auto row = [&](const std::string& label) {
        return *std::find_if(
            ev.rows.begin(), ev.rows.end(), [&](const EvaluationRow& r) { return r.label == label; });
    };
    EXPECT_FALSE(row("mirror").result.found);
    EXPECT_TRUE(row("mirror").registration->mirrored);
    EXPECT_FALSE(row("resize ×0.5").comparable);
    EXPECT_NEAR(row("resize ×0.5").registration->scale, 0.5, 0.01);
    EXPECT_GT(ev.registeredRows, 3);
    EXPECT_LT(ev.registeredRandomMax, 0.3);
    EXPECT_GT(ev.registeredRandomMax, 0.0);

    // Never-embedded watermarks: similarity near normal with deviation 1/sqrt(N).
    ASSERT_EQ(ev.randomSimilarities.size(), 200u);
    double squares = 0;
    for (double s : ev.randomSimilarities)
        squares += s * s;
    EXPECT_NEAR(std::sqrt(squares / 200 * 300), 1.0, 0.25);
    EXPECT_LT(ev.randomMax, 0.5);
    EXPECT_DOUBLE_EQ(ev.randomP99, percentile(ev.randomSimilarities, 99));
    EXPECT_LE(ev.randomP99, ev.randomMax);
    EXPECT_DOUBLE_EQ(percentile({1, 2}, 25), 1.25);

    // The random watermarks' progress, on one worker: one call per watermark tested, the
    // total falling by K for each picture that needs no registration, ending equal.
    options.jobs = 1; // the worker count changes nothing
    std::vector<std::pair<long long, long long>> randomCalls;
    options.randomProgress = [&](long long done, long long total) { randomCalls.emplace_back(done, total); };
    const Evaluation serial = evaluateRobustness(*original, watermark, options);
    ASSERT_FALSE(randomCalls.empty());
    const long long tested = 200LL * (1 + serial.registeredRows);
    EXPECT_EQ(randomCalls.back(), std::pair(tested, tested));
    EXPECT_EQ(randomWatermarkTotal(options),
        200LL * (2 + static_cast<long long>(options.battery.size() + options.chains.size())));
    for (std::size_t i = 1; i < randomCalls.size(); ++i) {
        EXPECT_LE(randomCalls[i].second, randomCalls[i - 1].second);
        EXPECT_LE(randomCalls[i].first - randomCalls[i - 1].first, 1);
        EXPECT_LE(randomCalls[i].first, randomCalls[i].second);
    }
    EXPECT_LE(randomCalls.front().second, randomWatermarkTotal(options));
    for (std::size_t i = 0; i < ev.rows.size(); ++i)
        EXPECT_EQ(std::pair(serial.rows[i].comparable, serial.rows[i].registered.similarity),
            std::pair(ev.rows[i].comparable, ev.rows[i].registered.similarity))
            << ev.rows[i].label;
    EXPECT_EQ(serial.randomSimilarities, ev.randomSimilarities);
}

// A row's PSNR is the tested copy's against the original, as the copy was made: for a copy
// of the original's size even when registration ran on it (mirrored, re-toned), never the
// registered picture's, which registration brought back close to the original.
TEST_F(Lab, SameSizeRowsReportThePsnrOfTheAttackedCopy)
{
    EvaluationOptions options;
    options.randomCount = 10;
    options.battery = {{K::Jpeg, 50}, {K::Noise, 5}};
    // Darkened or gamma 0.5 the copy needs registration (its tone curve undone) to show the
    // mark; brightened a little it shows it as it stands.
    options.chains = {{{K::Tone, 1.1, 10}}, {{K::Tone, 0.6, 0}}, {{K::Gamma, 0.5}}, {{K::Mirror}},
        {{K::Shift, 3, 0}}, {{K::Resize, 0.5}}};
    const Evaluation ev = evaluateRobustness(*original, watermark, options);
    ASSERT_EQ(ev.rows.size(), 10u);
    std::set<std::string> registeredSameSize; // the families of the rows this is about
    for (const EvaluationRow& row : ev.rows) {
        SCOPED_TRACE(row.label);
        if (row.kind == RowKind::Control) {
            EXPECT_EQ(row.psnr, kSame);
            continue;
        }
        std::vector<Attack> chain = row.chain;
        if (row.kind == RowKind::Attacked) chain = {row.attack};
        PictureRef copy = marked;
        for (const Attack& a : chain)
            copy = applyAttack(*copy, a, original.get(), options.seed);
        if (!row.comparable) {
            EXPECT_NE(copy->width(), original->width());
            EXPECT_TRUE(std::isfinite(row.psnr)); // the registered copy's
            continue;
        }
        if (row.registration) registeredSameSize.insert(rowFamily(row));
        EXPECT_NEAR(row.psnr, psnr(*original, *copy), 1e-9) << (row.registration ? "registered" : "plain");
    }
    EXPECT_EQ(registeredSameSize, (std::set<std::string>{"geometric", "tone"}));
}

// The workers' copies come out of one budget: with room for two pictures, four workers
// never hold more at once, and every copy is counted at the most its chain holds.
TEST_F(Lab, WorkersTakeTheirCopiesFromOneBudget)
{
    const std::int64_t pixels = std::int64_t(original->width()) * original->height();
    EXPECT_EQ(chainPeakPixels({{K::Resize, 0.5}, {K::Resize, 4}}, 128, 96), 4 * pixels);
    EXPECT_EQ(chainPeakPixels({}, 128, 96), pixels);
    EvaluationOptions options;
    options.randomCount = 10;
    options.jobs = 4;
    options.battery = {{K::Jpeg, 50}, {K::Noise, 5}, {K::Blur, 1}, {K::Crop, 0.5}, {K::Requantize, 32}};
    options.chains = {{{K::Resize, 0.5}}, {{K::Mirror}}};
    PixelBudget budget(2 * pixels);
    options.budget = &budget;
    const Evaluation ev = evaluateRobustness(*original, watermark, options);
    EXPECT_EQ(ev.rows.size(), 9u);
    EXPECT_GE(budget.peak(), pixels);
    EXPECT_LE(budget.peak(), 2 * pixels);
}

TEST_F(Lab, TargetPsnrLandsJustAboveTheTarget)
{
    for (const double target : {32.0, 38.0, 44.0}) {
        for (const double fileAlpha : {0.3, -0.3}) {
            SCOPED_TRACE(std::to_string(target) + " dB, alpha " + std::to_string(fileAlpha));
            Watermark w = watermark;
            w.alpha = fileAlpha;
            const TargetPsnrEmbed chosen = embedForTargetPsnr(*original, w, target);
            EXPECT_GE(chosen.embedded.psnr, target);
            EXPECT_LT(chosen.embedded.psnr, target + 0.25);
            EXPECT_EQ(chosen.alpha < 0, fileAlpha < 0);
            w.alpha = chosen.alpha * 1.02; // a little stronger falls below the target
            EXPECT_LT(embedWatermark(*original, w).psnr, target);
            // The file's alpha still detects the result.
            EXPECT_EQ(detectWatermark(*original, watermark, *chosen.embedded.marked).found, fileAlpha > 0);
        }
    }
    for (const double unreachable : {150.0, -3.0})
        test::expectError([&] { alphaForTargetPsnr(*original, watermark, unreachable); }, err::InvalidCall);
    Watermark zero = watermark;
    zero.alpha = 0.0;
    test::expectError([&] { alphaForTargetPsnr(*original, zero, 40.0); }, err::ZeroAlpha);
}

} // namespace
} // namespace pelinor
