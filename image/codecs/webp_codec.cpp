// WebP through libwebp: pixels by its decoder and encoder, the ICC, EXIF and XMP chunks
// by its demuxer and muxer.
#include "base/error.h"
#include "image/codecs/codecs.h"

#include <cstdlib>
#include <memory>
#include <string>
#include <webp/decode.h>
#include <webp/demux.h>
#include <webp/encode.h>
#include <webp/mux.h>

namespace pelinor {

namespace {

[[noreturn]] void invalid(const std::string& why)
{
    throw Error(err::InvalidPicture, "Invalid picture: WebP: " + why);
}

// A metadata chunk; one over the carried limit is dropped with a note naming it.
std::vector<std::uint8_t> chunk(WebPDemuxer* demux, const char* fourcc, std::vector<std::string>& notes)
{
    WebPChunkIterator it;
    std::vector<std::uint8_t> out;
    if (WebPDemuxGetChunk(demux, fourcc, 1, &it)) {
        if (it.chunk.size <= kMaxMetadataBlock)
            out.assign(it.chunk.bytes, it.chunk.bytes + it.chunk.size);
        else
            notes.push_back("WebP: the " + std::string(fourcc, 4) + " chunk of "
                + std::to_string(it.chunk.size) + " bytes is over " + std::to_string(kMaxMetadataBlock >> 20)
                + " MiB; it was dropped");
    }
    WebPDemuxReleaseChunkIterator(&it);
    return out;
}

struct Demuxer {
    WebPDemuxer* d = nullptr;
    ~Demuxer() { WebPDemuxDelete(d); }
};

struct Mux {
    WebPMux* m = nullptr;
    ~Mux() { WebPMuxDelete(m); }
};

struct EncodedData {
    WebPData data;
    EncodedData() { WebPDataInit(&data); }
    ~EncodedData() { WebPDataClear(&data); }
};

} // namespace

PictureRef decodeWebp(std::span<const std::uint8_t> bytes, const PixelLimit& limit)
{
    WebPBitstreamFeatures features;
    if (WebPGetFeatures(bytes.data(), bytes.size(), &features) != VP8_STATUS_OK) invalid("unreadable header");
    if (features.has_animation) invalid("animated pictures are not supported");
    const int w = features.width, h = features.height;
    if (!withinPixelLimit(w, h)) throwOverPixelLimit(w, h);
    // No file size bounds the pixels: a lossless Huffman code of a single symbol spends no
    // bits at all, so a flat picture of any size takes a few bytes. The budget does.
    checkPixelBudget(w, h, limit);
    const bool alpha = features.has_alpha != 0;
    // libwebp decodes into memory of its own, which it does not clear: a few bytes that
    // claim a large picture fail there without the pixels ever being touched. Only a
    // decoded picture is copied into ours. Its status tells memory running out from damage.
    WebPDecoderConfig config;
    if (!WebPInitDecoderConfig(&config))
        throw Error(err::InvalidCall, "Cannot read WebP: wrong libwebp version");
    config.output.colorspace = alpha ? MODE_BGRA : MODE_BGR;
    struct Decoded {
        WebPDecBuffer* buffer;
        ~Decoded() { WebPFreeDecBuffer(buffer); }
    } decoded{&config.output};
    const VP8StatusCode status = WebPDecode(bytes.data(), bytes.size(), &config);
    if (status == VP8_STATUS_OUT_OF_MEMORY)
        throw Error(err::OutOfMemory,
            "Out of memory decoding a WebP picture of " + std::to_string(w) + " x " + std::to_string(h)
                + " pixels");
    if (status != VP8_STATUS_OK || config.output.width != w || config.output.height != h)
        invalid("damaged data");
    PictureRef picture = Picture::create(w, h, alpha ? 32 : 24, false);
    if (alpha) picture->setSampleFormat({3, true, 8, false});
    const int channels = alpha ? 4 : 3;
    for (int y = 0; y < h; ++y) {
        const std::size_t stored = std::size_t(picture->storedRow(y));
        const std::uint8_t* src = config.output.u.RGBA.rgba + std::size_t(y) * config.output.u.RGBA.stride;
        std::uint8_t* bgr = picture->bits() + stored * picture->stride();
        for (int x = 0; x < w; ++x, src += channels) {
            bgr[3 * x] = src[0], bgr[3 * x + 1] = src[1], bgr[3 * x + 2] = src[2];
            if (alpha) picture->alpha8()[stored * std::size_t(w) + std::size_t(x)] = src[3];
        }
    }
    WebPFreeDecBuffer(&config.output);
    WebPData data = {bytes.data(), bytes.size()};
    Demuxer demux;
    demux.d = WebPDemux(&data);
    if (demux.d != nullptr) {
        const std::uint32_t flags = WebPDemuxGetI(demux.d, WEBP_FF_FORMAT_FLAGS);
        Metadata& m = picture->metadata();
        std::vector<std::string>& notes = picture->source().notes;
        if (flags & ICCP_FLAG) m.icc = chunk(demux.d, "ICCP", notes);
        if (flags & EXIF_FLAG) {
            m.exif = chunk(demux.d, "EXIF", notes);
            // Some writers keep JPEG's "Exif" prefix.
            if (m.exif.size() >= 6 && std::equal(m.exif.begin(), m.exif.begin() + 6, "Exif\0\0"))
                m.exif.erase(m.exif.begin(), m.exif.begin() + 6);
        }
        if (flags & XMP_FLAG) m.xmp = chunk(demux.d, "XMP ", notes);
    }
    SourceInfo& source = picture->source();
    source.known = true;
    source.format = ImageFormat::WebP;
    source.lossless = features.format == 2;
    return picture;
}

std::vector<std::uint8_t> encodeWebp(const Picture& picture, int quality)
{
    if (quality < 0 || quality > 100)
        throw Error(err::InvalidCall, "WebP quality must be 1 to 100, not " + std::to_string(quality));
    const int w = picture.width(), h = picture.height();
    if (w > WEBP_MAX_DIMENSION || h > WEBP_MAX_DIMENSION)
        throw Error(err::InvalidCall, "A WebP file holds at most 16383 x 16383 pixels");
    const SampleFormat& format = picture.sampleFormat();
    const bool alpha = format.alpha;
    const int channels = alpha ? 4 : 3;
    const std::size_t rowBytes = std::size_t(w) * std::size_t(channels);
    std::vector<std::uint8_t> pixels = allocateElements<std::uint8_t>(rowBytes, std::size_t(h));
    for (int y = 0; y < h; ++y) {
        const std::size_t stored = std::size_t(picture.storedRow(y));
        const std::uint8_t* bgr = picture.bits() + stored * picture.stride();
        std::uint8_t* dst = pixels.data() + std::size_t(y) * rowBytes;
        for (int x = 0; x < w; ++x, dst += channels) {
            dst[0] = bgr[3 * x], dst[1] = bgr[3 * x + 1], dst[2] = bgr[3 * x + 2];
            if (alpha) {
                if (format.depth == 16) {
                    const std::size_t c = std::size_t(format.channels());
                    dst[3] = reduceTo8(
                        picture.samples16()[(stored * std::size_t(w) + std::size_t(x)) * c + c - 1]);
                } else {
                    dst[3] = picture.alpha8()[stored * std::size_t(w) + std::size_t(x)];
                }
            }
        }
    }
    WebPConfig config;
    if (!WebPConfigInit(&config)) throw Error(err::InvalidCall, "Cannot write WebP: wrong libwebp version");
    config.lossless = quality == 0 ? 1 : 0;
    config.quality = quality == 0 ? 75.0f : float(quality);
    // Lossless keeps the colour under fully transparent pixels too: nothing but the
    // invisible change is lost.
    config.exact = 1;
    WebPPicture pic;
    if (!WebPPictureInit(&pic)) throw Error(err::InvalidCall, "Cannot write WebP: wrong libwebp version");
    struct PictureOwner {
        WebPPicture* p;
        ~PictureOwner() { WebPPictureFree(p); }
    } owner{&pic};
    pic.width = w;
    pic.height = h;
    pic.use_argb = config.lossless;
    const int stride = int(rowBytes);
    if (!(alpha ? WebPPictureImportBGRA(&pic, pixels.data(), stride)
                : WebPPictureImportBGR(&pic, pixels.data(), stride)))
        throw Error(err::OutOfMemory, "Cannot write WebP: out of memory");
    pixels = std::vector<std::uint8_t>();
    WebPMemoryWriter writer;
    WebPMemoryWriterInit(&writer);
    struct WriterOwner {
        WebPMemoryWriter* w;
        ~WriterOwner() { WebPMemoryWriterClear(w); }
    } writerOwner{&writer};
    pic.writer = WebPMemoryWrite;
    pic.custom_ptr = &writer;
    if (!WebPEncode(&config, &pic))
        throw Error(err::OutOfMemory,
            "Cannot write WebP: the encoder failed (error " + std::to_string(int(pic.error_code)) + ")");
    const std::uint8_t* encodedBytes = writer.mem;
    const std::size_t size = writer.size;
    const Metadata& m = picture.metadata();
    if (m.icc.empty() && m.exif.empty() && m.xmp.empty())
        return std::vector<std::uint8_t>(encodedBytes, encodedBytes + size);

    Mux mux;
    const WebPData image = {encodedBytes, size};
    mux.m = WebPMuxCreate(&image, 1);
    if (mux.m == nullptr) throw Error(err::OutOfMemory, "Cannot write WebP: out of memory");
    const auto add = [&](const char* fourcc, const std::vector<std::uint8_t>& block) {
        if (block.empty()) return;
        const WebPData d = {block.data(), block.size()};
        if (WebPMuxSetChunk(mux.m, fourcc, &d, 1) != WEBP_MUX_OK)
            throw Error(err::OutOfMemory, std::string("Cannot write WebP: the ") + fourcc + " chunk");
    };
    add("ICCP", m.icc);
    add("EXIF", m.exif);
    add("XMP ", m.xmp);
    EncodedData assembled;
    if (WebPMuxAssemble(mux.m, &assembled.data) != WEBP_MUX_OK)
        throw Error(err::OutOfMemory, "Cannot write WebP: the container could not be assembled");
    return std::vector<std::uint8_t>(assembled.data.bytes, assembled.data.bytes + assembled.data.size);
}

} // namespace pelinor
