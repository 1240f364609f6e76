#include "cli/args.h"
#include "cli/commands.h"
#include "cli/io.h"
#include "watermark/detector.h"
#include "watermark/evidence.h"
#include "watermark/generator.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <limits>

namespace pelinor::cli {

namespace {

// The similarity of an untouched marked copy, about what embedding and detection give.
constexpr double kUntouchedSimilarity = 0.99;

const Option kLength{"--length", "N", "number of values, at least 1 (default 1000, as Cox et al. used)",
    nullptr, {1, double(std::numeric_limits<std::int32_t>::max()), 1000}};
const Option kSeed{"--seed", "S",
    "a non-zero 32-bit seed gives a reproducible watermark;\n0 or none seeds from the system's entropy",
    nullptr,
    {double(std::numeric_limits<std::int32_t>::min()), double(std::numeric_limits<std::int32_t>::max()), 0}};

// Any finite number.
constexpr double kAny = std::numeric_limits<double>::infinity();
const Option kAlpha{
    "--alpha", "A", "embedding strength stored in the file (default 0.1)", nullptr, {-kAny, kAny, 0.1}};
const Option kMean{"--mean", "M", "added to every value (default 0)", nullptr, {-kAny, kAny, 0}};
const Option kDeviation{"--deviation", "D", "scale of every value (default 1)", nullptr, {-kAny, kAny, 1}};

const Option kOptions[] = {
    kLength,
    kAlpha,
    kMean,
    kDeviation,
    kSeed,
    {"--force", nullptr,
        "replace WATERMARK.wmk if it exists; write a watermark too short to be\nfound by evidence"},
};

int generate(const ParsedArgs& a)
{
    a.expectPositional(1, 1, "WATERMARK.wmk");
    const std::string& path = a.positional()[0];
    // A length below 1 would write a file that embedding and detection refuse.
    const auto length = std::int32_t(a.integer(kLength));
    const double alpha = a.real(kAlpha);
    const double mean = a.real(kMean);
    const double deviation = a.real(kDeviation);
    const auto seed = std::int32_t(a.integer(kSeed));
    // Even an untouched copy (similarity 0.99) of a shorter watermark could never be told
    // from chance at the default bound: such a file is a key that proves nothing.
    static const int shortest = shortestLengthFor(kUntouchedSimilarity, kDefaultMaxFalsePositive);
    if (!a.has("--force") && length < shortest)
        throw UsageError("--length " + std::to_string(length)
            + " is too short to be found by evidence: even an untouched copy "
              "would need at least "
            + std::to_string(shortest)
            + " values for a false-positive probability of 1e-9 "
              "(--force writes it anyway)");
    std::error_code ec;
    if (!a.has("--force") && std::filesystem::exists(path, ec))
        throw FileError(path, "already exists; --force replaces it (a watermark file is someone's key)");
    warnReplaced("generate", path,
        withFile(path, [&] { return CoxGenMark(path, alpha, length, seed, mean, deviation); }));
    std::printf("%s: %d values, alpha %g\n", path.c_str(), int(length), alpha);
    return kExitOk;
}

} // namespace

const Command kGenerateCommand{"generate", "write a Gaussian watermark file",
    "WATERMARK.wmk [--length N] [--alpha A] [--mean M] [--deviation D] [--seed S] [--force]",
    "Writes a watermark file of N normally distributed values. An existing file is a key that\nsomeone may "
    "hold: it is replaced only with --force.",
    kOptions,
    "A watermark shorter than 11 values is refused without --force: even an untouched copy could not\nbe "
    "told "
    "from chance by evidence.\nExit status: 0 written, 2 usage or input error (an existing file or a too "
    "short "
    "watermark\nwithout --force).",
    generate};

} // namespace pelinor::cli
