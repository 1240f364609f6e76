// Selection of the significant DCT coefficients.
#pragma once

#include "obrada/array2d.h"

#include <cmath>
#include <cstddef>

namespace pelinor {

// Threshold for the count n: the (n + 1)-th largest-magnitude candidate (u >= 1, v >= 1),
// carrying its sign. n < 0 is error 9.
double OdrediPrag(const Plane& coeffs, int n);

// The selection scan shared by embedding and detection: u = 1.. outer, v = 1.. inner,
// significant when |C(u, v)| > |threshold| (strictly). Calls f(u, v, i) with i = 0, 1, ...
// in that order. Returns the number of significant coefficients.
template <class F> long long forEachSignificant(const Plane& coeffs, double threshold, F&& f)
{
    const double t = std::fabs(threshold);
    const int n1 = coeffs.n1();
    const int n2 = coeffs.n2();
    const double* data = coeffs.data();
    long long i = 0;
    for (int u = 1; u < n1; ++u) {
        const double* row = data + std::size_t(u) * std::size_t(n2); // memory runs along v
        for (int v = 1; v < n2; ++v) {
            if (std::fabs(row[v]) > t) f(u, v, i++);
        }
    }
    return i;
}

} // namespace pelinor
