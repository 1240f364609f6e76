// The check of a marked picture as a lossy encoder writes it: the figures of the decoded
// file, and the lowest quality that keeps the mark.
#include "image/image_io.h"
#include "tests/test_support.h"
#include "watermark/embed.h"
#include "watermark/written_check.h"

#include <gtest/gtest.h>

namespace pelinor {
namespace {

// A quality-1 JPEG of the sample photograph loses the mark and quality 75 keeps it; the
// quality offered is the boundary itself: it keeps the mark and the one below does not.
TEST(WrittenCheck, RefusesQualityOneAndFindsTheLowestQualityThatKeepsTheMark)
{
    const PictureRef original = test::samplePhoto();
    const Watermark watermark = test::gaussianWatermark(1000, 0.1, 42);
    const PictureRef marked = embedWatermark(*original, watermark).marked;
    const Reference reference(*original, Depths::Any, watermark.length);
    const DecisionRule rule = DecisionRule::byEvidence();
    const auto encode = [&](int q) { return encodePicture(*marked, ImageFormat::Jpeg, q); };

    const WrittenCheck q1 = checkWritten(reference, watermark, encode(1), rule);
    EXPECT_FALSE(q1.result.found);
    EXPECT_LT(q1.psnr, 25.0);
    const WrittenCheck q75 = checkWritten(reference, watermark, encode(75), rule);
    EXPECT_TRUE(q75.result.found);
    EXPECT_GT(q75.psnr, q1.psnr);
    EXPECT_TRUE(q75.result.byEvidence);

    const std::optional<int> enough = lowestFindableQuality(reference, watermark, rule, encode, 1);
    ASSERT_TRUE(enough.has_value());
    EXPECT_GT(*enough, 1);
    EXPECT_LE(*enough, 75);
    EXPECT_TRUE(checkWritten(reference, watermark, encode(*enough), rule).result.found);
    EXPECT_FALSE(checkWritten(reference, watermark, encode(*enough - 1), rule).result.found);

    // A rule nothing meets: no quality is offered.
    const DecisionRule impossible = DecisionRule::bySimilarity(0.9999999);
    EXPECT_FALSE(lowestFindableQuality(reference, watermark, impossible, encode, 1).has_value());
}

// The file's PSNR: infinite for the same pixels whatever their row order, finite against a
// decoded JPEG, and only for pictures of the same size.
TEST(WrittenCheck, ColourPsnrTakesAnyDepthAndRefusesOtherSizes)
{
    const PictureRef colour = test::texturedPicture(64, 48);
    EXPECT_EQ(colourPsnr(*colour, *colour), std::numeric_limits<double>::infinity());
    const PictureRef copy = decodePicture(encodePicture(*colour, ImageFormat::Jpeg, 90));
    const double jpeg = colourPsnr(*colour, *copy);
    EXPECT_GT(jpeg, 25.0);
    EXPECT_LT(jpeg, 60.0);
    // A top-down copy of the same pixels compares equal.
    const PictureRef flipped = test::texturedPicture(64, 48, true);
    EXPECT_EQ(colourPsnr(*colour, *flipped), std::numeric_limits<double>::infinity());
    test::expectError(
        [&] { colourPsnr(*colour, *test::texturedPicture(48, 64)); }, err::SizeMismatch, "Cannot compare");
}

} // namespace
} // namespace pelinor
