// pelinor-cli: the command-line twin of the desktop program.
#include "cli/commands.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Command {
    const char* name;
    int (*run)(const pelinor::cli::Args&);
    const char* summary;
};

const Command kCommands[] = {
    {"generate", pelinor::cli::cmdGenerate, "write a Gaussian watermark file"},
    {"embed", pelinor::cli::cmdEmbed, "embed a watermark into one or more pictures"},
    {"detect", pelinor::cli::cmdDetect, "test a suspect picture for a watermark"},
    {"info", pelinor::cli::cmdInfo, "describe picture files"},
    {"attack", pelinor::cli::cmdAttack, "apply attacks (JPEG, noise, blur, scale, crop, requantize)"},
    {"evaluate", pelinor::cli::cmdEvaluate, "robustness report for a picture and a watermark"},
    {"identify", pelinor::cli::cmdIdentify, "rank many watermark files against one suspect"},
};

void usage(std::FILE* out)
{
    std::fprintf(out, "usage: pelinor-cli COMMAND [ARGS...]\n\ncommands:\n");
    for (const auto& c : kCommands)
        std::fprintf(out, "  %-9s %s\n", c.name, c.summary);
    std::fprintf(out, "\n'pelinor-cli COMMAND --help' describes one command.\n");
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc < 2) {
        usage(stderr);
        return 2;
    }
    const std::string name = argv[1];
    if (name == "--help" || name == "-h" || name == "help") {
        usage(stdout);
        return 0;
    }
    if (name == "--version") {
        std::printf("pelinor-cli %s\n", PELINOR_VERSION);
        return 0;
    }
    for (const auto& c : kCommands) {
        if (name == c.name) return c.run(pelinor::cli::Args(argv + 2, argv + argc));
    }
    std::fprintf(stderr, "pelinor-cli: unknown command '%s'\n", name.c_str());
    usage(stderr);
    return 2;
}
