// Writes a synthetic, photograph-like 24-bit picture for the command-line tests:
// lab_make_picture OUTPUT WIDTH HEIGHT [SEED]
#include "image/image_io.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <random>

int main(int argc, char* argv[])
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: lab_make_picture OUTPUT WIDTH HEIGHT [SEED]\n");
        return 2;
    }
    const int w = std::atoi(argv[2]);
    const int h = std::atoi(argv[3]);
    std::mt19937 rng(argc > 4 ? unsigned(std::atoi(argv[4])) : 1u);
    std::uniform_real_distribution<double> phase(0.0, 6.28);
    const double p[3] = {phase(rng), phase(rng), phase(rng)};
    try {
        auto picture = pelinor::Picture::create(w, h);
        for (int y = 0; y < h; ++y) {
            std::uint8_t* row = picture->bits() + picture->stride() * std::size_t(y);
            for (int x = 0; x < w; ++x)
                for (int c = 0; c < 3; ++c) {
                    const double v = 128 + 55 * std::sin(x * 0.06 + p[c]) * std::cos(y * 0.045 + p[0])
                        + 30 * std::sin(x * 0.27 + y * 0.19 + p[1]) + 14 * std::cos(x * 0.8 - y * 0.6 + c);
                    row[3 * x + c] = std::uint8_t(std::lround(std::fmin(255.0, std::fmax(0.0, v))));
                }
        }
        pelinor::savePicture(*picture, argv[1]);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "lab_make_picture: %s\n", e.what());
        return 2;
    }
    return 0;
}
