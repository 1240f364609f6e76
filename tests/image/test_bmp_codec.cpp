#include "image/atomic_file.h"
#include "image/image_io.h"
#include "image_test_util.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <gtest/gtest.h>
#include <iterator>
#include <ostream>

namespace pelinor {
namespace {

using test::pixelAt;
using test::suitePath;

PictureRef loadSuite(const std::string& relative)
{
    return loadPicture(suitePath(relative));
}

// Largest difference of any channel of any pixel, comparing what is seen (top row first).
int maxDifference(const Picture& a, const Picture& b)
{
    int worst = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            for (int c = 0; c < 3; ++c)
                worst = std::max(worst, std::abs(pixelAt(a, x, y)[c] - pixelAt(b, x, y)[c]));
    return worst;
}

// Largest difference of the channel means over blocks of n x n pixels: dithered
// pictures with few colours keep the local averages of the picture they show.
double blockDifference(const Picture& a, const Picture& b, int n)
{
    double worst = 0;
    for (int by = 0; by + n <= a.height(); by += n)
        for (int bx = 0; bx + n <= a.width(); bx += n)
            for (int c = 0; c < 3; ++c) {
                double sa = 0, sb = 0;
                for (int y = by; y < by + n; ++y)
                    for (int x = bx; x < bx + n; ++x)
                        sa += pixelAt(a, x, y)[c], sb += pixelAt(b, x, y)[c];
                worst = std::max(worst, std::abs(sa - sb) / (n * n));
            }
    return worst;
}

// FNV-1a over the pixels as seen, top row first, padding left out.
std::uint64_t visualHash(const Picture& p)
{
    std::uint64_t h = 14695981039346656037ull;
    for (int y = 0; y < p.height(); ++y)
        for (std::size_t i = 0; i < 3 * std::size_t(p.width()); ++i) {
            h ^= pixelAt(p, 0, y)[i];
            h *= 1099511628211ull;
        }
    return h;
}

// Every good file, with what it must decode to. The hashes were taken from our decoder
// after checking it pixel for pixel against an independent reader (ImageMagick): every
// palette file matched exactly; 16-bit files differ from it only by the rounding of
// 5- and 6-bit channels, which rgb24.bmp bounds below.
struct GoodCase {
    const char* file;
    int bitsPerPixel;
    bool topDown;
    int maxFromRgb24; // largest channel difference from rgb24.bmp; -1: a different picture
    std::uint64_t hash;
};

std::ostream& operator<<(std::ostream& os, const GoodCase& c)
{
    return os << c.file;
}

const GoodCase kGood[] = {
    {"pal1.bmp", 1, false, -1, 0x93cb10c47d28db4dull},
    {"pal1bg.bmp", 1, false, -1, 0x73d1797f92f7bce5ull},
    {"pal1wb.bmp", 1, false, -1, 0x93cb10c47d28db4dull},
    {"pal4.bmp", 4, false, -1, 0x0bd8ec6cc66e5211ull},
    {"pal4gs.bmp", 4, false, -1, 0x84584472fec80434ull},
    {"pal4rle.bmp", 4, false, -1, 0x0bd8ec6cc66e5211ull},
    {"pal8-0.bmp", 8, false, 50, 0x811529b078c66aecull},
    {"pal8.bmp", 8, false, 50, 0x811529b078c66aecull},
    {"pal8gs.bmp", 8, false, -1, 0x13c463af6d9a108full},
    {"pal8nonsquare.bmp", 8, false, -1, 0xaa33f4a48d7c26d8ull},
    {"pal8os2.bmp", 8, false, 50, 0x811529b078c66aecull},
    {"pal8rle.bmp", 8, false, 50, 0x811529b078c66aecull},
    {"pal8topdown.bmp", 8, true, 50, 0x811529b078c66aecull},
    {"pal8v4.bmp", 8, false, 50, 0x811529b078c66aecull},
    {"pal8v5.bmp", 8, false, 50, 0x811529b078c66aecull},
    {"pal8w124.bmp", 8, false, -1, 0x02876ffab9e1ea2dull},
    {"pal8w125.bmp", 8, false, -1, 0xa59a729925872727ull},
    {"pal8w126.bmp", 8, false, -1, 0x890b560482769da5ull},
    {"rgb16-565.bmp", 16, false, 4, 0xdffef481b8e6c802ull},
    {"rgb16-565pal.bmp", 16, false, 4, 0xdffef481b8e6c802ull},
    {"rgb16.bmp", 16, false, 4, 0x2dc16352b4fbf35eull},
    {"rgb16bfdef.bmp", 16, false, 4, 0x2dc16352b4fbf35eull},
    {"rgb24.bmp", 24, false, 0, 0x02b2eb409fb10057ull},
    {"rgb24pal.bmp", 24, false, 0, 0x02b2eb409fb10057ull},
    {"rgb32.bmp", 32, false, 0, 0x02b2eb409fb10057ull},
    {"rgb32bf.bmp", 32, false, 0, 0x02b2eb409fb10057ull},
    {"rgb32bfdef.bmp", 32, false, 0, 0x02b2eb409fb10057ull},
};

class BmpSuiteGood : public ::testing::TestWithParam<GoodCase> { };

TEST_P(BmpSuiteGood, DecodesToTheSamePicture)
{
    const GoodCase& c = GetParam();
    PictureRef p = loadSuite(std::string("g/") + c.file);
    PictureRef reference = loadSuite("g/rgb24.bmp");
    EXPECT_EQ(p->bitsPerPixel(), c.bitsPerPixel);
    EXPECT_EQ(p->topDown(), c.topDown);
    EXPECT_EQ(is24Bit(p.get()), c.bitsPerPixel == 24);
    EXPECT_EQ(visualHash(*p), c.hash);
    if (c.maxFromRgb24 >= 0) {
        ASSERT_EQ(p->width(), 127);
        ASSERT_EQ(p->height(), 64);
        EXPECT_LE(maxDifference(*p, *reference), c.maxFromRgb24);
        // A palette of 252 colours keeps the picture's local averages.
        EXPECT_LE(blockDifference(*p, *reference, 8), 8.5);
    }
}

INSTANTIATE_TEST_SUITE_P(Suite, BmpSuiteGood, ::testing::ValuesIn(kGood));

TEST(BmpSuiteGood, TableCoversTheWholeFolder)
{
    std::size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(suitePath("g"))) {
        ++files;
        const std::string name = entry.path().filename().string();
        EXPECT_TRUE(std::any_of(std::begin(kGood), std::end(kGood), [&](const GoodCase& c) {
            return name == c.file;
        })) << name;
    }
    EXPECT_EQ(files, std::size(kGood));
}

// Questionable files: which we read, and what those must look like.
struct QuestionableCase {
    const char* file;
    const char* sameAs; // g/ file it must equal exactly, "" for read without a reference, nullptr for refused
};

std::ostream& operator<<(std::ostream& os, const QuestionableCase& c)
{
    return os << c.file;
}

const QuestionableCase kQuestionable[] = {
    {"pal1huffmsb.bmp", nullptr},
    {"pal1p1.bmp", ""},
    {"pal2.bmp", ""},
    {"pal2color.bmp", ""},
    {"pal4rlecut.bmp", ""},
    {"pal4rletrns.bmp", ""},
    {"pal8offs.bmp", "pal8.bmp"},
    {"pal8os2-hs.bmp", "pal8.bmp"},
    {"pal8os2-sz.bmp", "pal8.bmp"},
    {"pal8os2sp.bmp", "pal8.bmp"},
    {"pal8os2v2-16.bmp", "pal8.bmp"},
    {"pal8os2v2-40sz.bmp", "pal8.bmp"},
    {"pal8os2v2-sz.bmp", "pal8.bmp"},
    {"pal8os2v2.bmp", "pal8.bmp"},
    {"pal8oversizepal.bmp", "pal8.bmp"},
    {"pal8rlecut.bmp", ""},
    {"pal8rletrns.bmp", ""},
    {"rgb16-231.bmp", ""},
    {"rgb16-3103.bmp", ""},
    {"rgb16faketrns.bmp", "rgb16.bmp"},
    {"rgb24jpeg.bmp", ""},
    {"rgb24largepal.bmp", "rgb24.bmp"},
    {"rgb24lprof.bmp", "rgb24.bmp"},
    {"rgb24png.bmp", "rgb24.bmp"},
    {"rgb24prof.bmp", "rgb24.bmp"},
    {"rgb24prof2.bmp", ""},
    {"rgb24rle24.bmp", nullptr},
    {"rgb32-111110.bmp", ""},
    {"rgb32-7187.bmp", ""},
    {"rgb32-xbgr.bmp", "rgb24.bmp"},
    {"rgb32fakealpha.bmp", "rgb24.bmp"},
    {"rgb32h52.bmp", "rgb24.bmp"},
    {"rgba16-1924.bmp", ""},
    {"rgba16-4444.bmp", ""},
    {"rgba16-5551.bmp", "rgb16.bmp"},
    {"rgba32-1.bmp", ""},
    {"rgba32-1010102.bmp", ""},
    {"rgba32-2.bmp", ""},
    {"rgba32-61754.bmp", ""},
    {"rgba32-81284.bmp", ""},
    {"rgba32abf.bmp", ""},
    {"rgba32h56.bmp", ""},
    {"rgba64.bmp", nullptr},
};

class BmpSuiteQuestionable : public ::testing::TestWithParam<QuestionableCase> { };

TEST_P(BmpSuiteQuestionable, ReadOrRefusedClearly)
{
    const QuestionableCase& c = GetParam();
    const std::string path = suitePath(std::string("q/") + c.file);
    if (c.sameAs == nullptr) {
        try {
            loadPicture(path);
            FAIL() << "read";
        } catch (const Error& e) {
            EXPECT_EQ(e.number(), err::InvalidPicture);
            EXPECT_EQ(std::string(e.what()).rfind("Invalid picture: ", 0), 0u) << e.what();
        }
        return;
    }
    PictureRef p = loadPicture(path);
    EXPECT_EQ(p->width(), 127);
    EXPECT_EQ(p->height(), 64);
    if (*c.sameAs != '\0') {
        EXPECT_EQ(maxDifference(*p, *loadSuite(std::string("g/") + c.sameAs)), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Suite, BmpSuiteQuestionable, ::testing::ValuesIn(kQuestionable));

TEST(BmpSuiteQuestionable, TableCoversTheWholeFolder)
{
    std::size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(suitePath("q"))) {
        ++files;
        const std::string name = entry.path().filename().string();
        EXPECT_TRUE(std::any_of(std::begin(kQuestionable), std::end(kQuestionable),
            [&](const QuestionableCase& c) { return name == c.file; }))
            << name;
    }
    EXPECT_EQ(files, std::size(kQuestionable));
}

// Bad files, with a word of the reason each must give.
const std::pair<const char*, const char*> kBad[] = {
    {"badbitcount.bmp", "bit count 30000"},
    {"badbitssize.bmp", "image size field"},
    {"baddens1.bmp", "resolution"},
    {"baddens2.bmp", "resolution"},
    {"badfilesize.bmp", "truncated"},
    {"badheadersize.bmp", "header size 66"},
    {"badpalettesize.bmp", "palette"},
    {"badplanes.bmp", "planes"},
    {"badrle.bmp", "RLE"},
    {"badrle4.bmp", "RLE"},
    {"badrle4bis.bmp", "RLE"},
    {"badrle4ter.bmp", "RLE"},
    {"badrlebis.bmp", "RLE"},
    {"badrleter.bmp", "RLE"},
    {"badwidth.bmp", "width -127"},
    {"pal8badindex.bmp", "palette index"},
    {"reallybig.bmp", "3000000 x 2000000 pixels is larger than the pixel limit of 1024 MiB"},
    {"rgb16-880.bmp", "mask"},
    {"rletopdown.bmp", "top-down"},
    {"shortfile.bmp", "truncated"},
};

TEST(BmpSuiteBad, EveryFileIsRefusedWithItsReason)
{
    std::size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(suitePath("b"))) {
        ++files;
        const std::string name = entry.path().filename().string();
        const auto found
            = std::find_if(std::begin(kBad), std::end(kBad), [&](const auto& c) { return name == c.first; });
        ASSERT_NE(found, std::end(kBad)) << name;
        try {
            loadPicture(entry.path().string());
            ADD_FAILURE() << name << " was read";
        } catch (const Error& e) {
            EXPECT_EQ(e.number(), err::InvalidPicture) << name;
            const std::string text = e.what();
            EXPECT_EQ(text.rfind("Invalid picture: ", 0), 0u) << text;
            EXPECT_NE(text.find(found->second), std::string::npos) << text;
            EXPECT_NE(text.find(name), std::string::npos) << text;
        }
    }
    EXPECT_EQ(files, std::size(kBad));
}

// Every prefix of a file must be refused (or read), never crash or over-read.
TEST(BmpDecoder, EveryTruncationIsRefused)
{
    for (const char* file : {"g/pal8rle.bmp", "g/pal4rle.bmp", "g/rgb16-565.bmp", "g/pal1.bmp",
             "g/pal8os2.bmp", "g/pal8v5.bmp"}) {
        const std::vector<std::uint8_t> bytes = readFileBytes(suitePath(file));
        for (std::size_t n = 0; n < bytes.size(); ++n) {
            try {
                decodeBmp(std::span(bytes.data(), n));
                ADD_FAILURE() << file << " cut to " << n << " bytes was read";
                break;
            } catch (const Error& e) {
                ASSERT_EQ(e.number(), err::InvalidPicture) << file << " " << n;
            }
        }
    }
}

void putU32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + std::size_t(i)] = std::uint8_t(v >> (8 * i));
}

