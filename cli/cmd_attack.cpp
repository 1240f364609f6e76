#include "cli/args.h"
#include "cli/commands.h"
#include "cli/io.h"
#include "image/image_io.h"
#include "lab/attacks.h"

#include <cstdio>
#include <string>
#include <vector>

namespace pelinor::cli {

namespace {

const Option kSeed{"--seed", "S", "seed of the noise (default 1); the same seed gives the same noise",
    "options", {0, 0x1p62, 1}};

// The attacks' options come from their table: flag, values and help with the ranges.
std::vector<Option> attackOptions()
{
    static const std::vector<std::string> helps = [] {
        std::vector<std::string> h;
        for (const AttackEntry& entry : attackTable())
            h.push_back(attackHelp(entry));
        return h;
    }();
    static const std::vector<std::string> flags = [] {
        std::vector<std::string> f;
        for (const AttackEntry& entry : attackTable())
            f.push_back(std::string("--") + entry.name);
        return f;
    }();
    std::vector<Option> options;
    for (std::size_t i = 0; i < attackTable().size(); ++i)
        options.push_back(
            {flags[i].c_str(), attackTable()[i].metavar, helps[i].c_str(), i == 0 ? "attacks" : nullptr});
    options.push_back(kSeed);
    options.push_back({"--fill-from", "FILE", "the picture the cropped-away area is taken from (same size)"});
    options.push_back(kQualityOption);
    options.push_back(kSubsamplingOption);
    options.push_back(kMaxPixelsOption);
    return options;
}

const std::vector<Option> kOptions = attackOptions();

double number(const std::string& flag, const std::string& text)
{
    const auto value = parseReal(text);
    if (!value) throw UsageError(flag + ": '" + text + "' is not a finite number");
    return *value;
}

// The attacks in command-line order.
std::vector<Attack> attacksInOrder(const ParsedArgs& a)
{
    std::vector<Attack> attacks;
    for (const auto& [name, text] : a.inOrder()) {
        for (const AttackEntry& f : attackTable()) {
            if (name.size() < 2 || name.compare(2, std::string::npos, f.name) != 0) continue;
            Attack attack{f.kind};
            if (f.values > 0) {
                const std::size_t comma = text.find(',');
                if (f.values == 2 && comma == std::string::npos)
                    throw UsageError(name + ": '" + text + "' is not two numbers A,B");
                attack.parameter = number(name, f.values == 2 ? text.substr(0, comma) : text);
                if (f.values == 2) attack.second = number(name, text.substr(comma + 1));
            }
            try {
                validateAttack(attack);
            } catch (const Error& e) {
                throw UsageError(e.what());
            }
            attacks.push_back(attack);
        }
    }
    return attacks;
}

int runAttacks(const ParsedArgs& a)
{
    a.expectPositional(2, 2, "INPUT OUTPUT");
    const std::vector<Attack> attacks = attacksInOrder(a);
    if (attacks.empty()) {
        std::string flags;
        for (const AttackEntry& f : attackTable())
            flags += (flags.empty() ? "--" : ", --") + std::string(f.name);
        throw UsageError("no attack given (" + flags + ")");
    }
    const auto seed = std::uint64_t(a.integer(kSeed));
    const SaveOptions options = saveOptions(a);
    const std::int64_t limit = maxPixels(a);
    const std::string& inputPath = a.positional()[0];
    const std::string& outputPath = a.positional()[1];
    std::vector<std::string> inputs{inputPath};
    if (const auto fillPath = a.value("--fill-from")) inputs.push_back(*fillPath);
    refuseReplacingInput(outputPath, inputs);

    PictureRef picture = loadPictureFile(inputPath, limit);
    require24Bit(inputPath, *picture);
    const Metadata metadata = picture->metadata();
    const SourceInfo source = picture->source();
    PictureRef fill;
    for (const Attack& attack : attacks) {
        if (attack.kind != Attack::Kind::Crop || fill) continue;
        const auto fillPath = a.value("--fill-from");
        if (!fillPath)
            throw UsageError("--crop needs --fill-from ORIGINAL, the picture to fill the rest from");
        fill = loadPictureFile(*fillPath, limit);
        require24Bit(*fillPath, *fill);
        if (fill->width() != picture->width() || fill->height() != picture->height())
            throw FileError(*fillPath,
                "is " + sizeText(fill->width(), fill->height()) + " but " + inputPath + " is "
                    + sizeText(picture->width(), picture->height()));
    }
    // A chain that would grow the picture past the budget is refused from the computed
    // sizes, before any attack runs.
    for (int w = picture->width(), h = picture->height(); const Attack& attack : attacks) {
        const AttackSize size = attackResultSize(attack, w, h);
        if (size.peakPixels > limit)
            throw FileError(inputPath,
                "Out of memory: " + attackLabel(attack) + " needs a picture of "
                    + std::to_string(size.peakPixels) + " pixels, over the limit of " + std::to_string(limit)
                    + " pixels (--max-pixels raises it)");
        w = size.width;
        h = size.height;
    }
    std::uint64_t noiseSeed = seed;
    for (const Attack& attack : attacks) {
        // Each noise attack in a chain draws its own noise.
        picture = withFile(inputPath, [&] { return applyAttack(*picture, attack, fill.get(), noiseSeed); });
        if (attack.kind == Attack::Kind::Noise) ++noiseSeed;
    }
    // The attacks make new pictures; what the file carried goes on to the output.
    picture->metadata() = metadata;
    picture->source() = source;
    savePictureFile("attack", outputPath, *picture, options);
    return kExitOk;
}

} // namespace

const Command kAttackCommand{"attack",
    "apply attacks (JPEG, noise, blur, scale, crop, rotate, resize, tone...)",
    "INPUT OUTPUT ATTACK... [--seed S] [--fill-from ORIGINAL] [--quality Q|same] [--subsampling S]",
    "Applies attacks to a 24-bit picture, in the order given, and writes the result as a\n24-bit picture "
    "(format by OUTPUT's extension: .bmp, .png, .jpg, .tif, .webp). EXIF, the ICC profile,\nXMP, IPTC and "
    "text entries are carried over where the format can hold them. detect registers a\ncopy that was "
    "moved, resized, mirrored or re-toned back onto the original before testing it.",
    kOptions, "Exit status: 0 written, 2 usage or input error.", runAttacks};

} // namespace pelinor::cli
