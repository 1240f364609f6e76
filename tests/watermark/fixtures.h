// Temporary folders, test pictures and watermarks shared by the watermark tests.
#pragma once

#include "base/error.h"
#include "image/image_io.h"
#include "image/picture.h"
#include "watermark/watermark_file.h"

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace pelinor::test {

// A fresh folder, removed with everything in it at the end.
struct TempDir {
    const std::filesystem::path path
        = std::filesystem::temp_directory_path() / ("pelinor-test-" + std::to_string(std::random_device{}()));
    TempDir() { std::filesystem::create_directories(path); }
    ~TempDir() { std::filesystem::remove_all(path, ignored); }
    std::string file(const std::string& name) const { return (path / name).string(); }
    std::error_code ignored;
};

inline std::string readText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Byte c (0 = blue) of pixel x in row y, 0 = the top row.
inline auto& pixel(auto& p, int x, int y, int c)
{
    return p.bits()[p.stride() * std::size_t(p.storedRow(y)) + 3 * std::size_t(x) + std::size_t(c)];
}

inline PictureRef makePicture(
    int w, int h, const std::function<int(int, int, int)>& value, bool topDown = false)
{
    PictureRef p = Picture::create(w, h, 24, topDown);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c)
                pixel(*p, x, y, c) = std::uint8_t(value(x, y, c));
    return p;
}

// The pixel bytes top row first, without the row padding: equal for equal-looking pictures.
inline std::vector<std::uint8_t> pixels(const Picture& p)
{
    std::vector<std::uint8_t> out;
    for (int y = 0; y < p.height(); ++y)
        out.insert(out.end(), &pixel(p, 0, y, 0), &pixel(p, 0, y, 0) + 3 * p.width());
    return out;
}

inline PictureRef noisePicture(int w, int h, unsigned seed, bool topDown = false)
{
    std::mt19937 rng(seed);
    return makePicture(
        w, h, [&](int, int, int) { return int(rng() & 0xFF); }, topDown);
}

// Smooth and photograph-like, with texture at several scales.
inline PictureRef texturedPicture(int w, int h, bool topDown = false)
{
    return makePicture(
        w, h,
        [](int x, int y, int c) {
            const double v = 128 + 60 * std::sin(x * 0.07 + c) * std::cos(y * 0.05)
                + 30 * std::sin(x * 0.31 + y * 0.23) + 15 * std::cos(x * 0.9 - y * 0.7 + c);
            return int(std::lround(std::fmin(255.0, std::fmax(0.0, v))));
        },
        topDown);
}

// The sample photograph shipped with the sources (451 x 300, 24-bit).
inline PictureRef samplePhoto()
{
    return loadPicture(std::string(PELINOR_SOURCE_DIR) + "/samples/chelsea.png");
}

inline Watermark gaussianWatermark(int length, double alpha, unsigned seed)
{
    Watermark w{"", length, alpha, 0.0, 1.0, std::vector<double>(std::size_t(length))};
    std::mt19937 rng(seed);
    std::normal_distribution<double> normal(0.0, 1.0);
    for (double& x : w.values)
        x = normal(rng);
    return w;
}

// Expects f to throw error `number` with `part` in its text.
inline void expectError(const std::function<void()>& f, int number, const std::string& part = {})
{
    try {
        f();
        ADD_FAILURE() << "no error, expected " << number;
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), number) << e.what();
        EXPECT_NE(std::string(e.what()).find(part), std::string::npos) << e.what();
    }
}

} // namespace pelinor::test
