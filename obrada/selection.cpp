#include "obrada/selection.h"

namespace pelinor {

double OdrediPrag(const Plane&, int) { throw Error(err::InvalidCall, "not implemented yet"); }

}  // namespace pelinor
