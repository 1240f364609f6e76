#include <gtest/gtest.h>

#include <clocale>
#include <limits>
#include <locale>

#include "fixtures.h"
#include "watermark/generator.h"

namespace pelinor {
namespace {

// The file's lines, each of which must end in CRLF.
std::vector<std::string> generate(const test::TempDir& dir, std::int32_t n, std::int32_t seed, double mean = 0,
                                  double deviation = 1, double alpha = 0.3)
{
    CoxGenMark(dir.file("mark.wmk"), alpha, n, seed, mean, deviation);
    const std::string text = test::readText(dir.file("mark.wmk"));
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(text.substr(start, end - start));
    EXPECT_EQ(start, text.size()) << "text after the last CRLF";
    return lines;
}

std::vector<double> valuesOf(const test::TempDir& dir)
{
    return readWatermark(dir.file("mark.wmk")).values;
}

// The pair procedure spelt out with the same draws: k and its low 15 bits, u and v, the
// rejection, f with the natural log, values as they are computed (an odd N ends mid-pair).
std::vector<std::string> literalValues(std::int32_t n, std::int32_t seed, double mean, double deviation)
{
    std::mt19937 generator(static_cast<std::uint32_t>(seed));
    auto component = [&] {
        const long k = static_cast<long>(std::floor(65536 * double(uniformDraw(generator)) - 32768));
        return (double(((k % 32768) + 32768) % 32768) / 32768) * 2 - 1;
    };
    std::vector<std::string> lines;
    while (std::int32_t(lines.size()) < n) {
        const double u = component(), v = component(), s = v * v + u * u;
        if (s == 0 || s >= 1) continue;
        const double f = std::sqrt((-2 * std::log(s)) / s);
        lines.push_back(formatReal((f * u) * deviation + mean));
        if (std::int32_t(lines.size()) < n) lines.push_back(formatReal((f * v) * deviation + mean));
    }
    return lines;
}

TEST(CoxGenMark, DefaultDialogValuesGive105Lines)
{
    test::TempDir dir;
    const auto lines = generate(dir, 100, 0);
    ASSERT_EQ(lines.size(), 105u);
    EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 5),
              (std::vector<std::string>{"\"CXSG\"", "100", "0.3", "0", "1"}));
    for (const auto& line : lines) EXPECT_TRUE(!line.empty() && line.find_first_of(" \t,") == std::string::npos);
    EXPECT_EQ(valuesOf(dir).size(), 100u);
}

TEST(CoxGenMark, MatchesTheLiteralProcedureAndNegativeDeviationMirrors)
{
    test::TempDir dir;
    for (std::int32_t n : {1, 2, 7, 101}) {
        const auto lines = generate(dir, n, 4242, 2.5, 3);
        ASSERT_EQ(lines.size(), 5u + n) << n;
        EXPECT_EQ(lines[1], std::to_string(n));
        EXPECT_EQ(std::vector<std::string>(lines.begin() + 5, lines.end()), literalValues(n, 4242, 2.5, 3)) << n;
        const auto up = valuesOf(dir);
        generate(dir, n, 4242, 2.5, -3);
        const auto down = valuesOf(dir);
        for (std::size_t i = 0; i < up.size(); ++i) EXPECT_NEAR(down[i] - 2.5, -(up[i] - 2.5), 1e-13) << i;
    }
    double x1 = 7, x2 = 7;  // pairs the draws cannot be relied on to reach
    EXPECT_FALSE(polarPair(0, 0, x1, x2) || polarPair(1, 0, x1, x2) || polarPair(0, -1, x1, x2));
}

TEST(CoxGenMark, ZeroOrNegativeLengthWritesOnlyTheHeader)
{
    test::TempDir dir;
    for (std::int32_t n : {0, -5, std::numeric_limits<std::int32_t>::min()}) {
        EXPECT_EQ(generate(dir, n, 0), (std::vector<std::string>{"\"CXSG\"", std::to_string(n), "0.3", "0", "1"}));
        EXPECT_THROW(readWatermark(dir.file("mark.wmk")), Error);
    }
}

TEST(CoxGenMark, SeedReproducesAndEntropySeedsDiffer)
{
    test::TempDir dir;
    EXPECT_EQ(generate(dir, 50, 17), generate(dir, 50, 17));
    EXPECT_EQ(generate(dir, 50, -17), generate(dir, 50, -17));
    EXPECT_NE(generate(dir, 50, 17), generate(dir, 50, 18));
    EXPECT_NE(generate(dir, 50, 0), generate(dir, 50, 0));  // within one clock tick
}

TEST(CoxGenMark, SampleHasTheStatedMeanAndDeviation)
{
    test::TempDir dir;
    constexpr int n = 20000;
    for (std::int32_t seed : {7, 0}) {
        generate(dir, n, seed, 3, 2);
        const auto values = valuesOf(dir);
        double sum = 0, squares = 0;
        for (double x : values) sum += x;
        for (double x : values) squares += (x - sum / n) * (x - sum / n);
        // Five standard errors: 2 / sqrt(n) for the mean, about 2 / sqrt(2n) for the deviation.
        EXPECT_NEAR(sum / n, 3.0, 5 * 2 / std::sqrt(n)) << seed;
        EXPECT_NEAR(std::sqrt(squares / (n - 1)), 2.0, 5 * 2 / std::sqrt(2.0 * n)) << seed;
    }
}

TEST(CoxGenMark, FailureLeavesTheOldFileAlone)
{
    test::TempDir dir;
    const std::string path = dir.file("mark.wmk");
    std::ofstream(path) << "old contents";
    const double huge = std::numeric_limits<double>::max();
    test::expectError([&] { CoxGenMark(path, 0.3, 10, 1, -huge, huge); }, err::Overflow);
    test::expectError([&] { CoxGenMark(path, 0.3, kMaxWatermarkLength + 1, 1, 0, 1); }, err::OutOfMemory);
    EXPECT_THROW(CoxGenMark(dir.file("no-such-folder/mark.wmk"), 0.3, 10, 1, 0, 1), Error);
    EXPECT_EQ(test::readText(path), "old contents");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);  // no temporary left
}

struct CommaPunct : std::numpunct<char> {
    char do_decimal_point() const override { return ','; }
    char do_thousands_sep() const override { return '.'; }
    std::string do_grouping() const override { return "\3"; }
};

TEST(CoxGenMark, CommaLocaleStillWritesPeriods)
{
    test::TempDir dir;
    // A decimal-comma C++ locale, and the C library's too where such a locale is installed.
    const std::locale saved = std::locale::global(std::locale(std::locale::classic(), new CommaPunct));
    for (const char* name : {"hr_HR.UTF-8", "hr_HR.utf8", "de_DE.UTF-8", "de_DE.utf8"})
        if (std::setlocale(LC_ALL, name)) break;
    const auto lines = generate(dir, 20, 3, -0.5, 1000.25, 0.3);
    const Watermark w = readWatermark(dir.file("mark.wmk"));
    std::locale::global(saved);  // restores the C library's locale too
    std::setlocale(LC_ALL, "C");
    ASSERT_EQ(lines.size(), 25u);
    EXPECT_EQ(std::vector<std::string>(lines.begin() + 2, lines.begin() + 5),
              (std::vector<std::string>{"0.3", "-0.5", "1000.25"}));
    for (const auto& line : lines) EXPECT_EQ(line.find_first_of(", "), std::string::npos) << line;
    EXPECT_EQ(w.values.size(), 20u);
    EXPECT_EQ(w.deviation, 1000.25);
}

}  // namespace
}  // namespace pelinor
