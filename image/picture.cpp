#include "image/picture.h"
#include "obrada/error.h"

namespace pelinor {

std::shared_ptr<Picture> Picture::create(int, int, int, bool) { throw Error(err::InvalidCall, "not implemented yet"); }
std::shared_ptr<Picture> Picture::clone() const { throw Error(err::InvalidCall, "not implemented yet"); }
BitmapRecord queryBitmap(Picture*) noexcept { return {}; }
bool is24Bit(const Picture*) noexcept { return false; }
ByteView openView(const Picture&) { throw Error(err::InvalidCall, "not implemented yet"); }

}  // namespace pelinor
