#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <filesystem>
#include <limits>
#include <locale>

#include "obrada/error.h"
#include "temp_dir.h"
#include "watermark/generator.h"
#include "watermark/watermark_file.h"

namespace pelinor {
namespace {

std::vector<std::string> splitCrlf(const std::string& text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(text.substr(start, end - start));
    EXPECT_EQ(start, text.size()) << "text after the last CRLF";
    return lines;
}

std::vector<std::string> generate(const test::TempDir& dir, std::int32_t n, std::int32_t seed, double mean = 0,
                                  double deviation = 1, double alpha = 0.3)
{
    const std::string path = dir.file("mark.wmk");
    CoxGenMark(path, alpha, n, seed, mean, deviation);
    return splitCrlf(test::readText(path));
}

// The procedure spelt out step by step with the same draws, as an oracle for the file's
// value lines: k and its low 15 bits, u and v, the rejection, f with the natural log.
std::vector<std::string> literalValues(std::int32_t n, std::int32_t seed, double mean, double deviation)
{
    std::mt19937 generator(static_cast<std::uint32_t>(seed));
    auto component = [&] {
        const double r = uniformDraw(generator);
        const long k = static_cast<long>(std::floor(65536 * r - 32768));
        const long m = ((k % 32768) + 32768) % 32768;
        return (static_cast<double>(m) / 32768) * 2 - 1;
    };
    std::vector<std::string> lines;
    while (static_cast<std::int32_t>(lines.size()) < n) {
        const double u = component();
        const double v = component();
        const double s = v * v + u * u;
        if (s == 0 || s >= 1) continue;
        const double f = std::sqrt((-2 * std::log(s)) / s);
        lines.push_back(formatReal((f * u) * deviation + mean));
        if (static_cast<std::int32_t>(lines.size()) < n) lines.push_back(formatReal((f * v) * deviation + mean));
    }
    return lines;
}

std::vector<double> valuesOf(const std::vector<std::string>& lines)
{
    std::string text;
    for (const auto& line : lines) text += line + "\r\n";
    return parseWatermark(text).values;
}

TEST(PairProcedure, ComponentFromDraw)
{
    const struct {
        float r;
        double u;
    } cases[] = {
        {0.0f, -1.0},                      // k = -32768, low bits 0
        {0.25f, 0.0},                      // k = -16384, low bits 16384
        {0.5f, -1.0},                      // k = 0
        {0.75f, 0.0},                      // k = 16384
        {0.875f, 0.5},                     // k = 24576
        {1.0f - 0x1p-24f, 1.0 - 0x1p-14},  // the largest draw: k = 32767
        {0.5f - 0x1p-24f, 1.0 - 0x1p-14},  // k = -1, low bits 32767
        {0x1p-16f, -1.0 + 0x1p-14},        // k = -32767
    };
    for (const auto& c : cases) EXPECT_EQ(pairComponent(c.r), c.u) << c.r;
}

TEST(PairProcedure, DrawsStayBelowOne)
{
    std::mt19937 generator(1);
    float lowest = 1, highest = 0;
    for (int i = 0; i < 200000; ++i) {
        const float r = uniformDraw(generator);
        lowest = std::min(lowest, r);
        highest = std::max(highest, r);
    }
    EXPECT_GE(lowest, 0.0f);
    EXPECT_LT(highest, 1.0f);
    EXPECT_GT(highest, 0.9999f);
}

TEST(PairProcedure, RejectsZeroAndOutsideTheUnitCircle)
{
    double x1 = 7, x2 = 7;
    for (auto [u, v] : {std::pair{0.0, 0.0}, {1.0, 0.0}, {-1.0, 0.0}, {0.0, -1.0}, {-1.0, -1.0}, {0.75, 0.75}})
        EXPECT_FALSE(polarPair(u, v, x1, x2)) << u << "," << v;
    EXPECT_EQ(x1, 7);
    ASSERT_TRUE(polarPair(0.5, 0.0, x1, x2));
    EXPECT_NEAR(x1, 0.5 * std::sqrt(8 * std::log(4.0)), 1e-15);  // natural log: 1.66510922...
    EXPECT_EQ(x2, 0.0);
    ASSERT_TRUE(polarPair(-0.6, 0.3, x1, x2));
    EXPECT_NEAR(x1 / x2, -2.0, 1e-15);
}

TEST(CoxGenMark, DefaultDialogValuesGive105Lines)
{
    test::TempDir dir;
    const auto lines = generate(dir, 100, 0);
    ASSERT_EQ(lines.size(), 105u);
    EXPECT_EQ(lines[0], "\"CXSG\"");
    EXPECT_EQ(lines[1], "100");
    EXPECT_EQ(lines[2], "0.3");
    EXPECT_EQ(lines[3], "0");
    EXPECT_EQ(lines[4], "1");
    for (const auto& line : lines) {
        EXPECT_FALSE(line.empty());
        EXPECT_EQ(line.find_first_of(" \t,"), std::string::npos) << line;
    }
    const Watermark w = readWatermark(dir.file("mark.wmk"));
    EXPECT_EQ(w.length, 100);
    EXPECT_EQ(w.values.size(), 100u);
}

TEST(CoxGenMark, MatchesTheLiteralProcedureForOddAndEvenLengths)
{
    test::TempDir dir;
    for (std::int32_t n : {1, 2, 7, 8, 101}) {
        const auto lines = generate(dir, n, 4242, 2.5, -3);
        ASSERT_EQ(lines.size(), 5u + n) << n;
        EXPECT_EQ(lines[1], std::to_string(n));
        EXPECT_EQ(std::vector<std::string>(lines.begin() + 5, lines.end()), literalValues(n, 4242, 2.5, -3)) << n;
    }
}

TEST(CoxGenMark, ZeroOrNegativeLengthWritesOnlyTheHeader)
{
    test::TempDir dir;
    for (std::int32_t n : {0, -1, -5, std::numeric_limits<std::int32_t>::min()}) {
        EXPECT_EQ(generate(dir, n, 0), (std::vector<std::string>{"\"CXSG\"", std::to_string(n), "0.3", "0", "1"}));
        // Such a file is refused by its readers.
        EXPECT_THROW(readWatermark(dir.file("mark.wmk")), Error);
    }
}

TEST(CoxGenMark, NegativeDeviationMirrorsAboutTheMean)
{
    test::TempDir dir;
    const auto up = valuesOf(generate(dir, 51, 99, 5, 2));
    const auto down = valuesOf(generate(dir, 51, 99, 5, -2));
    ASSERT_EQ(up.size(), 51u);
    ASSERT_EQ(down.size(), 51u);
    for (std::size_t i = 0; i < up.size(); ++i) EXPECT_NEAR(down[i] - 5, -(up[i] - 5), 1e-13) << i;
}

TEST(CoxGenMark, SeedReproducesAndZeroSeedDiffers)
{
    test::TempDir dir;
    EXPECT_EQ(generate(dir, 50, 17), generate(dir, 50, 17));
    EXPECT_EQ(generate(dir, 50, -17), generate(dir, 50, -17));
    EXPECT_NE(generate(dir, 50, 17), generate(dir, 50, 18));
    // Two entropy-seeded generations in quick succession still differ.
    EXPECT_NE(generate(dir, 50, 0), generate(dir, 50, 0));
}

TEST(CoxGenMark, SampleHasTheStatedMeanAndDeviation)
{
    test::TempDir dir;
    constexpr int n = 20000;
    for (std::int32_t seed : {7, 0}) {
        const auto values = valuesOf(generate(dir, n, seed, 3, 2));
        ASSERT_EQ(values.size(), std::size_t(n));
        double sum = 0, sumSquares = 0;
        for (double x : values) sum += x;
        const double mean = sum / n;
        for (double x : values) sumSquares += (x - mean) * (x - mean);
        const double deviation = std::sqrt(sumSquares / (n - 1));
        // Five standard errors: 2 / sqrt(n) for the mean, about 2 / sqrt(2n) for the deviation.
        EXPECT_NEAR(mean, 3.0, 5 * 2 / std::sqrt(n)) << seed;
        EXPECT_NEAR(deviation, 2.0, 5 * 2 / std::sqrt(2.0 * n)) << seed;
    }
}

TEST(CoxGenMark, FailureLeavesTheOldFileAlone)
{
    test::TempDir dir;
    const std::string path = dir.file("mark.wmk");
    test::writeText(path, "old contents");
    const double huge = std::numeric_limits<double>::max();
    const struct {
        std::int32_t n;
        double mean, deviation;
        int number;
    } cases[] = {
        {10, huge, huge, err::Overflow},
        {10, -huge, huge, err::Overflow},
        {10, 0, std::numeric_limits<double>::infinity(), err::Overflow},
        {kMaxWatermarkLength + 1, 0, 1, err::OutOfMemory},
    };
    for (const auto& c : cases) {
        try {
            CoxGenMark(path, 0.3, c.n, 1, c.mean, c.deviation);
            ADD_FAILURE() << c.n << " " << c.mean << " " << c.deviation;
        } catch (const Error& e) {
            EXPECT_EQ(e.number(), c.number) << e.what();
        }
        EXPECT_EQ(test::readText(path), "old contents");
    }
    EXPECT_THROW(CoxGenMark(dir.file("no-such-folder/mark.wmk"), 0.3, 10, 1, 0, 1), Error);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

// Restores the C and C++ global locales.
class LocaleGuard {
public:
    LocaleGuard() : m_cpp(std::locale()), m_c(std::setlocale(LC_ALL, nullptr)) {}
    ~LocaleGuard()
    {
        std::locale::global(m_cpp);
        std::setlocale(LC_ALL, m_c.c_str());
    }

private:
    std::locale m_cpp;
    std::string m_c;
};

struct CommaPunct : std::numpunct<char> {
    char do_decimal_point() const override { return ','; }
    char do_thousands_sep() const override { return '.'; }
    std::string do_grouping() const override { return "\3"; }
};

void expectPeriodsOnly(const test::TempDir& dir)
{
    const auto lines = generate(dir, 20, 3, -0.5, 1000.25, 0.3);
    ASSERT_EQ(lines.size(), 25u);
    EXPECT_EQ(lines[2], "0.3");
    EXPECT_EQ(lines[3], "-0.5");
    EXPECT_EQ(lines[4], "1000.25");
    for (const auto& line : lines) EXPECT_EQ(line.find_first_of(", "), std::string::npos) << line;
    const Watermark w = readWatermark(dir.file("mark.wmk"));
    EXPECT_EQ(w.alpha, 0.3);
    EXPECT_EQ(w.deviation, 1000.25);
}

TEST(CoxGenMark, CommaLocaleFacetStillWritesPeriods)
{
    test::TempDir dir;
    LocaleGuard guard;
    std::locale::global(std::locale(std::locale::classic(), new CommaPunct));
    expectPeriodsOnly(dir);
}

TEST(CoxGenMark, CommaSystemLocaleStillWritesPeriods)
{
    test::TempDir dir;
    LocaleGuard guard;
    bool found = false;
    for (const char* name : {"hr_HR.UTF-8", "de_DE.UTF-8", "hr_HR.utf8", "de_DE.utf8"}) {
        try {
            std::locale::global(std::locale(name));  // sets the C locale too
            found = true;
            break;
        } catch (const std::runtime_error&) {
        }
    }
    if (!found) GTEST_SKIP() << "no decimal-comma locale installed (hr_HR.UTF-8 or de_DE.UTF-8)";
    ASSERT_EQ(*std::localeconv()->decimal_point, ',');
    expectPeriodsOnly(dir);
}

}  // namespace
}  // namespace pelinor
