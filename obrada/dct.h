// Orthonormal whole-plane 2-D DCT-II and its inverse.
#pragma once

#include "obrada/array2d.h"

namespace pelinor {

// Plane -> coefficient matrix; `coeffs` is re-dimensioned to the plane's size.
void DirektniDCT(const Plane& plane, Plane& coeffs);

// Coefficient matrix -> plane; `plane` must already have the matrix's size (else error 9).
void InverzniDCT(const Plane& coeffs, Plane& plane);

} // namespace pelinor
