// TIFF through libtiff, read from and written to memory. Errors and warnings go to
// handlers of each open file, never to libtiff's process-wide ones.
#include "base/error.h"
#include "image/codecs/codecs.h"
#include "image/codecs/exif.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <tiffio.h>

namespace pelinor {

namespace {

struct Messages {
    std::string error;
};

int onError(TIFF*, void* user, const char* module, const char* format, va_list args)
{
    auto* m = static_cast<Messages*>(user);
    if (m->error.empty()) {
        char text[256];
        std::vsnprintf(text, sizeof text, format, args);
        m->error = text;
        (void)module;
    }
    return 1;
}

int onWarning(TIFF*, void*, const char*, const char*, va_list)
{
    return 1;
}

// The file in memory: read from the input, or grown by the writer.
struct Memory {
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
    std::vector<std::uint8_t>* out = nullptr;
    std::size_t pos = 0;
};

tmsize_t readMemory(thandle_t h, void* buffer, tmsize_t n)
{
    auto* m = static_cast<Memory*>(h);
    const std::uint8_t* data = m->out ? m->out->data() : m->data;
    const std::size_t size = m->out ? m->out->size() : m->size;
    if (n < 0 || m->pos >= size) return 0;
    const std::size_t k = std::min(std::size_t(n), size - m->pos);
    std::memcpy(buffer, data + m->pos, k);
    m->pos += k;
    return tmsize_t(k);
}

tmsize_t writeMemory(thandle_t h, void* buffer, tmsize_t n)
{
    auto* m = static_cast<Memory*>(h);
    if (m->out == nullptr || n < 0) return -1;
    try {
        if (m->pos + std::size_t(n) > m->out->size()) m->out->resize(m->pos + std::size_t(n));
    } catch (const std::exception&) {
        return -1;
    }
    std::memcpy(m->out->data() + m->pos, buffer, std::size_t(n));
    m->pos += std::size_t(n);
    return n;
}

toff_t seekMemory(thandle_t h, toff_t offset, int whence)
{
    auto* m = static_cast<Memory*>(h);
    const std::size_t size = m->out ? m->out->size() : m->size;
    std::uint64_t base = whence == SEEK_CUR ? m->pos : whence == SEEK_END ? size : 0;
    const std::uint64_t to = base + offset;
    if (to > (std::uint64_t(1) << 40)) return toff_t(-1);
    m->pos = std::size_t(to);
    return to;
}

int closeMemory(thandle_t)
{
    return 0;
}

toff_t sizeMemory(thandle_t h)
{
    auto* m = static_cast<Memory*>(h);
    return m->out ? m->out->size() : m->size;
}

int mapNothing(thandle_t, void**, toff_t*)
{
    return 0;
}

void unmapNothing(thandle_t, void*, toff_t)
{
}

struct TiffFile {
    TIFF* tif = nullptr;
    Messages messages;
    Memory memory;
    ~TiffFile()
    {
        if (tif != nullptr) TIFFClose(tif);
    }
};

void open(TiffFile& f, const char* mode)
{
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (options == nullptr) throw Error(err::OutOfMemory, "Out of memory opening a TIFF file");
    TIFFOpenOptionsSetErrorHandlerExtR(options, onError, &f.messages);
    TIFFOpenOptionsSetWarningHandlerExtR(options, onWarning, nullptr);
    // No single allocation of libtiff's own beyond the pixel limit, whatever a tag claims.
    TIFFOpenOptionsSetMaxSingleMemAlloc(options, tmsize_t(kMaxPixelBytes));
    f.tif = TIFFClientOpenExt("memory", mode, &f.memory, readMemory, writeMemory, seekMemory, closeMemory,
        sizeMemory, mapNothing, unmapNothing, options);
    TIFFOpenOptionsFree(options);
}

[[noreturn]] void invalid(const TiffFile& f, const std::string& why)
{
    throw Error(err::InvalidPicture,
        "Invalid picture: TIFF: "
            + (why.empty() ? f.messages.error
                           : why + (f.messages.error.empty() ? "" : " (" + f.messages.error + ")")));
}

template <class T> T field(TIFF* tif, ttag_t tag, T fallback)
{
    T value = fallback;
    if (TIFFGetFieldDefaulted(tif, tag, &value) != 1) return fallback;
    return value;
}

// Bytes in an opaque-data tag; a LONG-typed IPTC tag counts four-byte units.
std::vector<std::uint8_t> blob(TIFF* tif, ttag_t tag)
{
    std::uint32_t count = 0;
    void* data = nullptr;
    if (TIFFGetField(tif, tag, &count, &data) != 1 || data == nullptr || count == 0) return {};
    std::size_t bytes = count;
    const TIFFField* fi = TIFFFieldWithTag(tif, tag);
    if (fi != nullptr && (TIFFFieldDataType(fi) == TIFF_LONG || TIFFFieldDataType(fi) == TIFF_IFD))
        bytes *= 4;
    if (bytes > kMaxMetadataBlock) return {};
    const auto* p = static_cast<const std::uint8_t*>(data);
    return std::vector<std::uint8_t>(p, p + bytes);
}

void readMetadata(TiffFile& f, Picture& picture)
{
    Metadata& m = picture.metadata();
    m.icc = blob(f.tif, TIFFTAG_ICCPROFILE);
    m.xmp = blob(f.tif, TIFFTAG_XMLPACKET);
    m.iptc = blob(f.tif, TIFFTAG_RICHTIFFIPTC);
    std::vector<ExifEntry> entries;
    for (const std::uint16_t tag : {exif::ImageDescription, exif::Make, exif::Model, exif::Software,
             exif::DateTime, exif::Artist, exif::HostComputer, exif::Copyright}) {
        char* text = nullptr;
        if (TIFFGetField(f.tif, tag, &text) == 1 && text != nullptr)
            entries.push_back({tag, text, std::nullopt});
    }
    std::uint16_t orientation = 0;
    if (TIFFGetField(f.tif, TIFFTAG_ORIENTATION, &orientation) == 1)
        entries.push_back({exif::Orientation, {}, orientation});
    if (!entries.empty()) m.exif = writeExifDirectory(entries);
}

struct Layout {
    std::uint32_t width = 0, height = 0;
    std::uint16_t samples = 0, bits = 0, photometric = 0;
    bool tiled = false;
    std::uint32_t tileWidth = 0, tileHeight = 0, rowsPerStrip = 0;
    std::size_t bytesPerPixel() const { return std::size_t(samples) * bits / 8; }
};

// Everything the header promises is checked before the pixels are allocated: the size,
// the tile size, every strip or tile inside the file, and enough data for the pixels.
void checkLayout(TiffFile& f, const Layout& l, const PixelLimit& limit)
{
    if (!withinPixelLimit(l.width, l.height)) throwOverPixelLimit(l.width, l.height);
    const std::uint64_t raw = std::uint64_t(l.width) * l.height * l.bytesPerPixel();
    if (raw > 3 * std::uint64_t(kMaxPixelBytes)) throwOverPixelLimit(l.width, l.height);
    if (l.tiled) {
        const auto roomFor = [](std::uint32_t size) {
            return std::max<std::uint64_t>(256, (std::uint64_t(size) + 15) / 16 * 16);
        };
        if (l.tileWidth == 0 || l.tileHeight == 0 || l.tileWidth > roomFor(l.width)
            || l.tileHeight > roomFor(l.height))
            invalid(f,
                "tiles of " + std::to_string(l.tileWidth) + " x " + std::to_string(l.tileHeight)
                    + " do not fit a picture of " + std::to_string(l.width) + " x "
                    + std::to_string(l.height));
    }
    const std::uint32_t count = l.tiled ? TIFFNumberOfTiles(f.tif) : TIFFNumberOfStrips(f.tif);
    std::uint64_t stored = 0;
    for (std::uint32_t i = 0; i < count; ++i) {
        int failed = 0;
        const std::uint64_t offset = TIFFGetStrileOffsetWithErr(f.tif, i, &failed);
        const std::uint64_t length = failed ? 0 : TIFFGetStrileByteCountWithErr(f.tif, i, &failed);
        if (failed) invalid(f, "the strip table is damaged");
        if (offset > f.memory.size || length > f.memory.size - offset)
            invalid(f,
                std::string(l.tiled ? "tile " : "strip ") + std::to_string(i)
                    + " lies past the end of the file");
        stored += length;
    }
    std::uint16_t compression = COMPRESSION_NONE;
    TIFFGetFieldDefaulted(f.tif, TIFFTAG_COMPRESSION, &compression);
    // Stored bytes: all of them uncompressed; PackBits, LZW and Deflate expand at most some
    // thousands to one. Other codings (JPEG, ZSTD, LZMA, fax) can hold a flat picture in
    // next to nothing, so no length is too short for them; the budget bounds those.
    const bool bounded = compression == COMPRESSION_PACKBITS || compression == COMPRESSION_LZW
        || compression == COMPRESSION_ADOBE_DEFLATE || compression == COMPRESSION_DEFLATE;
    const std::uint64_t needed = compression == COMPRESSION_NONE ? raw : bounded ? raw / 4096 : 0;
    if (stored < needed && !(compression == COMPRESSION_NONE && l.tiled))
        invalid(f,
            "the file is too short for " + std::to_string(l.width) + " x " + std::to_string(l.height)
                + " pixels");
    checkPixelBudget(l.width, l.height, limit);
}

} // namespace

PictureRef decodeTiff(std::span<const std::uint8_t> bytes, const PixelLimit& limit)
{
    TiffFile f;
    f.memory.data = bytes.data();
    f.memory.size = bytes.size();
    open(f, "rm");
    if (f.tif == nullptr) invalid(f, f.messages.error.empty() ? "unreadable header" : "");
    Layout l;
    l.width = field<std::uint32_t>(f.tif, TIFFTAG_IMAGEWIDTH, 0);
    l.height = field<std::uint32_t>(f.tif, TIFFTAG_IMAGELENGTH, 0);
    l.samples = field<std::uint16_t>(f.tif, TIFFTAG_SAMPLESPERPIXEL, 1);
    l.bits = field<std::uint16_t>(f.tif, TIFFTAG_BITSPERSAMPLE, 1);
    l.photometric = field<std::uint16_t>(f.tif, TIFFTAG_PHOTOMETRIC, 0xffff);
    l.tiled = TIFFIsTiled(f.tif) != 0;
    if (l.tiled) {
        l.tileWidth = field<std::uint32_t>(f.tif, TIFFTAG_TILEWIDTH, 0);
        l.tileHeight = field<std::uint32_t>(f.tif, TIFFTAG_TILELENGTH, 0);
    }
    const std::uint16_t planar = field<std::uint16_t>(f.tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    const std::uint16_t sampleFormat = field<std::uint16_t>(f.tif, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_UINT);
    const std::uint16_t compression = field<std::uint16_t>(f.tif, TIFFTAG_COMPRESSION, COMPRESSION_NONE);

    if (l.photometric == PHOTOMETRIC_SEPARATED)
        invalid(f, "CMYK pictures (print separations) are not supported; convert it to RGB first");
    const bool grey = l.photometric == PHOTOMETRIC_MINISBLACK || l.photometric == PHOTOMETRIC_MINISWHITE;
    const bool palette = l.photometric == PHOTOMETRIC_PALETTE;
    const bool rgb = l.photometric == PHOTOMETRIC_RGB;
    if (!(grey && (l.samples == 1 || l.samples == 2)) && !(rgb && (l.samples == 3 || l.samples == 4))
        && !(palette && l.samples == 1 && l.bits == 8))
        invalid(f,
            "only grey, RGB and 8-bit palette pictures are supported (photometric "
                + std::to_string(l.photometric) + ", " + std::to_string(l.samples) + " samples)");
    if ((l.bits != 8 && l.bits != 16) || sampleFormat != SAMPLEFORMAT_UINT)
        invalid(f, "only 8 and 16 bits per sample (unsigned) are supported, not " + std::to_string(l.bits));
    if (planar != PLANARCONFIG_CONTIG && l.samples > 1)
        invalid(f, "separate colour planes are not supported");
    if (!TIFFIsCODECConfigured(compression))
        invalid(f, "compression " + std::to_string(compression) + " is not supported");
    checkLayout(f, l, limit);

    const int bitsPerPixel = int(l.samples) * int(l.bits);
    PictureRef picture = Picture::create(int(l.width), int(l.height), bitsPerPixel, false);
    SampleFormat format;
    format.colours = rgb ? 3 : 1;
    format.alpha = l.samples == 2 || l.samples == 4;
    format.depth = l.bits;
    format.palette = palette;
    std::uint16_t *mapRed = nullptr, *mapGreen = nullptr, *mapBlue = nullptr;
    if (palette) {
        if (TIFFGetField(f.tif, TIFFTAG_COLORMAP, &mapRed, &mapGreen, &mapBlue) != 1)
            invalid(f, "the palette is missing");
        format.colours = 1;
        for (int i = 0; i < 256 && format.colours == 1; ++i)
            format.colours = mapRed[i] == mapGreen[i] && mapGreen[i] == mapBlue[i] ? 1 : 3;
    }
    picture->setSampleFormat(format);

    // One decoded strip or tile at a time, its rows copied into place.
    const std::size_t chunk = std::size_t(l.tiled ? TIFFTileSize(f.tif) : TIFFStripSize(f.tif));
    if (chunk == 0) invalid(f, "");
    std::vector<std::uint8_t> buffer = allocateElements<std::uint8_t>(chunk, 1);
    const std::size_t pixelBytes = l.bytesPerPixel();
    const std::uint16_t maxValue = l.bits == 16 ? 0xffff : 0xff;
    const bool invert = l.photometric == PHOTOMETRIC_MINISWHITE;
    // Copies `count` pixels of file row `y` from `src`, starting at column x0.
    const auto put = [&](std::uint32_t y, std::uint32_t x0, std::uint32_t count, const std::uint8_t* src) {
        const std::size_t stored = std::size_t(picture->storedRow(int(y)));
        std::uint8_t* bgr = picture->bits() + stored * picture->stride();
        for (std::uint32_t i = 0; i < count; ++i, src += pixelBytes) {
            const std::size_t x = x0 + i;
            std::uint16_t v[4];
            for (int s = 0; s < l.samples; ++s) {
                std::uint16_t value = l.bits == 16 ? reinterpret_cast<const std::uint16_t*>(src)[s] : src[s];
                if (invert && s == 0) value = std::uint16_t(maxValue - value);
                v[s] = value;
            }
            if (palette) {
                const std::uint16_t r = mapRed[v[0]], g = mapGreen[v[0]], b = mapBlue[v[0]];
                bgr[3 * x] = reduceTo8(b), bgr[3 * x + 1] = reduceTo8(g), bgr[3 * x + 2] = reduceTo8(r);
                continue;
            }
            if (l.bits == 16) {
                std::uint16_t* out = picture->samples16() + (stored * l.width + x) * l.samples;
                std::copy(v, v + l.samples, out);
                continue;
            }
            if (rgb)
                bgr[3 * x] = std::uint8_t(v[2]), bgr[3 * x + 1] = std::uint8_t(v[1]),
                        bgr[3 * x + 2] = std::uint8_t(v[0]);
            else
                bgr[3 * x] = bgr[3 * x + 1] = bgr[3 * x + 2] = std::uint8_t(v[0]);
            if (format.alpha) picture->alpha8()[stored * l.width + x] = std::uint8_t(v[l.samples - 1]);
        }
    };
    if (l.tiled) {
        for (std::uint32_t ty = 0; ty < l.height; ty += l.tileHeight)
            for (std::uint32_t tx = 0; tx < l.width; tx += l.tileWidth) {
                const ttile_t tile = TIFFComputeTile(f.tif, tx, ty, 0, 0);
                if (TIFFReadEncodedTile(f.tif, tile, buffer.data(), tmsize_t(chunk)) < 0)
                    invalid(f, "damaged data");
                const std::uint32_t rows = std::min(l.tileHeight, l.height - ty);
                const std::uint32_t columns = std::min(l.tileWidth, l.width - tx);
                for (std::uint32_t r = 0; r < rows; ++r)
                    put(ty + r, tx, columns, buffer.data() + std::size_t(r) * l.tileWidth * pixelBytes);
            }
    } else {
        // Zero rows per strip would never move on: it reads as one strip for the picture.
        std::uint32_t rowsPerStrip
            = std::min(field<std::uint32_t>(f.tif, TIFFTAG_ROWSPERSTRIP, l.height), l.height);
        if (rowsPerStrip == 0) rowsPerStrip = l.height;
        const std::size_t rowBytes = std::size_t(l.width) * pixelBytes;
        for (std::uint32_t y0 = 0, strip = 0; y0 < l.height; y0 += rowsPerStrip, ++strip) {
            const std::uint32_t rows = std::min(rowsPerStrip, l.height - y0);
            const tmsize_t got = TIFFReadEncodedStrip(f.tif, strip, buffer.data(), tmsize_t(chunk));
            if (got < 0 || std::size_t(got) < rows * rowBytes) invalid(f, "damaged data");
            for (std::uint32_t r = 0; r < rows; ++r)
                put(y0 + r, 0, l.width, buffer.data() + r * rowBytes);
        }
    }
    if (l.bits == 16) picture->refreshFromSamples16();
    if (palette && format.colours == 1) { // a grey palette: grey is in every byte already
    }
    readMetadata(f, *picture);
    // Only the first page is a picture to us; say so rather than lose the others unseen.
    if (const tdir_t pages = TIFFNumberOfDirectories(f.tif); pages > 1)
        picture->source().notes.push_back("TIFF: only the first of its " + std::to_string(pages)
            + " pages is read; the other " + std::to_string(pages - 1) + " are left out");
    picture->source().known = true;
    picture->source().format = ImageFormat::Tiff;
    return picture;
}

std::vector<std::string> tiffDrops(const Metadata& m)
{
    std::vector<std::string> lost;
    bool camera = false;
    for (const ExifEntry& e : readExifDirectory(m.exif))
        camera = camera || !isTiffDescriptiveTag(e.tag);
    if (camera) lost.push_back("EXIF camera and GPS fields (a TIFF keeps the descriptive tags only)");
    if (!m.text.empty()) lost.push_back("text entries");
    return lost;
}

std::vector<std::uint8_t> encodeTiff(const Picture& picture)
{
    const SampleFormat& format = picture.sampleFormat();
    const std::uint32_t w = std::uint32_t(picture.width()), h = std::uint32_t(picture.height());
    const int channels = format.channels();
    std::vector<std::uint8_t> out;
    TiffFile f;
    f.memory.out = &out;
    open(f, "w");
    if (f.tif == nullptr) throw Error(err::OutOfMemory, "Cannot write TIFF: " + f.messages.error);
    TIFF* tif = f.tif;
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, w);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, h);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, std::uint16_t(format.depth));
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, std::uint16_t(channels));
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, format.colours == 1 ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_RGB);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    // Deflate with the horizontal predictor: lossless, and small for photographs.
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
    TIFFSetField(tif, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tif, 0));
    if (format.alpha) {
        const std::uint16_t extra[] = {EXTRASAMPLE_UNASSALPHA};
        TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, extra);
    }
    const Metadata& m = picture.metadata();
    if (!m.icc.empty()) TIFFSetField(tif, TIFFTAG_ICCPROFILE, std::uint32_t(m.icc.size()), m.icc.data());
    if (!m.xmp.empty()) TIFFSetField(tif, TIFFTAG_XMLPACKET, std::uint32_t(m.xmp.size()), m.xmp.data());
    if (!m.iptc.empty()) {
        // libtiff keeps this tag as four-byte units; the records are padded to fill them.
        const TIFFField* fi = TIFFFieldWithTag(tif, TIFFTAG_RICHTIFFIPTC);
        std::vector<std::uint8_t> iptc = m.iptc;
        std::uint32_t count = std::uint32_t(iptc.size());
        if (fi != nullptr && TIFFFieldDataType(fi) == TIFF_LONG) {
            iptc.resize((iptc.size() + 3) / 4 * 4);
            count = std::uint32_t(iptc.size() / 4);
        }
        TIFFSetField(tif, TIFFTAG_RICHTIFFIPTC, count, iptc.data());
    }
    for (const ExifEntry& e : readExifDirectory(m.exif)) {
        if (!isTiffDescriptiveTag(e.tag)) continue;
        if (e.tag == exif::Orientation) {
            if (e.number && *e.number >= 1 && *e.number <= 8)
                TIFFSetField(tif, TIFFTAG_ORIENTATION, std::uint16_t(*e.number));
        } else if (!e.number) {
            TIFFSetField(tif, e.tag, e.text.c_str());
        }
    }
    const std::size_t rowSamples = std::size_t(w) * std::size_t(channels);
    // Rows are copied out: the predictor turns the row it is given into differences in place.
    std::vector<std::uint8_t> row8(format.depth == 8 ? rowSamples : 0);
    std::vector<std::uint16_t> row16(format.depth == 16 ? rowSamples : 0);
    for (std::uint32_t y = 0; y < h; ++y) {
        const std::size_t stored = std::size_t(picture.storedRow(int(y)));
        void* data = nullptr;
        if (format.depth == 16) {
            const std::uint16_t* samples = picture.samples16() + stored * rowSamples;
            std::copy(samples, samples + rowSamples, row16.begin());
            data = row16.data();
        } else {
            const std::uint8_t* bgr = picture.bits() + stored * picture.stride();
            const std::uint8_t* alpha = picture.alpha8() ? picture.alpha8() + stored * w : nullptr;
            std::size_t k = 0;
            for (std::uint32_t x = 0; x < w; ++x) {
                if (format.colours == 1) {
                    row8[k++] = bgr[3 * x];
                } else {
                    row8[k++] = bgr[3 * x + 2];
                    row8[k++] = bgr[3 * x + 1];
                    row8[k++] = bgr[3 * x];
                }
                if (format.alpha) row8[k++] = alpha ? alpha[x] : 255;
            }
            data = row8.data();
        }
        if (TIFFWriteScanline(tif, data, y, 0) < 0)
            throw Error(err::DeviceIo, "Cannot write TIFF: " + f.messages.error);
    }
    if (TIFFWriteDirectory(tif) != 1) throw Error(err::DeviceIo, "Cannot write TIFF: " + f.messages.error);
    TIFFClose(tif);
    f.tif = nullptr;
    return out;
}

} // namespace pelinor
