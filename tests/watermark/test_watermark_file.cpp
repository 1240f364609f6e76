#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>
#include <random>

#include "obrada/error.h"
#include "temp_dir.h"
#include "watermark/watermark_file.h"

namespace pelinor {
namespace {

using Limits = std::numeric_limits<double>;

// Header lines with CRLF, then the given value lines.
std::string fileText(const std::string& length, const std::string& values, const std::string& alpha = "0.3")
{
    return "\"CXSG\"\r\n" + length + "\r\n" + alpha + "\r\n0\r\n1\r\n" + values;
}

template <class F>
void expectError(F&& call, int number, const std::string& textPart = {})
{
    try {
        call();
        ADD_FAILURE() << "no error, expected " << number;
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), number) << e.what();
        EXPECT_NE(std::string(e.what()).find(textPart), std::string::npos) << e.what();
    }
}

TEST(FormatReal, WritesPeriodFifteenDigitsAndExponents)
{
    const struct {
        double value;
        const char* text;
    } cases[] = {
        {0.3, "0.3"},
        {0.0, "0"},
        {-0.0, "0"},
        {1.0, "1"},
        {-2.5, "-2.5"},
        {1.0 / 3.0, "0.333333333333333"},
        {-2.0 / 3.0, "-0.666666666666667"},
        {123456789012345.0, "123456789012345"},
        {1e15, "1E+15"},
        {1.5e20, "1.5E+20"},
        {0.0001, "0.0001"},
        {1e-5, "1E-05"},
        {-1.25e-100, "-1.25E-100"},
        {Limits::max(), "1.79769313486231E+308"},  // rounding up would not read back
        {-Limits::max(), "-1.79769313486231E+308"},
        {Limits::denorm_min(), "4.94065645841247E-324"},
    };
    for (const auto& c : cases) EXPECT_EQ(formatReal(c.value), c.text) << c.value;
}

TEST(FormatReal, NonFiniteIsOverflow)
{
    for (double v : {Limits::infinity(), -Limits::infinity(), Limits::quiet_NaN()})
        expectError([&] { formatReal(v); }, err::Overflow);
}

TEST(FormatReal, ReadsBackExactlyWhatIsWritten)
{
    std::vector<double> values = {Limits::max(),       -Limits::max(),         Limits::min(),
                                  Limits::denorm_min(), 0.1,                    1e15 - 1,
                                  999999999999999.5,    0.000099999999999999995, 0.1 + 0.2,
                                  1e-4,                 9.999999999999999e22,   5e-324 * 3};
    std::mt19937_64 random(12345);
    for (int i = 0; i < 2000; ++i) {
        // Bit patterns cover every exponent; skip the non-finite ones.
        double v;
        const std::uint64_t bits = random();
        std::memcpy(&v, &bits, sizeof v);
        if (std::isfinite(v)) values.push_back(v);
    }
    Watermark w;
    w.length = static_cast<std::int32_t>(values.size());
    w.values = values;
    const std::string text = formatWatermark(w);
    EXPECT_EQ(text.find_first_of(" ,\t"), std::string::npos);
    const Watermark back = parseWatermark(text);
    ASSERT_EQ(back.values.size(), values.size());
    for (std::size_t i = 0; i < values.size(); ++i) {
        const std::string written = formatReal(values[i]);
        EXPECT_EQ(formatReal(back.values[i]), written) << written;
        EXPECT_LE(std::abs(back.values[i] - values[i]), std::abs(values[i]) * 1e-14) << written;
    }
}

TEST(FormatWatermark, ExactTextWithCrlfAfterEveryLine)
{
    Watermark w;
    w.length = 3;
    w.alpha = 0.3;
    w.mean = -1.5;
    w.deviation = 2;
    w.values = {0.125, -1e-7, 42};
    EXPECT_EQ(formatWatermark(w), "\"CXSG\"\r\n3\r\n0.3\r\n-1.5\r\n2\r\n0.125\r\n-1E-07\r\n42\r\n");

    w.tag = "ignored";  // the tag line is constant
    w.length = -4;
    w.values.clear();
    EXPECT_EQ(formatWatermark(w), "\"CXSG\"\r\n-4\r\n0.3\r\n-1.5\r\n2\r\n");

    w.length = 2;
    expectError([&] { formatWatermark(w); }, err::InvalidCall, "2 values but holds 0");
}

TEST(ParseWatermark, AcceptsTheForms)
{
    const struct {
        const char* field;
        double value;
    } cases[] = {
        {".3", 0.3},       {"-.5", -0.5},       {"1E-05", 1e-5},        {"1.5E+20", 1.5e20},
        {"3.", 3.0},       {"+2", 2.0},         {"1e5", 1e5},           {"-0", 0.0},
        {"007", 7.0},      {"1E-400", 0.0},     {"-1E-400", 0.0},       {"0.0000001E+307", 1e300},
        // Blanks around a field are tolerated, as the classic reader does.
        {"  0.5", 0.5},    {"0.5 \t", 0.5},     {"\t-1", -1.0},
    };
    for (const auto& c : cases) {
        const Watermark w = parseWatermark(fileText("1", std::string(c.field) + "\r\n"));
        ASSERT_EQ(w.values.size(), 1u);
        EXPECT_DOUBLE_EQ(w.values[0], c.value) << c.field;
    }
}

