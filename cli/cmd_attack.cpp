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

const Option kOptions[] = {
    {"--jpeg", "Q", "re-encode as JPEG at quality Q (1..100) and decode", "attacks"},
    {"--noise", "SIGMA", "add Gaussian noise of deviation SIGMA grey levels to each channel"},
    {"--blur", "SIGMA", "Gaussian blur of deviation SIGMA pixels (0..20)"},
    {"--scale", "F", "resize by the factor F (0 < F <= 4) and back to the original size"},
    {"--crop", "F",
        "keep the centred fraction F (0..1) of the area; the rest comes from\nthe picture given with "
        "--fill-from (as Cox et al. did)"},
    {"--requantize", "L", "L levels (2..256) per channel"},
    {"--rotate", "DEG", "rotate by DEG degrees (counter-clockwise) on the same canvas, corners black"},
    {"--shift", "DX,DY", "move the content DX pixels right and DY down, black where it left"},
    {"--mirror", nullptr, "exchange left and right"},
    {"--crop-to", "F", "keep the centred fraction F (0..1] of each side: a smaller picture"},
    {"--resize", "F", "resize by the factor F (0 < F <= 4), not restored"},
    {"--tone", "GAIN,OFFSET", "every channel value v to GAIN * v + OFFSET (brightness, contrast)"},
    {"--gamma", "G", "every channel value v to 255 (v / 255)^(1 / G) (above 1 brightens)"},
    {"--social", nullptr,
        "as a social network serves an upload: the long side to 1080 pixels\n(when longer), then JPEG at "
        "quality 80"},
    {"--seed", "S", "seed of the noise (default 1); the same seed gives the same noise", "options"},
    {"--fill-from", "FILE", "the picture the cropped-away area is taken from (same size)"},
    {"--quality", "Q|same",
        "JPEG quality 1..100 (default 90) or 'same' (the input JPEG's);\nfor .webp, lossy at Q (without it "
        "WebP "
        "is written lossless)"},
    {"--subsampling", "S", "JPEG chroma subsampling 444, 422 or 420 (default: as the input)"},
    kMaxPixelsOption,
};

struct Flag {
    const char* name;
    Attack::Kind kind;
    int values; // 0, 1, or 2 given as "A,B"
};

const Flag kAttackFlags[] = {
    {"--jpeg", Attack::Kind::Jpeg, 1},
    {"--noise", Attack::Kind::Noise, 1},
    {"--blur", Attack::Kind::Blur, 1},
    {"--scale", Attack::Kind::Scale, 1},
    {"--crop", Attack::Kind::Crop, 1},
    {"--requantize", Attack::Kind::Requantize, 1},
    {"--rotate", Attack::Kind::Rotate, 1},
    {"--shift", Attack::Kind::Shift, 2},
    {"--mirror", Attack::Kind::Mirror, 0},
    {"--crop-to", Attack::Kind::CropTo, 1},
    {"--resize", Attack::Kind::Resize, 1},
    {"--tone", Attack::Kind::Tone, 2},
    {"--gamma", Attack::Kind::Gamma, 1},
    {"--social", Attack::Kind::Social, 0},
};

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
        for (const Flag& f : kAttackFlags) {
            if (name != f.name) continue;
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
    if (attacks.empty())
        throw UsageError("no attack given (--jpeg, --noise, --blur, --scale, --crop, --requantize, --rotate, "
                         "--shift, --mirror, --crop-to, --resize, --tone, --gamma, --social)");
    const auto seed = std::uint64_t(a.integer("--seed", 1, 0, (1LL << 62)));
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
