#include "watermark/generator.h"
#include "obrada/error.h"

namespace pelinor {

void CoxGenMark(const std::string&, double, std::int32_t, std::int32_t, double, double) { throw Error(err::InvalidCall, "not implemented yet"); }

}  // namespace pelinor
