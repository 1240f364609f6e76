#include "watermark/generator.h"

#include "base/atomic_file.h"
#include "base/error.h"
#include "watermark/watermark_file.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <new>
#include <sys/random.h>

namespace pelinor {

namespace {

// Whatever is generated can be read back: a value line takes at most 24 bytes.
static_assert(std::size_t(kMaxWatermarkLength) * 24 + 256 < kMaxWatermarkFileBytes);

std::mt19937 seededGenerator(std::int32_t seed)
{
    if (seed != 0) return std::mt19937(static_cast<std::uint32_t>(seed));
    // Not the clock: two generations within one tick must still differ.
    try {
        std::random_device device;
        std::seed_seq sequence{
            device(), device(), device(), device(), device(), device(), device(), device()};
        return std::mt19937(sequence);
    } catch (const std::exception& e) {
        throw Error(
            err::DeviceIo, std::string("Device I/O error: no source of random seeds (") + e.what() + ")");
    }
}

double scaled(double x, double genVar, double genMean)
{
    const double value = x * genVar + genMean;
    if (!std::isfinite(value))
        throw Error(err::Overflow, "Overflow: the watermark mean and deviation give values out of range");
    return value;
}

void requireGeneratable(std::int32_t genSize)
{
    if (genSize > kMaxWatermarkLength)
        throw Error(err::OutOfMemory,
            "Out of memory: a watermark of " + std::to_string(genSize) + " values is too long (at most "
                + std::to_string(kMaxWatermarkLength) + ")");
}

// Calls sink(value) for `count` values of the pair procedure.
template <class Sink>
void generateValues(std::mt19937& generator, std::int32_t count, double genMean, double genVar, Sink&& sink)
{
    for (std::int32_t written = 0; written < count;) {
        const double u = pairComponent(uniformDraw(generator));
        const double v = pairComponent(uniformDraw(generator));
        double x1 = 0.0;
        double x2 = 0.0;
        if (!polarPair(u, v, x1, x2)) continue;
        sink(scaled(x1, genVar, genMean));
        // An odd length ends with the first value of one more pair.
        if (++written < count) {
            sink(scaled(x2, genVar, genMean));
            ++written;
        }
    }
}

} // namespace

KeySeed entropySeed()
{
    KeySeed seed{};
    auto* bytes = reinterpret_cast<unsigned char*>(seed.data());
    std::size_t got = 0;
    while (got < sizeof seed) {
        const ssize_t n = ::getrandom(bytes + got, sizeof seed - got, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0)
            throw Error(err::DeviceIo,
                std::string("Device I/O error: no entropy from the operating system (") + std::strerror(errno)
                    + ")");
        got += std::size_t(n);
    }
    return seed;
}

Watermark generateWatermark(
    const KeySeed& seed, std::int32_t length, double alpha, double mean, double deviation)
{
    requireGeneratable(length);
    std::seed_seq sequence(seed.begin(), seed.end());
    std::mt19937 generator(sequence);
    Watermark w;
    w.length = length;
    w.alpha = alpha;
    w.mean = mean;
    w.deviation = deviation;
    try {
        w.values.reserve(std::size_t(std::max(length, std::int32_t(0))));
        generateValues(generator, std::max(length, std::int32_t(0)), mean, deviation,
            [&](double v) { w.values.push_back(v); });
    } catch (const std::bad_alloc&) {
        throw Error(
            err::OutOfMemory, "Out of memory: generating " + std::to_string(length) + " watermark values");
    }
    return w;
}

float uniformDraw(std::mt19937& generator)
{
    return static_cast<float>(generator() >> 8) * 0x1p-24f;
}

double pairComponent(float r)
{
    const auto k = static_cast<std::int16_t>(std::floor(65536.0 * r - 32768.0));
    const int m = k & 0x7FFF;
    return (m / 32768.0) * 2.0 - 1.0;
}

bool polarPair(double u, double v, double& x1, double& x2)
{
    const double s = v * v + u * u;
    if (s == 0.0 || s >= 1.0) return false;
    // The natural logarithm, so the deviates have deviation 1 (base 10 would give 0.659).
    const double f = std::sqrt((-2.0 * std::log(s)) / s);
    x1 = f * u;
    x2 = f * v;
    return true;
}

WriteNotes CoxGenMark(const std::string& datZig, double genAlpha, std::int32_t genSize, std::int32_t genSeed,
    double genMean, double genVar)
{
    requireGeneratable(genSize);
    std::mt19937 generator = seededGenerator(genSeed);
    std::string text = formatWatermarkHeader(genSize, genAlpha, genMean, genVar);
    try {
        const std::int32_t count = std::max(genSize, std::int32_t(0));
        text.reserve(text.size() + static_cast<std::size_t>(count) * 20);
        generateValues(generator, count, genMean, genVar, [&](double v) { appendWatermarkValue(text, v); });
    } catch (const std::bad_alloc&) {
        throw Error(
            err::OutOfMemory, "Out of memory: generating " + std::to_string(genSize) + " watermark values");
    }
    return writeFileAtomic(datZig, text);
}

} // namespace pelinor
