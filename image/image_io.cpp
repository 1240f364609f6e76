#include "image/image_io.h"
#include "obrada/error.h"

namespace pelinor {

PictureRef loadPicture(const std::string&) { throw Error(err::InvalidCall, "not implemented yet"); }
PictureRef decodePicture(std::span<const std::uint8_t>) { throw Error(err::InvalidCall, "not implemented yet"); }
void savePicture(const Picture&, const std::string&, int) { throw Error(err::InvalidCall, "not implemented yet"); }
ImageFormat formatForPath(const std::string&) { return ImageFormat::Bmp; }
std::vector<std::uint8_t> encodePicture(const Picture&, ImageFormat, int) { throw Error(err::InvalidCall, "not implemented yet"); }

}  // namespace pelinor
