// What the catalogue records of an original picture file.
#pragma once

#include "catalogue/catalogue.h"
#include "image/picture.h"

#include <string>

namespace pelinor {

// The record of the file at `path`, whose decoded picture is `picture`: its SHA-256, size,
// format, dimensions and fingerprint (the id and date are the catalogue's to set).
// `path` made absolute: the catalogue is read from other folders than it was written from.
std::string absolutePath(const std::string& path);

OriginalRecord describeOriginal(const std::string& path, const Picture& picture);

} // namespace pelinor
