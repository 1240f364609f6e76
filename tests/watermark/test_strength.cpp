// The quality floor: the banding figure, and the strength lowered from the key's only as
// far as the floor needs.
#include "tests/test_support.h"
#include "watermark/embed.h"
#include "watermark/strength.h"

#include <gtest/gtest.h>

namespace pelinor {
namespace {

// A smooth sky: a slow vertical ramp with a little fixed grain, so that every 8 x 8 block
// is flat and there are coefficients to mark.
PictureRef skyPicture(int w, int h)
{
    return test::makePicture(w, h, [h](int x, int y, int c) {
        const unsigned mixed = (unsigned(x) * 73856093u ^ unsigned(y) * 19349663u) * 2654435761u;
        const int grain = int(mixed >> 29) % 3 - 1;
        return 90 + 30 * c + 60 * y / h + grain;
    });
}

bool keepsFloor(const Picture& source, const EmbedResult& r, const QualityFloor& floor)
{
    return r.psnr >= floor.minPsnr && banding(source, *r.marked) <= floor.maxBanding;
}

TEST(Banding, MeasuresTheChangeInFlatBlocksOnly)
{
    const PictureRef sky = skyPicture(96, 96);
    EXPECT_EQ(banding(*sky, *sky), 0.0);
    // Five levels added to the top half: half the flat blocks moved by five.
    const auto brighter = [](const Picture& p) {
        PictureRef out = p.clone();
        for (int y = 0; y < p.height() / 2; ++y)
            for (int x = 0; x < p.width(); ++x)
                for (int c = 0; c < 3; ++c)
                    test::pixelAt(*out, x, y)[c] = std::uint8_t(test::pixelAt(p, x, y)[c] + 5);
        return out;
    };
    EXPECT_NEAR(banding(*sky, *brighter(*sky)), 5.0, 0.5);
    // Noise has no flat block: a change there is hidden, whatever its size.
    const PictureRef noise = test::noisePicture(96, 96, 3);
    EXPECT_EQ(banding(*noise, *brighter(*noise)), 0.0);
    test::expectError([&] { banding(*sky, *skyPicture(96, 64)); }, err::SizeMismatch, "Cannot compare");
}

// On flat and textured pictures the floor holds; alpha stays the key's when the key already
// keeps it and is otherwise lowered, with its sign, no further than needed.
TEST(QualityFloor, HoldsAndLowersAlphaOnlyWhenNeeded)
{
    const struct {
        const char* name;
        PictureRef picture;
        double alpha;
    } cases[] = {
        {"sky, 0.1", skyPicture(128, 128), 0.1},
        {"sky, -0.3", skyPicture(128, 128), -0.3},
        {"sky, 0.002", skyPicture(128, 128), 0.002},
        {"noise, 0.3", test::noisePicture(128, 128, 5), 0.3},
        {"noise, 0.01", test::noisePicture(128, 128, 5), 0.01},
        {"textured, 0.1", test::texturedPicture(128, 128), 0.1},
        {"photo, 0.1", test::samplePhoto(), 0.1},
        {"photo, 0.01", test::samplePhoto(), 0.01},
    };
    const QualityFloor floor;
    int lowered = 0, kept = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Watermark key = test::gaussianWatermark(300, c.alpha, 11);
        const EmbedResult atKey = embedWatermark(*c.picture, key);
        const FloorEmbed f = embedWithinFloor(*c.picture, key, floor);
        EXPECT_GE(f.embedded.psnr, floor.minPsnr);
        EXPECT_LE(f.banding, floor.maxBanding);
        EXPECT_EQ(f.banding, banding(*c.picture, *f.embedded.marked));
        if (keepsFloor(*c.picture, atKey, floor)) {
            ++kept;
            EXPECT_FALSE(f.lowered);
            EXPECT_EQ(f.alpha, key.alpha);
            EXPECT_EQ(test::pixels(*f.embedded.marked), test::pixels(*atKey.marked));
            continue;
        }
        ++lowered;
        EXPECT_TRUE(f.lowered);
        EXPECT_EQ(f.keyPsnr, atKey.psnr);
        EXPECT_GT(f.alpha * key.alpha, 0.0);
        EXPECT_LT(std::fabs(f.alpha), std::fabs(key.alpha));
        EXPECT_NEAR(f.scale, f.alpha / key.alpha, 1e-12);
        // Not lowered further than needed: a little stronger breaks the floor.
        Watermark stronger = key;
        stronger.alpha = std::min(std::fabs(f.alpha) * 1.15, std::fabs(key.alpha)) * (key.alpha < 0 ? -1 : 1);
        EXPECT_FALSE(keepsFloor(*c.picture, embedWatermark(*c.picture, stronger), floor));
    }
    EXPECT_GE(lowered, 3);
    EXPECT_GE(kept, 2);
}

// No floor is the key's embedding as it is; a floor out of reach is refused, not looped.
TEST(QualityFloor, ZeroIsTheKeysEmbeddingAndAFloorOutOfReachIsRefused)
{
    const PictureRef photo = test::samplePhoto();
    const Watermark key = test::gaussianWatermark(1000, 0.1, 3);
    const FloorEmbed none = embedWithinFloor(*photo, key, {0.0, kDefaultMaxBanding});
    EXPECT_FALSE(none.lowered);
    EXPECT_EQ(none.alpha, key.alpha);
    EXPECT_EQ(test::pixels(*none.embedded.marked), test::pixels(*embedWatermark(*photo, key).marked));
    test::expectError(
        [&] {
            embedWithinFloor(*photo, key, {99.0, kDefaultMaxBanding});
        },
        err::InvalidCall, "no strength keeps the PSNR at or above 99.00 dB");
}

} // namespace
} // namespace pelinor
