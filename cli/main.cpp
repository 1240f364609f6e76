// pelinor-cli: the command-line twin of the desktop program.
#include "cli/args.h"
#include "cli/commands.h"

#include <cerrno>
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
    &pelinor::cli::kMarkCommand,
    &pelinor::cli::kTraceCommand,
    &pelinor::cli::kCatalogueCommand,
};

void usage(std::FILE* out)
{
    std::fprintf(out, "usage: pelinor-cli COMMAND [ARGS...]\n\ncommands:\n");
    for (const Command* c : kCommands)
        std::fprintf(out, "  %-9s %s\n", c->name, c->summary);
    std::fprintf(out, "\n'pelinor-cli COMMAND --help' describes one command.\n");
}

// Output that could not be written is a failure whatever the command found: a JSON
// redirected to a full disk must not leave an empty file behind an exit status of 0.
// Everything on stdout is buffered until here or fails on the way, and either way the
// stream keeps the error.
int checkedExit(int status)
{
    errno = 0;
    if (std::fflush(stdout) == 0 && std::ferror(stdout) == 0) return status;
    const int code = errno;
    std::fprintf(stderr, "pelinor-cli: cannot write to standard output%s%s\n", code != 0 ? ": " : "",
        code != 0 ? std::strerror(code) : "");
    return 2;
}

int run(int argc, char* argv[])
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

} // namespace

int main(int argc, char* argv[])
{
    return checkedExit(run(argc, argv));
}
