// The evidence report's pieces: pictures inlined as base64, the command line as a shell
// reads it back, the difference view.
#include "cli/report/evidence.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace pelinor::cli {
namespace {

TEST(Evidence, Base64OfEveryTailLength)
{
    const std::pair<std::string, std::string> cases[] = {
        {"", ""},
        {"f", "Zg=="},
        {"fo", "Zm8="},
        {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"},
        {std::string("\xff\xfe\x00", 3), "//4A"},
    };
    for (const auto& [text, want] : cases)
        EXPECT_EQ(base64(std::vector<std::uint8_t>(text.begin(), text.end())), want) << text;
}

TEST(Evidence, CommandLineQuotedWhereAShellNeedsIt)
{
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"pelinor-cli", "trace", "a.jpg"}, "pelinor-cli trace a.jpg"},
        {{"trace", "found online.jpg"}, "trace 'found online.jpg'"},
        {{"trace", "it's.jpg", ""}, "trace 'it'\\''s.jpg' ''"},
        {{"trace", "$HOME;rm"}, "trace '$HOME;rm'"},
        {{"--max-false-positive", "1e-9", "--report", "dir/ev.html"},
            "--max-false-positive 1e-9 --report dir/ev.html"},
    };
    for (const auto& [words, want] : cases)
        EXPECT_EQ(shellLine(words), want);
}

TEST(Evidence, DifferenceIsWhereThePicturesDiffer)
{
    const PictureRef a = Picture::create(4, 3, 24, false);
    const PictureRef b = a->clone();
    // Visual row 1, column 2 brighter by 10 in every channel in b.
    std::uint8_t* p = b->bits() + b->stride() * std::size_t(b->storedRow(1)) + 3 * 2;
    p[0] = p[1] = p[2] = 10;
    const PictureRef d = differencePicture(*a, *b, 8);
    ASSERT_TRUE(d->topDown());
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x) {
            const std::uint8_t v = d->bits()[d->stride() * std::size_t(y) + 3 * std::size_t(x)];
            EXPECT_EQ(v, (x == 2 && y == 1) ? 255 - 80 : 255) << x << ", " << y;
        }
    const std::string uri = pictureDataUri(*d, 2);
    EXPECT_EQ(uri.rfind("data:image/jpeg;base64,/9j/", 0), 0u) << uri.substr(0, 40);
}

} // namespace
} // namespace pelinor::cli
