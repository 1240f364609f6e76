#include "obrada/colour.h"

#include "obrada/parallel.h"

#include <array>
#include <bit>
#include <string>
#include <utility>

namespace pelinor {

namespace {

// Limits to 0..255 and rounds to nearest with ties to even, as std::nearbyint does under
// the default rounding mode. Adding 1.5 * 2^52 leaves the nearest whole number in the
// low bits of the sum (two's complement for negative values). The limits are applied
// to that whole number, which gives the same byte as limiting first (the limits are
// whole numbers and rounding keeps order), with conditional moves instead of branches.
inline std::uint8_t toByte(double v) noexcept
{
    constexpr double magic = 6755399441055744.0;
    int k = static_cast<std::int32_t>(static_cast<std::uint32_t>(std::bit_cast<std::uint64_t>(v + magic)));
    k = k < 0 ? 0 : k;
    k = k > 255 ? 255 : k;
    return static_cast<std::uint8_t>(k);
}

// Products of the colour-transform coefficients with every byte value. Each entry
// is the very double that the product gives when formed inline, so the sums taken
// from these tables, in the same order, equal the straightforward formulas bit for bit.
struct ForwardTables {
    std::array<double, 256> yR, yG, yB, cbR, cbG, cbB, crR, crG, crB;
    ForwardTables()
    {
        for (int k = 0; k < 256; ++k) {
            const double c = k;
            yR[k] = 0.299 * c;
            yG[k] = 0.587 * c;
            yB[k] = 0.114 * c;
            cbR[k] = -0.1687 * c;
            cbG[k] = 0.33126 * c;  // subtracted
            cbB[k] = 0.5 * c;
            crR[k] = 0.5 * c;
            crG[k] = 0.41869 * c;  // subtracted
            crB[k] = 0.08131 * c;  // subtracted
        }
    }
};

// Indexed by the stored chroma byte; the product is with (byte - 128).
struct InverseTables {
    std::array<double, 256> rCr, gCb, gCr, bCb;
    InverseTables()
    {
        for (int k = 0; k < 256; ++k) {
            const double c = k - 128;
            rCr[k] = 1.402 * c;
            gCb[k] = 0.34414 * c;  // subtracted
            gCr[k] = 0.71414 * c;  // subtracted
            bCb[k] = 1.772 * c;
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

void requireWholeTriples(int n1)
{
    if (n1 % 3 != 0)
        throw Error(err::SubscriptOutOfRange,
                    "Subscript out of range: first dimension " + std::to_string(n1) +
                        " does not hold whole pixels (three bytes each)");
}

}  // namespace

void PretvoriUYCbCr(const ByteView& pixels, ByteArray2D& planes)
{
    const int n1 = pixels.n1();
    const int n2 = pixels.n2();
    requireWholeTriples(n1);
    // Built aside and moved in at the end: `pixels` may be a view of `planes` itself,
    // and a failure leaves `planes` as it was.
    ByteArray2D out(n1, n2);
    const ForwardTables& t = forwardTables();
    std::uint8_t* const base = out.data();
    forRowsInParallel(n1 == 0 ? 0 : n2, n1, [&](long long first, long long last) {
        for (long long y = first; y < last; ++y) {
            const std::uint8_t* src = pixels.row(int(y));
            std::uint8_t* dst = base + std::size_t(y) * std::size_t(n1);
            for (int x = 0; x < n1; x += 3) {
                const int b = src[x], g = src[x + 1], r = src[x + 2];
                const double yy = (t.yR[r] + t.yG[g]) + t.yB[b];
                const double cb = ((t.cbR[r] - t.cbG[g]) + t.cbB[b]) + 128.0;
                const double cr = ((t.crR[r] - t.crG[g]) - t.crB[b]) + 128.0;
                dst[x] = toByte(yy);
                dst[x + 1] = toByte(cb);
                dst[x + 2] = toByte(cr);
            }
        }
    });
    planes = std::move(out);
}

void PretvoriURGB(const ByteArray2D& planes, const ByteView& pixels)
{
    const int n1 = planes.n1();
    const int n2 = planes.n2();
    requireWholeTriples(n1);
    if (pixels.n1() < n1 || pixels.n2() < n2)
        throw Error(err::SubscriptOutOfRange,
                    "Subscript out of range: destination " + std::to_string(pixels.n1()) + " x " +
                        std::to_string(pixels.n2()) + " is smaller than the colour planes " +
                        std::to_string(n1) + " x " + std::to_string(n2));
    const InverseTables& t = inverseTables();
    forRowsInParallel(n1 == 0 ? 0 : n2, n1, [&](long long first, long long last) {
        for (long long y = first; y < last; ++y) {
            const std::uint8_t* src = planes.data() + std::size_t(y) * std::size_t(n1);
            std::uint8_t* dst = pixels.row(int(y));
            for (int x = 0; x < n1; x += 3) {
                const double yy = src[x];
                const int cb = src[x + 1], cr = src[x + 2];
                const double r = t.rCr[cr] + yy;
                const double g = (yy - t.gCb[cb]) - t.gCr[cr];
                const double b = t.bCb[cb] + yy;
                dst[x] = toByte(b);
                dst[x + 1] = toByte(g);
                dst[x + 2] = toByte(r);
            }
        }
    });
}

}  // namespace pelinor
