// A process-wide cache of FFTW plans for the whole-plane cosine transforms.
#pragma once

#include <fftw3.h>

#include <memory>
#include <type_traits>

namespace pelinor {

using SharedPlan = std::shared_ptr<std::remove_pointer_t<fftw_plan>>;

enum class CosineKind {
    Forward,  // REDFT10 (DCT-II), out of place
    Inverse,  // REDFT01 (DCT-III), in place
};

// Returns a plan for an n1 x n2 row-major array (n1 = slowest dimension). FFTW's
// planner is not thread-safe, so planning and destroying plans happen behind one
// mutex; executing a plan with fftw_execute_r2r may run concurrently. Plans are kept
// per size (a few recent sizes only); a plan dropped from the cache stays valid while
// a caller still holds it. `aligned` says whether the arrays it will run on have
// FFTW's preferred alignment; otherwise an FFTW_UNALIGNED plan is returned.
// Throws error 7 if FFTW cannot make the plan.
SharedPlan cosinePlan(int n1, int n2, CosineKind kind, bool aligned);

// True when FFTW may use its SIMD code on the array at p.
inline bool fftwAligned(const double* p) noexcept
{
    return fftw_alignment_of(const_cast<double*>(p)) == 0;
}

}  // namespace pelinor
