#include "cli/args.h"
#include "cli/commands.h"
#include "watermark/generator.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <limits>

namespace pelinor::cli {

namespace {

const Option kOptions[] = {
    {"--length", "N", "number of values, at least 1 (default 1000, as Cox et al. used)"},
    {"--alpha", "A", "embedding strength stored in the file (default 0.1)"},
    {"--mean", "M", "added to every value (default 0)"},
    {"--deviation", "D", "scale of every value (default 1)"},
    {"--seed", "S",
        "a non-zero 32-bit seed gives a reproducible watermark;\n0 or none seeds from the system's entropy"},
    {"--force", nullptr, "replace WATERMARK.wmk if it exists"},
};

int generate(const ParsedArgs& a)
{
    a.expectPositional(1, 1, "WATERMARK.wmk");
    const std::string& path = a.positional()[0];
    constexpr long long kMin = std::numeric_limits<std::int32_t>::min();
    constexpr long long kMax = std::numeric_limits<std::int32_t>::max();
    // A length below 1 would write a file that embedding and detection refuse.
    const auto length = std::int32_t(a.integer("--length", 1000, 1, kMax));
    const double alpha = a.real("--alpha", 0.1);
    const double mean = a.real("--mean", 0.0);
    const double deviation = a.real("--deviation", 1.0);
    const auto seed = std::int32_t(a.integer("--seed", 0, kMin, kMax));
    std::error_code ec;
    if (!a.has("--force") && std::filesystem::exists(path, ec))
        throw FileError(path, "already exists; --force replaces it (a watermark file is someone's key)");
    withFile(path, [&] { CoxGenMark(path, alpha, length, seed, mean, deviation); });
    std::printf("%s: %d values, alpha %g\n", path.c_str(), int(length), alpha);
    return kExitOk;
}

} // namespace

const Command kGenerateCommand{"generate", "write a Gaussian watermark file",
    "WATERMARK.wmk [--length N] [--alpha A] [--mean M] [--deviation D] [--seed S] [--force]",
    "Writes a watermark file of N normally distributed values. An existing file is a key that\nsomeone may "
    "hold: it is replaced only with --force.",
    kOptions, "Exit status: 0 written, 2 usage or input error (an existing file without --force).", generate};

} // namespace pelinor::cli
