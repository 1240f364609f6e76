#include "image/atomic_file.h"
#include "image/image_io.h"
#include "image_test_util.h"

#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>

namespace pelinor {
namespace {

TEST(FormatForPath, ExtensionDecides)
{
    const std::pair<const char*, ImageFormat> cases[] = {
        {"a.png", ImageFormat::Png},
        {"A.PNG", ImageFormat::Png},
        {"x/y.jpg", ImageFormat::Jpeg},
        {"y.JpEg", ImageFormat::Jpeg},
        {"y.bmp", ImageFormat::Bmp},
        {"noext", ImageFormat::Bmp},
        {"dir.png/file", ImageFormat::Bmp},
        {"a.png.bmp", ImageFormat::Bmp},
        {"a.jpe", ImageFormat::Bmp},
        {".png", ImageFormat::Png},
        {"a.txt", ImageFormat::Bmp},
    };
    for (const auto& [path, format] : cases)
        EXPECT_EQ(formatForPath(path), format) << path;
}

struct SaveCase {
    const char* name;
    const char* magic;
    bool lossless;
};

class SaveAndLoad : public ::testing::TestWithParam<SaveCase> { };

// Saving picks the format by the name; loading finds it by the content, whatever the name.
TEST_P(SaveAndLoad, FormatFollowsTheNameAndIsFoundByContent)
{
    const SaveCase& c = GetParam();
    test::TempDir dir;
    const std::string path = dir.file(c.name);
    PictureRef p = test::patternPicture(13, 7);
    savePicture(*p, path);
    const std::vector<std::uint8_t> bytes = readFileBytes(path);
    ASSERT_GE(bytes.size(), std::strlen(c.magic));
    EXPECT_EQ(std::memcmp(bytes.data(), c.magic, std::strlen(c.magic)), 0);

    const std::string misnamed = dir.file("misnamed.bmp");
    std::filesystem::rename(path, misnamed);
    PictureRef back = loadPicture(misnamed);
    EXPECT_EQ(back->bitsPerPixel(), 24);
    ASSERT_EQ(back->width(), 13);
    ASSERT_EQ(back->height(), 7);
    if (c.lossless) {
        EXPECT_EQ(std::memcmp(back->bits(), p->bits(), p->byteCount()), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Names, SaveAndLoad,
    ::testing::Values(SaveCase{"a.bmp", "BM", true}, SaveCase{"a.PNG", "\x89PNG", true},
        SaveCase{"a.jpeg", "\xff\xd8\xff", false}, SaveCase{"a.Jpg", "\xff\xd8\xff", false},
        SaveCase{"a.dat", "BM", true}),
    [](const auto& testInfo) { return std::to_string(testInfo.index); });

TEST(SavePicture, JpegQualityIsPassedOn)
{
    test::TempDir dir;
    PictureRef p = test::patternPicture(40, 30);
    savePicture(*p, dir.file("low.jpg"), 10);
    savePicture(*p, dir.file("high.jpg"), 95);
    EXPECT_LT(
        std::filesystem::file_size(dir.file("low.jpg")), std::filesystem::file_size(dir.file("high.jpg")));
}

TEST(SavePicture, FailureLeavesTheOldFile)
{
    test::TempDir dir;
    PictureRef p = test::patternPicture(4, 4);
    savePicture(*p, dir.file("keep.bmp"));
    const auto before = readFileBytes(dir.file("keep.bmp"));
    try {
        savePicture(*p, dir.file("keep.jpg"), 0); // invalid quality: nothing is written
        FAIL();
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), err::InvalidCall);
    }
    EXPECT_FALSE(std::filesystem::exists(dir.file("keep.jpg")));
    EXPECT_EQ(readFileBytes(dir.file("keep.bmp")), before);
}

TEST(LoadPicture, ErrorsNameTheFileAndTheReason)
{
    test::TempDir dir;
    writeFileAtomic(dir.file("text.bmp"), std::string("hello, this is not a picture"));
    writeFileAtomic(dir.file("empty.png"), std::string());
    writeFileAtomic(dir.file("cut.png"), std::string("\x89PNG\r\n\x1a\n\0\0", 10));
    const struct {
        std::string path;
        int number;
        const char* text;
    } cases[] = {
        {dir.file("missing.bmp"), err::FileNotFound, "File not found"},
        {dir.file("nofolder/x.bmp"), err::PathNotFound, "x.bmp"},
        {dir.file("text.bmp"), err::InvalidPicture, "Invalid picture: not a BMP, PNG or JPEG file"},
        {dir.file("empty.png"), err::InvalidPicture, "Invalid picture: the file is empty"},
        {dir.file("cut.png"), err::InvalidPicture, "Invalid picture: PNG: "},
        {dir.path(), err::PathAccess, "Cannot read"},
    };
    for (const auto& c : cases) {
        try {
            loadPicture(c.path);
            ADD_FAILURE() << c.path;
        } catch (const Error& e) {
            EXPECT_EQ(e.number(), c.number) << e.what();
            EXPECT_NE(std::string(e.what()).find(c.text), std::string::npos) << e.what();
            EXPECT_NE(std::string(e.what()).find(c.path), std::string::npos) << e.what();
        }
    }
}

} // namespace
} // namespace pelinor
