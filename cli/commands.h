// The commands of pelinor-cli. Each is declared once, as a Command: its name, what --help
// says, the table of its options (which drives both parsing and --help) and a body that
// returns the exit status: 0 success, 1 (detect, identify) watermark not found, 2 usage or
// input error.
#pragma once

#include <span>
#include <string>
#include <vector>

namespace pelinor::cli {

// The range --target-psnr accepts, in dB: below 10 dB a picture is hardly the original any
// more, above 100 dB a marked picture differs from it by far less than one grey level.
inline constexpr double kMinTargetPsnr = 10.0;
inline constexpr double kMaxTargetPsnr = 100.0;

using Args = std::vector<std::string>;

// The numbers a numeric option takes, from `min` to `max`, and its value when not given.
struct Bounds {
    double min = 0.0;
    double max = 0.0;
    double fallback = 0.0;
};

// One option, with its dashes ("--alpha"). `value` names its value in --help ("A"); null
// for an option that takes none. `help` may run over several lines ("\n"). An option with
// a `section` starts a new group of options under that heading in --help. A numeric option
// declares its range and default in `bounds`, which ParsedArgs::integer and real read.
struct Option {
    const char* name;
    const char* value;
    const char* help;
    const char* section = nullptr;
    Bounds bounds{};
};

class ParsedArgs;

struct Command {
    const char* name;
    const char* summary; // one line, for pelinor-cli --help
    const char* synopsis; // what follows "usage: pelinor-cli NAME"; further lines are full forms
    const char* description; // the paragraphs before the options
    std::span<const Option> options;
    const char* notes; // the paragraphs after the options (may be empty)
    int (*body)(const ParsedArgs&);
};

extern const Command kGenerateCommand;
extern const Command kEmbedCommand;
extern const Command kDetectCommand;
extern const Command kInfoCommand;
extern const Command kAttackCommand;
extern const Command kEvaluateCommand;
extern const Command kIdentifyCommand;
extern const Command kCatalogueCommand;
extern const Command kMarkCommand;
extern const Command kTraceCommand;

} // namespace pelinor::cli
