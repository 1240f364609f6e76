#include "fuzz_picture.h"
#include "image/image_io.h"

#include <cstdlib>

namespace {

std::int64_t le(const std::uint8_t* p, int bytes)
{
    std::uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = (v << 8) | p[i];
    return bytes == 4 ? std::int64_t(std::int32_t(std::uint32_t(v))) : std::int64_t(v);
}

// Headers asking for a large but allowed picture decode correctly and only cost time: a
// tiny RLE file may ask for up to the 1 GiB limit. Skip them so the fuzzer keeps its pace;
// sizes beyond the limit are still tried, since those are refused at once.
bool largeButAllowed(const std::uint8_t* data, std::size_t size)
{
    if (size < 26) return false;
    const std::int64_t headerSize = le(data + 14, 4);
    const int field = headerSize == 12 ? 2 : 4;
    const std::int64_t width = std::llabs(le(data + 18, field));
    const std::int64_t height = std::llabs(le(data + 18 + field, field));
    const double bytes = 3.0 * double(width) * double(height);
    return bytes > double(1 << 24) && bytes <= 2.0 * double(pelinor::kMaxPixelBytes);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (largeButAllowed(data, size)) return 0;
    return pelinor::fuzz::checkDecoder(pelinor::decodeBmp, data, size);
}
