#include "obrada/dct.h"

#include "base/parallel.h"
#include "obrada/fftw_plans.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <memory>
#include <new>
#include <string>
#include <vector>

namespace pelinor {

namespace {

// Rows per batched row transform, and columns per block of the column pass: 16 doubles
// are two cache lines of every row, and a block of a few thousand rows stays in L2.
constexpr int kBlock = 16;

// A rough cost of one n-point transform per row, for deciding on a second thread.
long long transformCost(int rows, int n)
{
    return (long long)(rows)*n * 8;
}

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

struct FftwFree {
    void operator()(double* p) const noexcept { fftw_free(p); }
};
using FftwBuffer = std::unique_ptr<double, FftwFree>;

// The transforms along the second (contiguous) index of an n1 x n2 array: batches of
// kBlock rows, from `in` to `out` (which may be the same array). With `staged`, `in` and
// `out` are the same array and each batch goes out of place into a small buffer per
// thread and is copied back: the same plan, and so the same results to the last bit, as
// between two arrays, without a second array. Plans are fetched on construction, so run()
// cannot fail.
class RowPass {
public:
    RowPass(const double* in, double* out, int n1, int n2, CosineKind kind, bool staged = false)
        : m_in(const_cast<double*>(in))
        , m_out(out)
        , m_n2(n2)
        , m_staged(staged)
    {
        m_rows = std::min(kBlock, n1);
        m_chunks = (n1 + m_rows - 1) / m_rows;
        // Chunks start an even number of elements apart (kBlock is even), so they all
        // share the alignment of the arrays' starts; the buffers are FFTW's own.
        const bool aligned = fftwAligned(in) && fftwAligned(out);
        const bool inPlace = in == out && !staged;
        m_full = cosinePlan({n2, m_rows, 1, n2, kind, inPlace, aligned});
        const int lastRows = n1 - (m_chunks - 1) * m_rows;
        m_lastRows = std::size_t(lastRows);
        m_last = lastRows == m_rows ? m_full : cosinePlan({n2, lastRows, 1, n2, kind, inPlace, aligned});
        if (!staged) return;
        const int buffers = worthASecondThread(m_chunks, transformCost(m_rows, m_n2)) ? 2 : 1;
        for (int t = 0; t < buffers; ++t) {
            m_buffers[t].reset(fftw_alloc_real(std::size_t(m_rows) * std::size_t(n2)));
            if (!m_buffers[t])
                throw Error(err::OutOfMemory,
                    "Out of memory: cannot allocate a transform buffer of " + sizeText(m_rows, n2));
        }
    }

    void run() const noexcept
    {
        forRowsInParallel(m_chunks, transformCost(m_rows, m_n2), [&](long long first, long long end) {
            // Only the call that starts at 0 may run without a second buffer.
            double* buffer = m_buffers[first == 0 ? 0 : 1].get();
            for (long long c = first; c < end; ++c) {
                const bool last = c == m_chunks - 1;
                const std::size_t offset = std::size_t(c) * std::size_t(m_rows) * std::size_t(m_n2);
                const fftw_plan plan = (last ? m_last : m_full).get();
                if (!m_staged) {
                    fftw_execute_r2r(plan, m_in + offset, m_out + offset);
                    continue;
                }
                fftw_execute_r2r(plan, m_in + offset, buffer);
                const std::size_t count = (last ? m_lastRows : std::size_t(m_rows)) * std::size_t(m_n2);
                std::copy(buffer, buffer + count, m_out + offset);
            }
        });
    }

private:
    double* m_in;
    double* m_out;
    int m_n2;
    bool m_staged;
    int m_rows;
    int m_chunks;
    std::size_t m_lastRows = 0;
    SharedPlan m_full, m_last;
    FftwBuffer m_buffers[2];
};

// The transforms along the first index (stride n2), with the orthonormal scaling
// f1[i] * f2[j] folded in. Blocks of kBlock columns are gathered into a small buffer per
// thread, transformed there where memory is close together, and scattered back; the
// inverse scales while gathering, the forward while scattering. An array at most kBlock
// wide is transformed where it lies. Reads `src`, writes `dst` (which may be the same).
class ColumnPass {
public:
    ColumnPass(const double* src, double* dst, int n1, int n2, CosineKind kind)
        : m_src(src)
        , m_dst(dst)
        , m_n1(n1)
        , m_n2(n2)
        , m_forward(kind == CosineKind::Forward)
        , m_f1(dimensionFactors(n1, m_forward))
        , m_f2(dimensionFactors(n2, m_forward))
    {
        m_width = std::min(kBlock, n2);
        m_blocks = (n2 + m_width - 1) / m_width;
        const int lastWidth = n2 - (m_blocks - 1) * m_width;
        if (m_blocks == 1) {
            m_full = cosinePlan({n1, n2, n2, 1, kind, true, fftwAligned(dst)});
            m_last = m_full;
            return;
        }
        m_full = cosinePlan({n1, m_width, m_width, 1, kind, true, true});
        m_last = lastWidth == m_width ? m_full : cosinePlan({n1, lastWidth, lastWidth, 1, kind, true, true});
        const int buffers = worthASecondThread(m_blocks, cost()) ? 2 : 1;
        for (int t = 0; t < buffers; ++t) {
            m_buffers[t].reset(fftw_alloc_real(std::size_t(n1) * std::size_t(m_width)));
            if (!m_buffers[t])
                throw Error(err::OutOfMemory,
                    "Out of memory: cannot allocate a transform buffer of " + sizeText(n1, m_width));
        }
    }

