// What a picture file held beyond the 24-bit memory every picture is shown from: its
// channels and sample depth, the blocks of metadata it carried, and how it was encoded.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace pelinor {

enum class ImageFormat { Bmp, Png, Jpeg, Tiff, WebP };

// "BMP", "PNG", "JPEG", "TIFF", "WebP".
const char* formatName(ImageFormat format) noexcept;

// The samples a picture keeps. Colour 8-bit without alpha lives in the 24-bit memory
// alone; grey 8-bit keeps grey in all three bytes of it; an 8-bit alpha channel has a
// plane of its own; 16-bit samples are kept whole, the 24-bit memory holding them
// reduced to 8 bits for showing.
struct SampleFormat {
    int colours = 3; // 1 grey, 3 colour
    bool alpha = false;
    int depth = 8; // bits per sample: 8 or 16
    bool palette = false; // the file held palette indices, expanded here

    int channels() const noexcept { return colours + (alpha ? 1 : 0); }
    bool operator==(const SampleFormat&) const = default;
};

// "RGB", "grey", "RGBA", "grey + alpha".
std::string channelsName(const SampleFormat& format);

enum class Subsampling { None, S444, S422, S420 };

// A keyword and its text, as PNG text chunks hold them; a JPEG comment is "Comment".
struct TextEntry {
    std::string keyword;
    std::string text;
    bool operator==(const TextEntry&) const = default;
};

// Blocks carried unchanged from file to file. Empty means absent.
struct Metadata {
    std::vector<std::uint8_t> exif; // a TIFF structure ("II*" or "MM*"), without JPEG's "Exif" prefix
    std::vector<std::uint8_t> icc; // an ICC profile
    std::vector<std::uint8_t> xmp; // an XMP packet
    std::vector<std::uint8_t> iptc; // IPTC-IIM records
    std::vector<TextEntry> text;

    bool empty() const noexcept
    {
        return exif.empty() && icc.empty() && xmp.empty() && iptc.empty() && text.empty();
    }
};

// Largest metadata block carried; a bigger one is dropped with a warning.
inline constexpr std::size_t kMaxMetadataBlock = std::size_t(64) << 20;

// How the file was encoded, for choices that follow the input (JPEG quality and subsampling).
struct SourceInfo {
    bool known = false;
    ImageFormat format = ImageFormat::Bmp;
    int jpegQuality = 0; // estimated from the quantisation tables; 0 when not a JPEG
    Subsampling subsampling = Subsampling::None;
    bool lossless = false; // WebP: lossless encoding
    std::vector<std::string> notes; // what the reader had to leave out, for the user
};

} // namespace pelinor
