// The metadata path: whatever blocks a damaged file yields are read and written into
// every format that carries them, and read back; the EXIF reader takes the raw bytes too.
#include "base/error.h"
#include "fuzz_picture.h"
#include "image/codecs/exif.h"
#include "image/image_io.h"

#include <cstddef>
#include <cstdint>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace pelinor;
    const std::span<const std::uint8_t> bytes(data, size);
    readExifDirectory(bytes);
    PictureRef source;
    try {
        source = decodePicture(bytes, fuzz::kMaxPixels);
    } catch (const Error&) {
        return 0;
    }
    if (source->metadata().empty()) return 0;
    // The blocks on a small picture, so that the time goes into the metadata.
    PictureRef small = Picture::create(3, 2);
    small->metadata() = source->metadata();
    small->source() = source->source();
    for (const ImageFormat format :
        {ImageFormat::Jpeg, ImageFormat::Png, ImageFormat::Tiff, ImageFormat::WebP}) {
        lostInFormat(*small, format);
        try {
            decodePicture(encodePicture(*small, format));
        } catch (const Error&) {
            // A refusal is a clear error; only a crash or a sanitizer report is a finding.
        }
    }
    return 0;
}