    void run() const noexcept
    {
        forRowsInParallel(m_blocks, cost(), [&](long long first, long long end) {
            // Only the call that starts at 0 may run without a second buffer.
            double* buffer = m_buffers[first == 0 ? 0 : 1].get();
            for (long long b = first; b < end; ++b) {
                const bool last = b == m_blocks - 1;
                const int j0 = int(b) * m_width;
                const int width = last ? m_n2 - j0 : m_width;
                if (m_blocks == 1)
                    runBlock(m_dst, m_n2, 0, width, m_full.get());
                else
                    runBlock(buffer, width, j0, width, (last ? m_last : m_full).get());
            }
        });
    }

private:
    long long cost() const { return transformCost(m_width, m_n1); }

    // Columns j0 .. j0 + width - 1 through `work`, whose row i starts at work + i * stride
    // (the array itself when stride is n2).
    void runBlock(double* work, int stride, int j0, int width, fftw_plan plan) const noexcept
    {
        const double* g = m_f2.data() + j0;
        const std::size_t n2 = std::size_t(m_n2);
        for (int i = 0; i < m_n1; ++i) {
            const double* from = m_src + std::size_t(i) * n2 + std::size_t(j0);
            double* to = work + std::size_t(i) * std::size_t(stride);
            if (!m_forward) {
                const double a = m_f1[std::size_t(i)];
                for (int c = 0; c < width; ++c)
                    to[c] = from[c] * (a * g[c]);
            } else if (from != to) {
                std::copy(from, from + width, to);
            }
        }
        fftw_execute_r2r(plan, work, work);
        for (int i = 0; i < m_n1; ++i) {
            const double* from = work + std::size_t(i) * std::size_t(stride);
            double* to = m_dst + std::size_t(i) * n2 + std::size_t(j0);
            if (m_forward) {
                const double a = m_f1[std::size_t(i)];
                for (int c = 0; c < width; ++c)
                    to[c] = from[c] * (a * g[c]);
            } else if (from != to) {
                std::copy(from, from + width, to);
            }
        }
    }

    const double* m_src;
    double* m_dst;
    int m_n1;
    int m_n2;
    bool m_forward;
    std::vector<double> m_f1, m_f2;
    int m_width;
    int m_blocks;
    SharedPlan m_full, m_last;
    FftwBuffer m_buffers[2];
};

} // namespace

// Both directions split the 2-D transform into its two 1-D passes, so that no pass walks
// the long stride of the array with FFTW's generic code; the forward runs the rows first,
// the inverse the columns first, so the scaling always lands in a copy. Either may run in
// place (the same array given twice), with the same results as between two arrays.
void DirektniDCT(const Plane& plane, Plane& coeffs)
{
    const int n1 = plane.n1();
    const int n2 = plane.n2();
    // Every element is overwritten, so a matrix of the right size (or the plane itself) is reused.
    if (coeffs.n1() != n1 || coeffs.n2() != n2) coeffs.resize(n1, n2);
    if (plane.empty()) return;
    const bool inPlace = &plane == &coeffs;
    const RowPass rows(plane.data(), coeffs.data(), n1, n2, CosineKind::Forward, inPlace);
    const ColumnPass columns(coeffs.data(), coeffs.data(), n1, n2, CosineKind::Forward);
    rows.run();
    columns.run();
}

void InverzniDCT(const Plane& coeffs, Plane& plane)
{
    const int n1 = plane.n1();
    const int n2 = plane.n2();
    if (coeffs.n1() != n1 || coeffs.n2() != n2)
        throw Error(err::SubscriptOutOfRange,
            "Subscript out of range: output plane " + sizeText(n1, n2)
                + " differs from the coefficient matrix " + sizeText(coeffs.n1(), coeffs.n2()));
    if (plane.empty()) return;
    const ColumnPass columns(coeffs.data(), plane.data(), n1, n2, CosineKind::Inverse);
    const RowPass rows(plane.data(), plane.data(), n1, n2, CosineKind::Inverse);
    columns.run();
    rows.run();
}

} // namespace pelinor
