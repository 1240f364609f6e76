#include "obrada/colour.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "base/parallel.h"
#include "obrada/bytes.h"

namespace pelinor {

namespace {

// The vector code rounds as limitAndRound does: adding 1.5 * 2^52 leaves the nearest whole
// number, ties to even, in the low bits of the sum, and saturating packs then limit it to
// 0..255 (which gives the same byte as limiting first: the limits are whole numbers and
// rounding keeps order). The sums here are always finite and far inside that range.
constexpr double kRoundingMagic = 6755399441055744.0;

// Two doubles that the vector code loads at once.
struct alignas(16) Pair {
    double a;
    double b;
};
using PairTable = std::array<Pair, 256>;

// Products of the colour-transform coefficients with every byte value, laid out by
// output channel. Each entry is the very double that the product gives when formed
// inline, and a term the formulas subtract is stored negated (a - b and a + (-b) are
// the same IEEE operation), so the sums below, taken in the formulas' order, equal
// the straightforward formulas bit for bit.
struct ForwardTables {
    // Per input channel: (Y term, Cb term) and (Cr term, 0).
    PairTable rLo, rHi, gLo, gHi, bLo, bHi;
    ForwardTables()
    {
        for (int k = 0; k < 256; ++k) {
            const double c = k;
            rLo[k] = {0.299 * c, -0.1687 * c};
            rHi[k] = {0.5 * c, 0.0};
            gLo[k] = {0.587 * c, -(0.33126 * c)};
            gHi[k] = {-(0.41869 * c), 0.0};
            bLo[k] = {0.114 * c, 0.5 * c};
            bHi[k] = {-(0.08131 * c), 0.0};
        }
    }
};

// Indexed by the stored chroma byte; the product is with (byte - 128).
struct InverseTables {
    PairTable cbLo; // (blue term, green term)
    PairTable crLo; // (0, green term)
    PairTable crHi; // (red term, 0)
    InverseTables()
    {
        for (int k = 0; k < 256; ++k) {
            const double c = k - 128;
            cbLo[k] = {1.772 * c, -(0.34414 * c)};
            crLo[k] = {0.0, -(0.71414 * c)};
            crHi[k] = {1.402 * c, 0.0};
        }
    }
};

const ForwardTables& forwardTables()
{
    static const ForwardTables tables;
    return tables;
}

const InverseTables& inverseTables()
{
    static const InverseTables tables;
    return tables;
}

// One pixel each way, one double at a time.
inline void toPlanesScalar(const ForwardTables& t, const std::uint8_t* src, std::uint8_t* dst) noexcept
{
    const Pair &bl = t.bLo[src[0]], &gl = t.gLo[src[1]], &rl = t.rLo[src[2]];
    const double y = (rl.a + gl.a) + bl.a;
    const double cb = ((rl.b + gl.b) + bl.b) + 128.0;
    const double cr = ((t.rHi[src[2]].a + t.gHi[src[1]].a) + t.bHi[src[0]].a) + 128.0;
    dst[0] = limitAndRound(y);
    dst[1] = limitAndRound(cb);
    dst[2] = limitAndRound(cr);
}

inline void toPixelScalar(const InverseTables& t, const std::uint8_t* src, std::uint8_t* dst) noexcept
{
    const double y = src[0];
    const Pair& cb = t.cbLo[src[1]];
    const double b = y + cb.a;
    const double g = (y + cb.b) + t.crLo[src[2]].b;
    const double r = y + t.crHi[src[2]].a;
    dst[0] = limitAndRound(b);
    dst[1] = limitAndRound(g);
    dst[2] = limitAndRound(r);
}

#if defined(__SSE2__)
// The same operations on two lanes at a time. Returns the three bytes (lo.a, lo.b,
// hi.a) in the low bytes, limited by saturating packs (which is the 0..255 limit).
inline std::uint32_t packBytes(__m128d lo, __m128d hi) noexcept
{
    const __m128d magic = _mm_set1_pd(kRoundingMagic);
    lo = _mm_add_pd(lo, magic);
    hi = _mm_add_pd(hi, magic);
    __m128i w
        = _mm_castps_si128(_mm_shuffle_ps(_mm_castpd_ps(lo), _mm_castpd_ps(hi), _MM_SHUFFLE(2, 0, 2, 0)));
    w = _mm_packs_epi32(w, w);
    w = _mm_packus_epi16(w, w);
    return std::uint32_t(_mm_cvtsi128_si32(w));
}

inline __m128d load(const Pair& p) noexcept
{
    return _mm_load_pd(&p.a);
}

inline std::uint32_t toPlanesVector(const ForwardTables& t, const std::uint8_t* src) noexcept
{
    const int b = src[0], g = src[1], r = src[2];
    __m128d lo = _mm_add_pd(_mm_add_pd(load(t.rLo[r]), load(t.gLo[g])), load(t.bLo[b]));
    __m128d hi = _mm_add_pd(_mm_add_pd(load(t.rHi[r]), load(t.gHi[g])), load(t.bHi[b]));
    lo = _mm_add_pd(lo, _mm_set_pd(128.0, 0.0)); // Y gets + 0.0, which changes no byte
    hi = _mm_add_pd(hi, _mm_set_pd(0.0, 128.0));
    return packBytes(lo, hi);
}

inline std::uint32_t toPixelVector(const InverseTables& t, const std::uint8_t* src) noexcept
{
    const __m128d y = _mm_set1_pd(double(src[0]));
    const __m128d lo = _mm_add_pd(_mm_add_pd(y, load(t.cbLo[src[1]])), load(t.crLo[src[2]]));
    const __m128d hi = _mm_add_pd(_mm_unpacklo_pd(y, _mm_setzero_pd()), load(t.crHi[src[2]]));
    return packBytes(lo, hi);
}
#endif

// One row of pixels into planes; `dst` never overlaps `src`.
void rowToPlanes(const ForwardTables& t, const std::uint8_t* src, std::uint8_t* dst, int n1) noexcept
{
    int x = 0;
#if defined(__SSE2__)
    // Four bytes are stored at once; the fourth is the next pixel's, written after.
    for (; x + 3 < n1; x += 3) {
        const std::uint32_t w = toPlanesVector(t, src + x);
        std::memcpy(dst + x, &w, 4);
    }
#endif
    for (; x < n1; x += 3)
        toPlanesScalar(t, src + x, dst + x);
}

// One row of planes into pixels; `dst` may be `src` itself, so each pixel is read whole
// before it is written and nothing beyond it is touched.
void rowToPixels(const InverseTables& t, const std::uint8_t* src, std::uint8_t* dst, int n1) noexcept
{
    int x = 0;
#if defined(__SSE2__)
    for (; x + 3 < n1; x += 3) {
        const std::uint32_t w = toPixelVector(t, src + x);
        dst[x] = std::uint8_t(w);
        dst[x + 1] = std::uint8_t(w >> 8);
        dst[x + 2] = std::uint8_t(w >> 16);
    }
#endif
    for (; x < n1; x += 3)
        toPixelScalar(t, src + x, dst + x);
}

bool overlaps(const ConstByteView& view, const ByteArray2D& array)
{
    if (view.empty() || view.n1() == 0 || view.n2() == 0 || array.n1() == 0 || array.n2() == 0) return false;
    const auto viewFirst = reinterpret_cast<std::uintptr_t>(view.data());
    const auto viewEnd = viewFirst + std::size_t(view.n2() - 1) * view.stride() + std::size_t(view.n1());
    const auto arrayFirst = reinterpret_cast<std::uintptr_t>(array.data());
    const auto arrayEnd = arrayFirst + std::size_t(array.n1()) * std::size_t(array.n2());
    return viewFirst < arrayEnd && arrayFirst < viewEnd;
}

void requireWholeTriples(int n1)
{
    if (n1 % 3 != 0)
        throw Error(err::SubscriptOutOfRange,
            "Subscript out of range: first dimension " + std::to_string(n1)
                + " does not hold whole pixels (three bytes each)");
}

} // namespace

void PretvoriUYCbCr(const ConstByteView& pixels, ByteArray2D& planes)
{
    const int n1 = pixels.n1();
    const int n2 = pixels.n2();
    requireWholeTriples(n1);
    // Every element is overwritten, so planes of the right size are reused as they are
    // (this spares a fresh allocation's page faults, which cost as much as the
    // conversion). Otherwise, and when the pixels lie in the planes themselves, the
    // result is built aside and moved in, so a failure leaves `planes` as it was.
    const bool reuse = planes.n1() == n1 && planes.n2() == n2 && !overlaps(pixels, planes);
    ByteArray2D fresh;
    if (!reuse) fresh.resize(n1, n2);
    ByteArray2D& out = reuse ? planes : fresh;
    const ForwardTables& t = forwardTables();
    std::uint8_t* const base = out.data();
    forRowsInParallel(n1 == 0 ? 0 : n2, n1, [&](long long first, long long last) {
        for (long long y = first; y < last; ++y) {
            rowToPlanes(t, pixels.row(int(y)), base + std::size_t(y) * std::size_t(n1), n1);
        }
    });
    if (!reuse) planes = std::move(fresh);
}

void PretvoriURGB(const ByteArray2D& planes, const ByteView& pixels)
{
    const int n1 = planes.n1();
    const int n2 = planes.n2();
    requireWholeTriples(n1);
    if (pixels.n1() < n1 || pixels.n2() < n2)
        throw Error(err::SubscriptOutOfRange,
            "Subscript out of range: destination " + sizeText(pixels.n1(), pixels.n2())
                + " is smaller than the colour planes " + sizeText(n1, n2));
    const InverseTables& t = inverseTables();
    forRowsInParallel(n1 == 0 ? 0 : n2, n1, [&](long long first, long long last) {
        for (long long y = first; y < last; ++y) {
            rowToPixels(t, planes.data() + std::size_t(y) * std::size_t(n1), pixels.row(int(y)), n1);
        }
    });
}

} // namespace pelinor