// Sizes taken from the header are checked before anything is allocated.
TEST(BmpDecoder, OversizedHeadersAreRefusedBeforeAllocating)
{
    const std::pair<std::int32_t, std::int32_t> sizes[] = {
        {70000, 70000}, {2147483647, 1}, {1, 2147483647}, {2147483647, -2147483647 - 1},
        {2147483647, 2147483647}, {357913942, 1}, // 1 GiB + a row of 1,073,741,828 bytes
    };
    for (auto [width, height] : sizes) {
        std::vector<std::uint8_t> bytes = encodeBmp(*test::patternPicture(2, 2));
        putU32(bytes, 18, std::uint32_t(width));
        putU32(bytes, 22, std::uint32_t(height));
        try {
            decodeBmp(bytes);
            FAIL() << width << " x " << height;
        } catch (const Error& e) {
            EXPECT_EQ(e.number(), err::InvalidPicture);
            EXPECT_TRUE(std::string(e.what()).find("limit") != std::string::npos
                || std::string(e.what()).find("height") != std::string::npos)
                << e.what();
        }
    }
}

TEST(BmpDecoder, HeaderLargerThanTheDataIsRefusedBeforeAllocating)
{
    std::vector<std::uint8_t> bytes = encodeBmp(*test::patternPicture(2, 2));
    putU32(bytes, 18, 16000);
    putU32(bytes, 22, 16000);
    try {
        decodeBmp(bytes);
        FAIL();
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find("truncated: its pixels need 768000000 bytes, 16 are present"),
            std::string::npos)
            << e.what();
    }
}

