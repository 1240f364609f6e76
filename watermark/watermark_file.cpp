#include "watermark/watermark_file.h"
#include "obrada/error.h"

namespace pelinor {

Watermark readWatermark(const std::string&) { throw Error(err::InvalidCall, "not implemented yet"); }
Watermark parseWatermark(std::string_view) { throw Error(err::InvalidCall, "not implemented yet"); }
std::string formatReal(double) { throw Error(err::InvalidCall, "not implemented yet"); }
std::string formatWatermark(const Watermark&) { throw Error(err::InvalidCall, "not implemented yet"); }
void writeWatermark(const std::string&, const Watermark&) { throw Error(err::InvalidCall, "not implemented yet"); }

}  // namespace pelinor
