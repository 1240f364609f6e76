// Helpers shared by the image tests.
#pragma once

#include "image/picture.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

namespace pelinor::test {

inline std::string suitePath(const std::string& relative)
{
    return std::string(PELINOR_TESTDATA) + "/bmpsuite/" + relative;
}

// Blue, green, red of the pixel at (x, visual row y), 0 = top.
inline const std::uint8_t* pixelAt(const Picture& p, int x, int visualRow)
{
    return p.bits() + std::size_t(p.storedRow(visualRow)) * p.stride() + 3 * std::size_t(x);
}

// A picture filled with a deterministic pattern, every byte of every pixel different
// across neighbours, so that row order and channel order mistakes show.
inline PictureRef patternPicture(int width, int height, bool topDown = false)
{
    PictureRef p = Picture::create(width, height, 24, topDown);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            auto* px = p->bits() + std::size_t(p->storedRow(y)) * p->stride() + 3 * std::size_t(x);
            px[0] = std::uint8_t(x * 7 + y * 3);
            px[1] = std::uint8_t(x * 13 + y * 29 + 50);
            px[2] = std::uint8_t(255 - x * 5 - y * 11);
        }
    return p;
}

// A fresh, empty folder removed again at the end of the test.
class TempDir {
public:
    TempDir()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "pelinor-test-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        m_path = pattern;
    }
    ~TempDir() { std::filesystem::remove_all(m_path); }
    std::string file(const std::string& name) const { return m_path + "/" + name; }
    const std::string& path() const { return m_path; }

private:
    std::string m_path;
};

} // namespace pelinor::test
