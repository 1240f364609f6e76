// pelinor-cli: the command-line twin of the desktop program.
#include "cli/args.h"
#include "cli/commands.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

using pelinor::cli::Command;

const Command* const kCommands[] = {
    &pelinor::cli::kGenerateCommand,
    &pelinor::cli::kEmbedCommand,
    &pelinor::cli::kDetectCommand,
    &pelinor::cli::kInfoCommand,
    &pelinor::cli::kAttackCommand,
    &pelinor::cli::kEvaluateCommand,
    &pelinor::cli::kIdentifyCommand,
};

void usage(std::FILE* out)
{
    std::fprintf(out, "usage: pelinor-cli COMMAND [ARGS...]\n\ncommands:\n");
    for (const Command* c : kCommands)
        std::fprintf(out, "  %-9s %s\n", c->name, c->summary);
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
    for (const Command* c : kCommands) {
        if (name == c->name) return pelinor::cli::runCommand(*c, pelinor::cli::Args(argv + 2, argv + argc));
    }
    std::fprintf(stderr, "pelinor-cli: unknown command '%s'\n", name.c_str());
    usage(stderr);
    return 2;
}
