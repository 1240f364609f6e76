// Command-line parsing and error reporting shared by the subcommands.
#pragma once

#include "base/error.h"
#include "cli/commands.h"

#include <functional>
#include <initializer_list>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
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

struct OptionSpec {
    const char* name; // with its dashes: "--alpha"
    bool takesValue;
};

// Options may come anywhere among the positional arguments, as "--name value" or
// "--name=value"; "--" ends the options. --help and -h are always known.
class ParsedArgs {
public:
    ParsedArgs(const Args& args, std::initializer_list<OptionSpec> options);

    bool help() const noexcept { return m_help; }
    bool has(const std::string& name) const { return m_values.count(name) != 0; }
    std::optional<std::string> value(const std::string& name) const;
    const std::vector<std::string>& positional() const noexcept { return m_positional; }

    // Typed option values; a value that does not convert or lies outside the range is a UsageError.
    double real(const std::string& name, double fallback) const;
    long long integer(const std::string& name, long long fallback, long long min, long long max) const;

    // UsageError unless there are between min and max positional arguments.
    void expectPositional(std::size_t min, std::size_t max, const char* what) const;

private:
    bool m_help = false;
    std::map<std::string, std::string> m_values;
    std::vector<std::string> m_positional;
};

// Whole-text conversions, independent of the locale.
std::optional<double> parseReal(const std::string& text);
std::optional<long long> parseInteger(const std::string& text);

// Runs a subcommand body: prints `help` for --help, and turns UsageError, FileError and
// pelinor::Error into a message on stderr ("pelinor-cli NAME: ...") and exit status 2.
int runCommand(const char* name, const char* help, const Args& args,
    std::initializer_list<OptionSpec> options, const std::function<int(const ParsedArgs&)>& body);

// Runs f; a pelinor::Error it throws becomes a FileError for `path`.
template <class F> auto withFile(const std::string& path, F&& f) -> decltype(f())
{
    try {
        return f();
    } catch (const Error& e) {
        throw FileError(path, e.what());
    }
}

// The text of an error about `path`, naming the file once.
std::string fileMessage(const std::string& path, const std::string& reason);

} // namespace pelinor::cli
