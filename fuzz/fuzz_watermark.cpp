#include "base/error.h"
#include "watermark/watermark_file.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

// Reads the input as a watermark file; whatever reads must hold exactly its announced
// values and survive writing and reading again unchanged.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace pelinor;
    Watermark w;
    try {
        w = parseWatermark(std::string_view(reinterpret_cast<const char*>(data), size));
    } catch (const Error&) {
        return 0;
    }
    if (w.length < 1 || w.values.size() != static_cast<std::size_t>(w.length)) __builtin_trap();
    const std::string text = formatWatermark(w);
    const Watermark back = parseWatermark(text);
    if (back.length != w.length || formatWatermark(back) != text) __builtin_trap();
    return 0;
}
