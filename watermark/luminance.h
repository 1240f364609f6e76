// The luminance plane of a picture of any depth, as embedding and detection transform it.
#pragma once

#include "image/picture.h"
#include "obrada/array2d.h"

namespace pelinor {

// Which pictures an operation takes: the desktop program's 24-bit pictures only, or
// every kind the codecs read (grey, with alpha, 16 bits per sample).
enum class Depths { Only24Bit, Any };

// True when a picture is marked through its 24-bit memory (8-bit colour, any alpha).
bool marksThroughColourMemory(const Picture& picture) noexcept;

// luminanceInto for a picture of any depth that is marked through its 24-bit memory.
void colourLuminanceInto(const Picture& picture, Plane& lum);

// The luminance minus its mid-value (128, or 32768 for 16-bit samples) of a picture
// that is not marked through its colour memory, into `lum` (sized to the picture).
// A 16-bit colour picture whose samples all have zero low bytes holds no more than its
// 8-bit twin, and its luminance is exactly 256 times the twin's, so both detect alike.
void deepLuminanceInto(const Picture& picture, Plane& lum);

// The luminance of a 24-bit picture minus 128, as the plane the DCT takes: L(x, y) is the
// luminance byte of pixel x in row y counted from the bottom of the image, as PretvoriUYCbCr
// gives it, minus 128. That is the stored order of an ordinary bottom-up bitmap; a picture
// stored top-down gives the same plane, so the storage order of an original, its marked copy
// and a suspect never matters.
Plane luminancePlane(const Picture& picture);
// The same into `lum`, reusing its memory when it already has the picture's size.
void luminanceInto(const Picture& picture, Plane& lum);

// The luminance of a picture of any kind into `lum`, through whichever of the readers
// above fits it. Returns the luminance scale: 255, or 65535 for 16-bit samples.
double anyLuminanceInto(const Picture& picture, Plane& lum);

} // namespace pelinor
