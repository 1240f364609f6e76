#include "image/image_io.h"
#include "obrada/error.h"

namespace pelinor {

PictureRef decodeBmp(std::span<const std::uint8_t>) { throw Error(err::InvalidCall, "not implemented yet"); }
std::vector<std::uint8_t> encodeBmp(const Picture&) { throw Error(err::InvalidCall, "not implemented yet"); }

}  // namespace pelinor
