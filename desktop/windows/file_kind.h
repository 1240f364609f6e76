// What an existing file holds, told from its first bytes, for the questions asked before
// a file is replaced: a picture is replaced by a save and a watermark file by a generation
// without asking, anything else only on a Yes.
#pragma once

#include <QString>

namespace pelinor {

enum class FileKind {
    None, // nothing there, or a folder (which the writer refuses by itself)
    Picture, // starts as a picture file the program reads
    Watermark, // starts with a watermark file's tag line
    Other, // anything else: another file, an empty one, or one that cannot be read
};

// Reads a few bytes at most, whatever the file's size; never blocks on a FIFO or a device.
FileKind existingFileKind(const QString& path);

} // namespace pelinor
