#include "obrada/dct.h"

namespace pelinor {

void DirektniDCT(const Plane&, Plane&) { throw Error(err::InvalidCall, "not implemented yet"); }
void InverzniDCT(const Plane&, Plane&) { throw Error(err::InvalidCall, "not implemented yet"); }

}  // namespace pelinor
