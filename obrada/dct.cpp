#include "obrada/dct.h"

#include <cmath>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "obrada/fftw_plans.h"
#include "obrada/parallel.h"

namespace pelinor {

namespace {

// Per-dimension factors that turn FFTW's unnormalised transforms into the orthonormal
// pair with a(0) = sqrt(1/N), a(k) = sqrt(2/N).
//
// REDFT10 gives 2 * sum x_j cos(pi (j + 1/2) k / N), twice the plain sum, so the
// forward factor is a(k) / 2: sqrt(1/(4N)) for k = 0 and sqrt(1/(2N)) otherwise.
// REDFT01 gives X_0 + 2 * sum_{j>=1} X_j cos(pi j (k + 1/2) / N), so the inverse
// pre-scales by a(0) = sqrt(1/N) for k = 0 and a(k) / 2 = sqrt(1/(2N)) otherwise.
std::vector<double> dimensionFactors(int n, bool forward)
{
    std::vector<double> f;
    try {
        f.assign(std::size_t(n), std::sqrt(1.0 / (2.0 * n)));
    } catch (const std::bad_alloc&) {
        throw Error(err::OutOfMemory, "Out of memory: cannot allocate " + std::to_string(n) + " factors");
    }
    f[0] = forward ? std::sqrt(1.0 / (4.0 * n)) : std::sqrt(1.0 / n);
    return f;
}

// m(i, j) *= f1[i] * f2[j], reading from `src` (may equal `dst`).
void scaleInto(const double* src, double* dst, int n1, int n2, const std::vector<double>& f1,
               const std::vector<double>& f2)
{
    const double* g = f2.data();
    forRowsInParallel(n1, n2, [&](long long first, long long last) {
        for (long long i = first; i < last; ++i) {
            const double a = f1[std::size_t(i)];
            const std::size_t row = std::size_t(i) * std::size_t(n2);
            const double* s = src + row;
            double* d = dst + row;
            for (int j = 0; j < n2; ++j) d[j] = s[j] * (a * g[j]);
        }
    });
}

void forwardInto(const Plane& plane, Plane& coeffs)
{
    const int n1 = plane.n1();
    const int n2 = plane.n2();
    // Every element is overwritten, so a matrix of the right size is reused as it is.
    if (coeffs.n1() != n1 || coeffs.n2() != n2) coeffs.resize(n1, n2);
    if (plane.empty()) return;
    double* in = const_cast<double*>(plane.data());  // an out-of-place REDFT10 keeps its input
    double* out = coeffs.data();
    const SharedPlan plan = cosinePlan(n1, n2, CosineKind::Forward, fftwAligned(in) && fftwAligned(out));
    fftw_execute_r2r(plan.get(), in, out);
    scaleInto(out, out, n1, n2, dimensionFactors(n1, true), dimensionFactors(n2, true));
}

}  // namespace

void DirektniDCT(const Plane& plane, Plane& coeffs)
{
    if (&plane == &coeffs) {
        Plane out;
        forwardInto(plane, out);
        coeffs = std::move(out);
    } else {
        forwardInto(plane, coeffs);
    }
}

void InverzniDCT(const Plane& coeffs, Plane& plane)
{
    const int n1 = plane.n1();
    const int n2 = plane.n2();
    if (coeffs.n1() != n1 || coeffs.n2() != n2)
        throw Error(err::SubscriptOutOfRange,
                    "Subscript out of range: output plane " + std::to_string(n1) + " x " + std::to_string(n2) +
                        " differs from the coefficient matrix " + std::to_string(coeffs.n1()) + " x " +
                        std::to_string(coeffs.n2()));
    if (plane.empty()) return;
    const std::vector<double> f1 = dimensionFactors(n1, false);
    const std::vector<double> f2 = dimensionFactors(n2, false);
    const SharedPlan plan = cosinePlan(n1, n2, CosineKind::Inverse, fftwAligned(plane.data()));
    // Pre-scale into the output, then transform it in place.
    scaleInto(coeffs.data(), plane.data(), n1, n2, f1, f2);
    fftw_execute_r2r(plan.get(), plane.data(), plane.data());
}

}  // namespace pelinor
