#include "watermark/embed.h"
#include "obrada/error.h"

namespace pelinor {

EmbedResult embedWatermark(const Picture&, const Watermark&) { throw Error(err::InvalidCall, "not implemented yet"); }

}  // namespace pelinor