// Hand-made RLE8 streams over a 4 x 2 picture with a two-colour palette.
std::vector<std::uint8_t> rle8File(std::vector<std::uint8_t> stream)
{
    std::vector<std::uint8_t> b = encodeBmp(*Picture::create(4, 2));
    b.resize(54);
    putU32(b, 30, 1); // RLE8
    putU32(b, 46, 2); // colours used
    putU32(b, 10, 54 + 8);
    b[28] = 8;
    for (std::uint8_t v : {0, 0, 0, 0, 0xff, 0xff, 0xff, 0})
        b.push_back(v);
    putU32(b, 34, std::uint32_t(stream.size()));
    b.insert(b.end(), stream.begin(), stream.end());
    putU32(b, 2, std::uint32_t(b.size()));
    return b;
}

TEST(BmpDecoder, RleStreams)
{
    struct Case {
        const char* name;
        std::vector<std::uint8_t> stream;
        const char* error; // nullptr: read
        std::vector<std::uint8_t> bottomRowBlue;
    };
    const Case cases[] = {
        {"run and end", {4, 1, 0, 1}, nullptr, {255, 255, 255, 255}},
        {"absolute run, padded", {0, 3, 1, 0, 1, 0, 1, 1, 0, 1}, nullptr, {255, 0, 255, 255}},
        {"delta skips", {0, 2, 2, 0, 2, 1, 0, 1}, nullptr, {0, 0, 255, 255}},
        {"early end leaves black", {1, 1, 0, 1}, nullptr, {255, 0, 0, 0}},
        {"run past the row", {5, 1, 0, 1}, "edge", {}},
        {"run past the last row", {0, 0, 0, 0, 0, 0, 1, 1, 0, 1}, "edge", {}},
        {"delta past the image", {0, 2, 0, 3, 0, 1}, "delta", {}},
        {"index outside palette", {1, 2, 0, 1}, "palette index 2", {}},
        {"no end mark", {4, 1}, "end-of-bitmap", {}},
        {"cut absolute run", {0, 4, 1, 1}, "end-of-bitmap", {}},
    };
    for (const Case& c : cases) {
        try {
            PictureRef p = decodeBmp(rle8File(c.stream));
            ASSERT_EQ(c.error, nullptr) << c.name;
            for (int x = 0; x < 4; ++x)
                EXPECT_EQ(p->bits()[3 * x], c.bottomRowBlue[std::size_t(x)]) << c.name << " x " << x;
        } catch (const Error& e) {
            ASSERT_NE(c.error, nullptr) << c.name << ": " << e.what();
            EXPECT_NE(std::string(e.what()).find(c.error), std::string::npos) << c.name << ": " << e.what();
        }
    }
}

