// The watermark file, and generating one.
#include "base/atomic_file.h"
#include "tests/test_support.h"
#include "watermark/generator.h"

#include <clocale>
#include <filesystem>
#include <gtest/gtest.h>
#include <limits>
#include <locale>

namespace pelinor {
namespace {

using Limits = std::numeric_limits<double>;
using test::expectError;

// Header lines with CRLF, then the given value lines.
std::string fileText(const std::string& length, const std::string& values, const std::string& alpha = "0.3")
{
    return "\"CXSG\"\r\n" + length + "\r\n" + alpha + "\r\n0\r\n1\r\n" + values;
}

TEST(WatermarkFile, ExactTextWithPeriodsAndCrlfAfterEveryLine)
{
    const std::pair<double, const char*> reals[]
        = {{-0.0, "0"}, {-2.5, "-2.5"}, {1.0 / 3.0, "0.333333333333333"},
            {123456789012345.0, "123456789012345"}, {1e15, "1E+15"}, {1.5e20, "1.5E+20"}, {0.0001, "0.0001"},
            {1e-5, "1E-05"}, {Limits::max(), "1.79769313486231E+308"}, // rounding up would not read back
            {Limits::denorm_min(), "4.94065645841247E-324"}};
    for (const auto& [value, text] : reals)
        EXPECT_EQ(formatReal(value), text) << value;
    // What is written reads back as itself, to 15 digits.
    for (double v : {Limits::max(), -Limits::max(), Limits::min(), Limits::denorm_min(), 0.1 + 0.2, 1e15 - 1,
             999999999999999.5, 9.999999999999999e22, -1.25e-100}) {
        const double back = parseWatermark(fileText("1", formatReal(v) + "\r\n")).values.at(0);
        EXPECT_EQ(formatReal(back), formatReal(v));
        EXPECT_LE(std::abs(back - v), std::abs(v) * 1e-14) << formatReal(v);
    }
    for (double v : {Limits::infinity(), Limits::quiet_NaN()})
        expectError([&] { formatReal(v); }, err::Overflow);

    Watermark w{"ignored: the tag line is constant", 3, 0.3, -1.5, 2, {0.125, -1e-7, 42}};
    EXPECT_EQ(formatWatermark(w), "\"CXSG\"\r\n3\r\n0.3\r\n-1.5\r\n2\r\n0.125\r\n-1E-07\r\n42\r\n");
    w.length = -4;
    w.values.clear();
    EXPECT_EQ(formatWatermark(w), "\"CXSG\"\r\n-4\r\n0.3\r\n-1.5\r\n2\r\n");
    w.length = 2;
    expectError([&] { formatWatermark(w); }, err::InvalidCall, "2 values but holds 0");
}

TEST(WatermarkFile, ReaderAcceptsTheFormsAndIgnoresWhatFollows)
{
    const std::pair<const char*, double> forms[] = {{".3", 0.3}, {"-.5", -0.5}, {"1E-05", 1e-5},
        {"1.5E+20", 1.5e20}, {"3.", 3.0}, {"+2", 2.0}, {"1e5", 1e5}, {"1E-400", 0.0}, {"  0.5 \t", 0.5}};
    for (const auto& [field, value] : forms) {
        const Watermark w = parseWatermark(fileText("1", std::string(field) + "\r\n"));
        ASSERT_EQ(w.values.size(), 1u);
        EXPECT_DOUBLE_EQ(w.values[0], value) << field;
    }
    // LF line ends, no line end after the last value, a tag that is not checked.
    const Watermark w = parseWatermark("XYZ\n2\n.3\n-1\n2.5\n1\n-2");
    EXPECT_EQ(w.tag, "XYZ");
    EXPECT_EQ(formatWatermark(w), "\"CXSG\"\r\n2\r\n0.3\r\n-1\r\n2.5\r\n1\r\n-2\r\n");
    EXPECT_EQ(
        parseWatermark(fileText(" +2 ", "1\r\n2\r\n3\r\ngarbage\r\n")).values, std::vector<double>({1, 2}));
}

TEST(WatermarkFile, ReaderErrorTable)
{
    const struct {
        std::string text;
        int number;
        const char* part;
    } cases[] = {
        {"", err::InputPastEnd, "after 0 of 5 header lines"},
        {"\"CXSG\"\r\n3\r\n0.3\r\n", err::InputPastEnd, "after 3 of 5"},
        {fileText("abc", "1\r\n"), err::TypeMismatch, "line 2"},
        {fileText("1.5", "1\r\n"), err::TypeMismatch, "whole number"},
        {fileText("99999999999", "1\r\n"), err::Overflow, "out of range"},
        {fileText("0", ""), err::SubscriptOutOfRange, "announces 0 values"},
        {fileText("-3", ""), err::SubscriptOutOfRange, "announces -3 values"},
        {fileText("1", "1\r\n", "0,3"), err::TypeMismatch, "line 3 of the watermark file (\"0,3\")"},
        {fileText("1", "1\r\n", "1E+400"), err::Overflow, "line 3"},
        {fileText("2", "1\r\n\r\n"), err::TypeMismatch, "line 7"},
        {fileText("1", std::string("1\0", 2) + "\r\n"), err::TypeMismatch, "(\"1?\")"},
        {fileText("3", "1\r\n2\r\n"), err::InputPastEnd, "holds 2 of the 3 values"},
        // A claim beyond the longest watermark generated is refused from the header.
        {fileText("2000000000", "1\r\n2\r\n"), err::SubscriptOutOfRange,
            "announces 2000000000 values (at most 16777216)"},
        {fileText("268435456", ""), err::SubscriptOutOfRange,
            "announces 268435456 values (at most 16777216)"},
        {fileText("16777217", ""), err::SubscriptOutOfRange, "(at most 16777216)"},
        // At the cap, a short file reads what is there; nothing is reserved for the claim.
        {fileText("16777216", "1\r\n2\r\n"), err::InputPastEnd, "holds 2 of the 16777216 values"},
    };
    for (const auto& c : cases)
        expectError([&] { parseWatermark(c.text); }, c.number, c.part);
    for (const char* bad : {"x", "1 2", "1e", "1e+", "E5", ".", "-", "--1", "1.2.3", "inf", "nan", "0x10"})
        expectError(
            [&] { parseWatermark(fileText("1", std::string(bad) + "\r\n")); }, err::TypeMismatch, "line 6");
}

TEST(WatermarkFile, FileRoundTripAndFileErrors)
{
    test::TempDir dir;
    const Watermark w{"\"CXSG\"", 4, 0.25, 1, 3, {1, -2.5, 3e-20, 4e20}};
    const std::string path = dir.file("mark.wmk");
    writeFileAtomic(path, formatWatermark(w));
    EXPECT_EQ(test::readText(path), formatWatermark(w));
    EXPECT_EQ(formatWatermark(readWatermark(path)), formatWatermark(w));

    expectError([&] { readWatermark(dir.file("missing.wmk")); }, err::FileNotFound, "missing.wmk");
    std::ofstream(path, std::ios::binary) << fileText("5", "1\r\n");
    expectError([&] { readWatermark(path); }, err::InputPastEnd, "mark.wmk");
    // Larger than any file the generator writes: refused before reading (a sparse file).
    std::filesystem::resize_file(path, kMaxWatermarkFileBytes + 1);
    expectError([&] { readWatermark(path); }, err::OutOfMemory);
}

// The lines of the file CoxGenMark writes, each of which must end in CRLF.
std::vector<std::string> generate(
    const test::TempDir& dir, std::int32_t n, std::int32_t seed, double mean = 0, double deviation = 1)
{
    CoxGenMark(dir.file("mark.wmk"), 0.3, n, seed, mean, deviation);
    const std::string text = test::readText(dir.file("mark.wmk"));
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(text.substr(start, end - start));
    EXPECT_EQ(start, text.size()) << "text after the last CRLF";
    return lines;
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

struct CommaPunct : std::numpunct<char> {
    char do_decimal_point() const override { return ','; }
    char do_thousands_sep() const override { return '.'; }
    std::string do_grouping() const override { return "\3"; }
};

// The dialog's defaults, under a decimal-comma C++ locale and the C library's too where
// such a locale is installed.
TEST(CoxGenMark, DefaultDialogValuesGive105LinesWithPeriodsInAnyLocale)
{
    test::TempDir dir;
    const std::locale saved = std::locale::global(std::locale(std::locale::classic(), new CommaPunct));
    for (const char* name : {"hr_HR.UTF-8", "hr_HR.utf8", "de_DE.UTF-8", "de_DE.utf8"})
        if (std::setlocale(LC_ALL, name)) break;
    const auto lines = generate(dir, 100, 0);
    const auto grouped = generate(dir, 2, 1, -0.5, 1000.25);
    std::locale::global(saved); // restores the C library's locale too
    ASSERT_EQ(lines.size(), 105u);
    EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 5),
        (std::vector<std::string>{"\"CXSG\"", "100", "0.3", "0", "1"}));
    for (const auto& line : lines)
        EXPECT_TRUE(!line.empty() && line.find_first_of(" \t,") == std::string::npos);
    EXPECT_EQ(grouped[3] + " " + grouped[4], "-0.5 1000.25");
    EXPECT_EQ(readWatermark(dir.file("mark.wmk")).deviation, 1000.25);
}

TEST(CoxGenMark, MatchesTheLiteralProcedureAndNegativeDeviationMirrors)
{
    test::TempDir dir;
    for (std::int32_t n : {1, 2, 7, 101}) {
        const auto lines = generate(dir, n, 4242, 2.5, 3);
        ASSERT_EQ(lines.size(), 5u + n) << n;
        EXPECT_EQ(lines[1], std::to_string(n));
        EXPECT_EQ(std::vector<std::string>(lines.begin() + 5, lines.end()), literalValues(n, 4242, 2.5, 3))
            << n;
        const auto up = readWatermark(dir.file("mark.wmk")).values;
        generate(dir, n, 4242, 2.5, -3);
        const auto down = readWatermark(dir.file("mark.wmk")).values;
        for (std::size_t i = 0; i < up.size(); ++i)
            EXPECT_NEAR(down[i] - 2.5, -(up[i] - 2.5), 1e-13) << i;
    }
    double x1 = 7, x2 = 7; // pairs the draws cannot be relied on to reach
    EXPECT_FALSE(polarPair(0, 0, x1, x2) || polarPair(1, 0, x1, x2) || polarPair(0, -1, x1, x2));
}

TEST(CoxGenMark, ZeroOrNegativeLengthWritesOnlyTheHeader)
{
    test::TempDir dir;
    for (std::int32_t n : {0, -5, std::numeric_limits<std::int32_t>::min()}) {
        EXPECT_EQ(
            generate(dir, n, 0), (std::vector<std::string>{"\"CXSG\"", std::to_string(n), "0.3", "0", "1"}));
        EXPECT_THROW(readWatermark(dir.file("mark.wmk")), Error);
    }
}

TEST(CoxGenMark, SeedsAndSampleStatistics)
{
    test::TempDir dir;
    EXPECT_EQ(generate(dir, 50, 17), generate(dir, 50, 17));
    EXPECT_EQ(generate(dir, 50, -17), generate(dir, 50, -17));
    EXPECT_NE(generate(dir, 50, 17), generate(dir, 50, 18));
    EXPECT_NE(generate(dir, 50, 0), generate(dir, 50, 0)); // entropy, even within one clock tick
    constexpr int n = 20000;
    for (std::int32_t seed : {7, 0}) {
        generate(dir, n, seed, 3, 2);
        const auto values = readWatermark(dir.file("mark.wmk")).values;
        double sum = 0, squares = 0;
        for (double x : values)
            sum += x;
        for (double x : values)
            squares += (x - sum / n) * (x - sum / n);
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
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1); // no temporary left
}

// Every file the writer makes starts with the tag; text and pictures do not.
TEST(WatermarkFile, StartsAsWatermarkFile)
{
    Watermark w;
    w.length = 1;
    w.values = {0.5};
    EXPECT_TRUE(startsAsWatermarkFile(formatWatermark(w).substr(0, kTagBytes)));
    EXPECT_TRUE(startsAsWatermarkFile(formatWatermarkHeader(3, 0.3, 0, 1)));
    for (const std::string_view other : {"CXSG\r\n", "\"CXS", "", "BM....", " \"CXSG\""})
        EXPECT_FALSE(startsAsWatermarkFile(other)) << other;
}

} // namespace
} // namespace pelinor
