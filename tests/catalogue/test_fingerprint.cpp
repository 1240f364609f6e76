// The content fingerprint: copies as people make them score high against their original and
// clearly lower against other photographs.
#include "catalogue/fingerprint.h"
#include "lab/attacks.h"
#include "tests/test_support.h"

#include <functional>

namespace pelinor {
namespace {

PictureRef photo(const std::string& name)
{
    return loadPicture(std::string(PELINOR_SOURCE_DIR) + "/samples/" + name);
}

// Turned by a quarter counter-clockwise: a new picture of swapped sides.
PictureRef quarterTurn(const Picture& p)
{
    return test::makePicture(p.height(), p.width(),
        [&](int x, int y, int c) { return test::pixelAt(p, p.width() - 1 - y, x)[c]; });
}

// The part [x0, x0 + w) x [y0, y0 + h) of a picture, as a new picture.
PictureRef cut(const Picture& p, int x0, int y0, int w, int h)
{
    return test::makePicture(w, h, [&](int x, int y, int c) { return test::pixelAt(p, x0 + x, y0 + y)[c]; });
}

struct Copy {
    const char* name;
    std::function<PictureRef(const Picture&)> make;
};

const Copy kCopies[] = {
    {"same", [](const Picture& p) { return p.clone(); }},
    {"jpeg 40", [](const Picture& p) { return attackJpeg(p, 40); }},
    {"resize 0.4", [](const Picture& p) { return attackResize(p, 0.4); }},
    {"social", [](const Picture& p) { return attackSocial(p); }},
    {"brighter", [](const Picture& p) { return attackTone(p, 1.2, 15); }},
    {"gamma 0.7", [](const Picture& p) { return attackGamma(p, 0.7); }},
    {"mirror", [](const Picture& p) { return attackMirror(p); }},
    {"quarter turn", [](const Picture& p) { return quarterTurn(p); }},
    {"half turn + mirror", [](const Picture& p) { return attackMirror(*quarterTurn(*quarterTurn(p))); }},
    {"rotate 5", [](const Picture& p) { return attackRotate(p, 5); }},
    {"crop 80 % centred", [](const Picture& p) { return attackCropTo(p, 0.8); }},
    {"crop 80 % top left",
        [](const Picture& p) { return cut(p, 0, 0, p.width() * 8 / 10, p.height() * 8 / 10); }},
    {"crop 85 % x 95 % bottom right",
        [](const Picture& p) {
            const int w = p.width() * 85 / 100, h = p.height() * 95 / 100;
            return cut(p, p.width() - w, p.height() - h, w, h);
        }},
    {"crop 95 %, resize 0.6, brighter, jpeg 80",
        [](const Picture& p) {
            return attackJpeg(*attackTone(*attackResize(*attackCropTo(p, 0.95), 0.6), 1.1, 10), 80);
        }},
};

TEST(Fingerprint, CopiesFindTheirOriginalFirst)
{
    const char* names[] = {
        "chelsea.png", "photos/astronaut.jpg", "photos/coffee.jpg", "photos/retina.jpg", "photos/rocket.jpg"};
    std::vector<PictureRef> originals;
    FingerprintIndex index;
    for (const char* name : names) {
        originals.push_back(photo(name));
        index.add(static_cast<long long>(originals.size() - 1), fingerprintOf(*originals.back()));
    }
    for (std::size_t k = 0; k < originals.size(); ++k)
        for (const Copy& copy : kCopies) {
            const PictureRef suspect = copy.make(*originals[k]);
            const std::vector<Fingerprint> views = suspectViews(*suspect);
            const auto matches = index.search(views, -1.0f, originals.size());
            ASSERT_EQ(matches.size(), originals.size());
            EXPECT_EQ(matches[0].id, static_cast<long long>(k)) << names[k] << ", " << copy.name;
            EXPECT_GT(matches[0].score, 0.9f) << names[k] << ", " << copy.name;
            EXPECT_GT(matches[0].score - matches[1].score, 0.05f) << names[k] << ", " << copy.name;
        }
}

TEST(Fingerprint, StoredAsItWasComputed)
{
    const Fingerprint f = fingerprintOf(*test::texturedPicture(120, 80));
    Fingerprint back{};
    ASSERT_TRUE(decodeFingerprint(encodeFingerprint(f), back));
    EXPECT_EQ(back, f);
    EXPECT_NEAR(fingerprintScore(f, f), 1.0f, 1e-5f);
    std::vector<std::uint8_t> bytes = encodeFingerprint(f);
    bytes[0] = 99;
    EXPECT_FALSE(decodeFingerprint(bytes, back));
    bytes = encodeFingerprint(f);
    bytes.pop_back();
    EXPECT_FALSE(decodeFingerprint(bytes, back));
}

TEST(Fingerprint, FlatAndTinyPicturesScoreNothing)
{
    const Fingerprint flat = fingerprintOf(*test::makePicture(50, 40, [](int, int, int) { return 90; }));
    for (float v : flat)
        EXPECT_EQ(v, 0.0f);
    // One pixel: every cell is that pixel.
    const Fingerprint one = fingerprintOf(*test::makePicture(1, 1, [](int, int, int) { return 7; }));
    EXPECT_EQ(fingerprintScore(one, one), 0.0f);
    EXPECT_EQ(suspectViews(*test::makePicture(1, 2, [](int, int, int) { return 7; })).size(), 8u * 169u);
}

} // namespace
} // namespace pelinor