struct RoundTrip {
    int width, height;
    bool topDown;
};

class BmpWriter : public ::testing::TestWithParam<RoundTrip> { };

TEST_P(BmpWriter, WritesBottomUpTwentyFourBitAndReadsBack)
{
    const auto [width, height, topDown] = GetParam();
    PictureRef p = test::patternPicture(width, height, topDown);
    // Padding bytes of the picture must not leak into the file.
    for (int y = 0; y < height; ++y)
        for (std::size_t i = 3 * std::size_t(width); i < p->stride(); ++i)
            p->bits()[std::size_t(y) * p->stride() + i] = 0xee;

    const std::vector<std::uint8_t> file = encodeBmp(*p);
    const std::size_t stride = Picture::strideFor(width);
    ASSERT_EQ(file.size(), 54 + stride * std::size_t(height));
    const auto u32 = [&](std::size_t at) {
        return file[at] | file[at + 1] << 8 | file[at + 2] << 16 | file[at + 3] << 24;
    };
    EXPECT_EQ(file[0], 'B');
    EXPECT_EQ(file[1], 'M');
    EXPECT_EQ(std::size_t(u32(2)), file.size());
    EXPECT_EQ(u32(10), 54);
    EXPECT_EQ(u32(14), 40);
    EXPECT_EQ(u32(18), width);
    EXPECT_EQ(u32(22), height); // positive: bottom-up
    EXPECT_EQ(file[26] | file[27] << 8, 1);
    EXPECT_EQ(file[28] | file[29] << 8, 24);
    EXPECT_EQ(u32(30), 0);
    // The first row in the file is the bottom row as seen.
    EXPECT_EQ(file[54], pixelAt(*p, 0, height - 1)[0]);
    EXPECT_EQ(file[54 + 3 * std::size_t(width) - 1], pixelAt(*p, width - 1, height - 1)[2]);
    for (int row = 0; row < height; ++row)
        for (std::size_t i = 3 * std::size_t(width); i < stride; ++i)
            EXPECT_EQ(file[54 + row * stride + i], 0);

    PictureRef back = decodeBmp(file);
    EXPECT_EQ(back->bitsPerPixel(), 24);
    EXPECT_FALSE(back->topDown());
    ASSERT_EQ(back->width(), width);
    ASSERT_EQ(back->height(), height);
    EXPECT_EQ(maxDifference(*back, *p), 0);
}

INSTANTIATE_TEST_SUITE_P(Sizes, BmpWriter,
    ::testing::Values(RoundTrip{1, 1, false}, RoundTrip{2, 3, false}, RoundTrip{3, 2, true},
        RoundTrip{5, 4, false}, RoundTrip{6, 1, true}, RoundTrip{7, 5, false}, RoundTrip{127, 64, true}));

TEST(BmpWriter, OtherDepthsAreWrittenAsTwentyFourBit)
{
    for (const char* file : {"g/pal8topdown.bmp", "g/pal1.bmp", "g/rgb16.bmp", "g/rgb32.bmp"}) {
        PictureRef p = loadSuite(file);
        PictureRef back = decodeBmp(encodeBmp(*p));
        EXPECT_EQ(back->bitsPerPixel(), 24) << file;
        EXPECT_EQ(maxDifference(*back, *p), 0) << file;
    }
}

} // namespace
} // namespace pelinor
