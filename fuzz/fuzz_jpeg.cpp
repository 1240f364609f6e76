#include "fuzz_picture.h"
#include "image/image_io.h"

#include <algorithm>

namespace {

// The largest width times height of anything that looks like a frame header (SOFn).
// A decoder skips stray bytes before markers, so every such pattern counts, not only
// those on the segment chain.
double framePixels(const std::uint8_t* data, std::size_t size)
{
    double largest = 0;
    for (std::size_t at = 0; at + 9 <= size; ++at) {
        const std::uint8_t marker = data[at + 1];
        if (data[at] != 0xFF || marker < 0xC0 || marker > 0xCF || marker == 0xC4 || marker == 0xC8
            || marker == 0xCC)
            continue;
        const double height = double(std::size_t(data[at + 5]) << 8 | data[at + 6]);
        const double width = double(std::size_t(data[at + 7]) << 8 | data[at + 8]);
        largest = std::max(largest, width * height);
    }
    return largest;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // Large but allowed frames decode (or are refused) correctly and only cost time:
    // skip them so the fuzzer keeps its pace; larger ones are refused at once and stay in.
    const double bytes = 3 * framePixels(data, size);
    if (bytes > double(1 << 24) && bytes <= 2.0 * double(pelinor::kMaxPixelBytes)) return 0;
    return pelinor::fuzz::checkDecoder(pelinor::decodeJpeg, data, size);
}
