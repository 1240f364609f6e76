// Command-line parsing and error reporting shared by the subcommands.
#pragma once

#include "base/error.h"
#include "cli/commands.h"

#include <functional>
#include <map>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace pelinor::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitNotFound = 1;
inline constexpr int kExitError = 2;

// A malformed command line: printed with a pointer to --help, exit status 2.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// A failure that concerns one file: printed as "FILE: REASON", exit status 2.
struct FileError : std::runtime_error {
    FileError(std::string path, const std::string& reason);
    std::string path;
};

// Options may come anywhere among the positional arguments, as "--name value" or
// "--name=value"; "--" ends the options. --help and -h are always known. An option given
// twice keeps its last value.
class ParsedArgs {
public:
    ParsedArgs(const Args& args, std::span<const Option> options);

    bool help() const noexcept { return m_help; }
    bool has(const std::string& name) const { return m_values.count(name) != 0; }
    std::optional<std::string> value(const std::string& name) const;
    const std::vector<std::string>& positional() const noexcept { return m_positional; }
    // Every option as given, in command-line order, with its value ("" for a flag).
    const std::vector<std::pair<std::string, std::string>>& inOrder() const noexcept { return m_inOrder; }

    // Typed option values; a value that does not convert or lies outside the range is a UsageError.
    double real(const std::string& name, double fallback) const;
    double real(const std::string& name, double fallback, double min, double max) const;
    long long integer(const std::string& name, long long fallback, long long min, long long max) const;
    // The same by the option's declared bounds.
    double real(const Option& option) const;
    long long integer(const Option& option) const;

    // UsageError unless there are between min and max positional arguments.
    void expectPositional(std::size_t min, std::size_t max, const char* what) const;

private:
    bool m_help = false;
    std::map<std::string, std::string> m_values;
    std::vector<std::pair<std::string, std::string>> m_inOrder;
    std::vector<std::string> m_positional;
};

// Whole-text conversions, independent of the locale.
std::optional<double> parseReal(const std::string& text);
std::optional<long long> parseInteger(const std::string& text);

// The --help text of a command, its options listed from its table.
std::string helpText(const Command& command);

// Runs a command: parses `args` by the command's table, prints its help for --help, else
// runs its body, and turns UsageError, FileError and pelinor::Error into a message on
// stderr ("pelinor-cli NAME: ...") and exit status 2.
int runCommand(const Command& command, const Args& args);

// Runs f; a pelinor::Error it throws becomes a FileError for `path`.
template <class F> auto withFile(const std::string& path, F&& f) -> decltype(f())
{
    try {
        return f();
    } catch (const Error& e) {
        throw FileError(path, e.what());
    }
}

// Whether a failure of embedding lies in the watermark's numbers (alpha 0, all-zero values,
// values too large to compute with, a strength too small to show) rather than in the picture.
inline bool concernsWatermark(const Error& e) noexcept
{
    return e.number() == err::ZeroAlpha || e.number() == err::ZeroWatermark || e.number() == err::Overflow
        || e.number() == err::NothingEmbedded;
}

// The text of an error about `path`, naming the file once.
std::string fileMessage(const std::string& path, const std::string& reason);

} // namespace pelinor::cli
