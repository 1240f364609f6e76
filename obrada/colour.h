// Colour conversion between pixel arrays (B, G, R bytes) and colour planes (Y, Cb, Cr bytes).
#pragma once

#include "obrada/array2d.h"

namespace pelinor {

// Pixels -> colour planes. `planes` is created anew with the bounds of `pixels`.
void PretvoriUYCbCr(const ConstByteView& pixels, ByteArray2D& planes);

// Colour planes -> pixels, written into the existing `pixels` (usually a view over a
// picture). A destination smaller than the source is error 9, raised before any write.
void PretvoriURGB(const ByteArray2D& planes, const ByteView& pixels);

} // namespace pelinor
