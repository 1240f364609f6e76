// Reading the command line's input files, with errors that name the file.
#pragma once

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

// Throws FileError naming `path` and the reason.
PictureRef loadPictureFile(const std::string& path);
// The core's 24-bit refusal as a FileError for `path`, with the depth found.
void require24Bit(const std::string& path, const Picture& picture);
Watermark readWatermarkFile(const std::string& path);

} // namespace pelinor::cli
