#include "watermark/detect.h"
#include "obrada/error.h"

namespace pelinor {

Analysis analysePicture(const Picture&) { throw Error(err::InvalidCall, "not implemented yet"); }
DetectResult correlate(const Analysis&, const Watermark&, const Analysis&, double) { throw Error(err::InvalidCall, "not implemented yet"); }
DetectResult detectWatermark(const Picture&, const Watermark&, const Picture&, double) { throw Error(err::InvalidCall, "not implemented yet"); }

}  // namespace pelinor
