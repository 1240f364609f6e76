#include <gtest/gtest.h>

#include "image/image_io.h"

namespace pelinor {
namespace {

TEST(FormatForPath, ExtensionDecides)
{
    const std::pair<const char*, ImageFormat> cases[] = {
        {"a.png", ImageFormat::Png},      {"A.PNG", ImageFormat::Png},    {"x/y.jpg", ImageFormat::Jpeg},
        {"y.JpEg", ImageFormat::Jpeg},    {"y.bmp", ImageFormat::Bmp},    {"noext", ImageFormat::Bmp},
        {"dir.png/file", ImageFormat::Bmp}, {"a.png.bmp", ImageFormat::Bmp}, {"a.jpe", ImageFormat::Bmp},
        {".png", ImageFormat::Png},
    };
    for (const auto& [path, format] : cases) EXPECT_EQ(formatForPath(path), format) << path;
}

}  // namespace
}  // namespace pelinor
