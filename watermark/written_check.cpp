#include "watermark/written_check.h"

#include "base/error.h"
#include "image/image_io.h"
#include "obrada/bytes.h"

#include <string>

namespace pelinor {

double colourPsnr(const Picture& a, const Picture& b)
{
    if (a.width() != b.width() || a.height() != b.height())
        throw Error(err::SizeMismatch,
            "Cannot compare a " + sizeText(a.width(), a.height()) + " picture with a "
                + sizeText(b.width(), b.height()) + " one");
    const auto va = openColourView(a);
    const auto vb = openColourView(b);
    const std::size_t n1 = std::size_t(va.n1());
    std::uint64_t sum = 0;
    // Row y of both views is the same picture row whatever the storage order.
    for (int y = 0; y < a.height(); ++y)
        sum += squaredDifference(va.row(a.storedRow(y)), vb.row(b.storedRow(y)), n1);
    return psnrFromSquaredError(double(sum), double(n1) * a.height());
}

WrittenCheck checkWritten(const Reference& original, const Watermark& watermark,
    std::span<const std::uint8_t> bytes, const DecisionRule& rule)
{
    // The file is the marked picture's own encoding: the original's size bounds it.
    const PictureRef decoded
        = decodePicture(bytes, std::int64_t(original.width()) * std::int64_t(original.height()));
    WrittenCheck check;
    check.psnr = colourPsnr(original.picture(), *decoded);
    DetectOptions options;
    options.mode = RegisterMode::Never; // an encoder keeps the grid
    check.result = detect(original, watermark, *decoded, rule, options).result;
    return check;
}

std::optional<int> lowestFindableQuality(const Reference& original, const Watermark& watermark,
    const DecisionRule& rule, const EncodeAtQuality& encode, int failing)
{
    const auto findable
        = [&](int quality) { return checkWritten(original, watermark, encode(quality), rule).result.found; };
    int lo = failing < 1 ? 0 : failing; // loses the mark (0: none tried)
    int hi = 100;
    if (lo >= hi || !findable(hi)) return std::nullopt;
    while (hi - lo > 1) {
        const int mid = lo + (hi - lo) / 2;
        (findable(mid) ? hi : lo) = mid;
    }
    return hi;
}

} // namespace pelinor