TEST(ParseWatermark, ReadsHeaderLineEndsAndIgnoresTheRest)
{
    // LF only, no line end after the last value, a tag that is not checked.
    Watermark w = parseWatermark("XYZ\n2\n.3\n-1\n2.5\n1\n-2");
    EXPECT_EQ(w.tag, "XYZ");
    EXPECT_EQ(w.length, 2);
    EXPECT_DOUBLE_EQ(w.alpha, 0.3);
    EXPECT_DOUBLE_EQ(w.mean, -1.0);
    EXPECT_DOUBLE_EQ(w.deviation, 2.5);
    EXPECT_EQ(w.values, (std::vector<double>{1.0, -2.0}));

    // Anything after the N values is ignored, even if it is not a number.
    w = parseWatermark(fileText(" +2 ", "1\r\n2\r\n3\r\ngarbage\r\n\r\n"));
    EXPECT_EQ(w.tag, "\"CXSG\"");
    EXPECT_EQ(w.values, (std::vector<double>{1.0, 2.0}));
}

TEST(ParseWatermark, ErrorTable)
{
    const struct {
        std::string text;
        int number;
        const char* textPart;
    } cases[] = {
        {"", err::InputPastEnd, "after 0 of 5 header lines"},
        {"\"CXSG\"\r\n3\r\n0.3\r\n", err::InputPastEnd, "after 3 of 5"},
        {fileText("abc", "1\r\n"), err::TypeMismatch, "line 2"},
        {fileText("", "1\r\n"), err::TypeMismatch, "line 2"},
        {fileText("1.5", "1\r\n"), err::TypeMismatch, "whole number"},
        {fileText("1E2", "1\r\n"), err::TypeMismatch, "whole number"},
        {fileText("99999999999", "1\r\n"), err::Overflow, "out of range"},
        {fileText("0", ""), err::SubscriptOutOfRange, "announces 0 values"},
        {fileText("-3", ""), err::SubscriptOutOfRange, "announces -3 values"},
        {fileText("1", "1\r\n", "0,3"), err::TypeMismatch, "line 3 of the watermark file (\"0,3\")"},
        {fileText("1", "1\r\n", ""), err::TypeMismatch, "line 3"},
        {fileText("1", "1\r\n", "1E+400"), err::Overflow, "line 3"},
        {fileText("2", "1\r\nx\r\n"), err::TypeMismatch, "line 7"},
        {fileText("2", "1\r\n\r\n"), err::TypeMismatch, "line 7"},
        {fileText("1", "1 2\r\n"), err::TypeMismatch, "line 6"},
        {fileText("1", "1e\r\n"), err::TypeMismatch, ""},
        {fileText("1", "1e+\r\n"), err::TypeMismatch, ""},
        {fileText("1", "E5\r\n"), err::TypeMismatch, ""},
        {fileText("1", ".\r\n"), err::TypeMismatch, ""},
        {fileText("1", "-\r\n"), err::TypeMismatch, ""},
        {fileText("1", "--1\r\n"), err::TypeMismatch, ""},
        {fileText("1", "1.2.3\r\n"), err::TypeMismatch, ""},
        {fileText("1", "inf\r\n"), err::TypeMismatch, ""},
        {fileText("1", "nan\r\n"), err::TypeMismatch, ""},
        {fileText("1", "0x10\r\n"), err::TypeMismatch, ""},
        {fileText("1", std::string("1\0", 2) + "\r\n"), err::TypeMismatch, "(\"1?\")"},
        {fileText("3", "1\r\n2\r\n"), err::InputPastEnd, "holds 2 of the 3 values"},
        // A huge claim in a short file reads what is there and reports it; the reservation is
        // bounded by the text, not by the header.
        {fileText("2000000000", "1\r\n2\r\n"), err::InputPastEnd, "holds 2 of the 2000000000 values"},
        {fileText("2147483647", ""), err::InputPastEnd, "holds 0 of the 2147483647 values"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        expectError([&] { parseWatermark(c.text); }, c.number, c.textPart);
    }
}

TEST(ReadWatermark, FileRoundTripAndMissingFile)
{
    test::TempDir dir;
    Watermark w;
    w.length = 4;
    w.alpha = 0.25;
    w.mean = 1;
    w.deviation = 3;
    w.values = {1, -2.5, 3e-20, 4e20};
    const std::string path = dir.file("mark.wmk");
    writeWatermark(path, w);
    EXPECT_EQ(test::readText(path), formatWatermark(w));
    const Watermark back = readWatermark(path);
    EXPECT_EQ(back.length, 4);
    EXPECT_EQ(back.alpha, 0.25);
    EXPECT_EQ(back.values, w.values);

    expectError([&] { readWatermark(dir.file("missing.wmk")); }, err::FileNotFound);
    test::writeText(path, fileText("5", "1\r\n"));
    expectError([&] { readWatermark(path); }, err::InputPastEnd, "mark.wmk");

    // Larger than any file the generator writes: refused before reading (a sparse file).
    std::filesystem::resize_file(path, kMaxWatermarkFileBytes + 1);
    expectError([&] { readWatermark(path); }, err::OutOfMemory);
}

}  // namespace
}  // namespace pelinor
