// Reading the command line's input files, with errors that name the file.
#pragma once

#include "cli/commands.h"
#include "image/image_io.h"
#include "image/picture.h"
#include "watermark/watermark_file.h"

#include <string>
#include <vector>

namespace pelinor::cli {

// True when both paths name an existing file and it is the same one: the same device and
// inode once symbolic links are followed, so a link or a second hard link counts too.
bool sameFile(const std::string& a, const std::string& b);
// Refuses (FileError naming the output) an output that is the same file as one of the
// inputs, before anything is read or written. An output that does not exist yet is none.
void refuseReplacingInput(const std::string& output, const std::vector<std::string>& inputs);

class ParsedArgs;

// The memory budget of every command that reads pictures, as a number of pixels: a larger
// picture is refused from its header, before anything is decoded.
inline constexpr Option kMaxPixelsOption{"--max-pixels", "N",
    "refuse pictures of more than N pixels before decoding them (default\n150000000, which "
    "needs some 3 GB); the jobs share it",
    nullptr, {1, 1e12, double(kDefaultMaxPixels)}};
std::int64_t maxPixels(const ParsedArgs& a);
// --min-psnr DB, the quality floor of embed and evaluate: 0 (none) or 10..100, 40 by default.
double minPsnr(const ParsedArgs& a);

// Throws FileError naming `path` and the reason; a picture over the budget is told how to
// raise it.
PictureRef loadPictureFile(const std::string& path, const PixelLimit& limit);
// The core's 24-bit refusal as a FileError for `path`, with the depth found.
void require24Bit(const std::string& path, const Picture& picture);
Watermark readWatermarkFile(const std::string& path);

// ASCII letters in lower case.
std::string lowerCase(std::string text);
// The extension a batch writes for `input`: "." + `format` when one is given, else the
// input's own when it is one the tool writes, else ".bmp".
std::string outputExtension(const std::string& input, const std::string& format);

// The output options the writing commands share (embed, attack), read by saveOptions.
inline constexpr Option kQualityOption{"--quality", "Q|same",
    "JPEG quality 1..100 (default 90), or 'same': the input JPEG's own,\nestimated from its quantisation "
    "tables; for .webp, lossy at Q\n(without it WebP is written lossless)",
    nullptr, {1, 100, 90}};
inline constexpr Option kSubsamplingOption{"--subsampling", "S",
    "JPEG chroma subsampling 444, 422 or 420 (default: the input JPEG's,\notherwise 420)"};
SaveOptions saveOptions(const ParsedArgs& a);

// Notes on stderr ("pelinor-cli COMMAND: ..."): what reading `input` left out, and a
// palette expanded for marking.
void noteInput(const char* command, const std::string& input, const Picture& picture);
// Warns on stderr naming everything `output`'s format cannot hold of `picture`.
void warnLosses(const char* command, const std::string& output, const Picture& picture);
// Warns on stderr of what replacing `output` could not keep (its owner, group or mode).
void warnReplaced(const char* command, const std::string& output, const WriteNotes& notes);
// Saves with the options, after the warnings on what the format cannot hold; then warns of
// what the file replaced could not keep.
void savePictureFile(
    const char* command, const std::string& output, const Picture& picture, const SaveOptions& options);

} // namespace pelinor::cli
