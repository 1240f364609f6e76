#include "obrada/colour.h"

namespace pelinor {

void PretvoriUYCbCr(const ByteView&, ByteArray2D&) { throw Error(err::InvalidCall, "not implemented yet"); }
void PretvoriURGB(const ByteArray2D&, const ByteView&) { throw Error(err::InvalidCall, "not implemented yet"); }

}  // namespace pelinor
