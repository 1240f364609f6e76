// Orthonormal whole-plane 2-D DCT-II and its inverse.
#pragma once

#include "obrada/array2d.h"

namespace pelinor {

// Plane -> coefficient matrix; `coeffs` is re-dimensioned to the plane's size. `coeffs` may
// be `plane` itself (a transform in place, with the same results).
void DirektniDCT(const Plane& plane, Plane& coeffs);

// Coefficient matrix -> plane; `plane` must already have the matrix's size (else error 9).
// `plane` may be `coeffs` itself.
void InverzniDCT(const Plane& coeffs, Plane& plane);

} // namespace pelinor
