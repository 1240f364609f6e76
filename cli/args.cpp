#include "cli/args.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <exception>

namespace pelinor::cli {

namespace {

bool isHelp(const std::string& a)
{
    return a == "--help" || a == "-h";
}

bool looksLikeOption(const std::string& a)
{
    return a.size() > 1 && a[0] == '-';
}

} // namespace

FileError::FileError(std::string p, const std::string& reason)
    : std::runtime_error(fileMessage(p, reason))
    , path(std::move(p))
{
}

std::string fileMessage(const std::string& path, const std::string& reason)
{
    std::string r = reason;
    r.erase(0, r.find_first_not_of(' '));
    if (path.empty() || r.find(path) != std::string::npos) return r;
    return path + ": " + r;
}

ParsedArgs::ParsedArgs(const Args& args, std::initializer_list<OptionSpec> options)
{
    for (const std::string& a : args) {
        if (a == "--") break;
        if (isHelp(a)) m_help = true;
    }
    if (m_help) return;
    bool optionsEnded = false;
    for (std::size_t k = 0; k < args.size(); ++k) {
        const std::string& a = args[k];
        if (optionsEnded || !looksLikeOption(a)) {
            m_positional.push_back(a);
            continue;
        }
        if (a == "--") {
            optionsEnded = true;
            continue;
        }
        const std::size_t eq = a.find('=');
        const std::string name = a.substr(0, eq);
        const OptionSpec* option = nullptr;
        for (const OptionSpec& o : options) {
            if (name == o.name) option = &o;
        }
        if (option == nullptr) throw UsageError("unknown option '" + name + "'");
        if (!option->takesValue) {
            if (eq != std::string::npos) throw UsageError("option '" + name + "' takes no value");
            m_values[name] = "";
        } else if (eq != std::string::npos) {
            m_values[name] = a.substr(eq + 1);
        } else {
            if (k + 1 >= args.size()) throw UsageError("option '" + name + "' needs a value");
            m_values[name] = args[++k];
        }
    }
}

std::optional<std::string> ParsedArgs::value(const std::string& name) const
{
    const auto it = m_values.find(name);
    if (it == m_values.end()) return std::nullopt;
    return it->second;
}

double ParsedArgs::real(const std::string& name, double fallback) const
{
    const auto text = value(name);
    if (!text) return fallback;
    const auto v = parseReal(*text);
    if (!v) throw UsageError(name + ": '" + *text + "' is not a finite number");
    return *v;
}

long long ParsedArgs::integer(const std::string& name, long long fallback, long long min, long long max) const
{
    const auto text = value(name);
    if (!text) return fallback;
    const auto v = parseInteger(*text);
    if (!v) throw UsageError(name + ": '" + *text + "' is not a whole number");
    if (*v < min || *v > max)
        throw UsageError(
            name + ": " + *text + " is outside " + std::to_string(min) + ".." + std::to_string(max));
    return *v;
}

void ParsedArgs::expectPositional(std::size_t min, std::size_t max, const char* what) const
{
    const std::size_t n = m_positional.size();
    if (n < min) throw UsageError(std::string("missing arguments: expected ") + what);
    if (n > max) throw UsageError("unexpected argument '" + m_positional[max] + "': expected " + what);
}

std::optional<double> parseReal(const std::string& text)
{
    const char* first = text.data();
    const char* last = text.data() + text.size();
    if (first != last && *first == '+') ++first;
    double v = 0.0;
    const auto [end, ec] = std::from_chars(first, last, v);
    if (ec != std::errc() || end != last || first == last || !std::isfinite(v)) return std::nullopt;
    return v;
}

std::optional<long long> parseInteger(const std::string& text)
{
    const char* first = text.data();
    const char* last = text.data() + text.size();
    if (first != last && *first == '+') ++first;
    long long v = 0;
    const auto [end, ec] = std::from_chars(first, last, v);
    if (ec != std::errc() || end != last || first == last) return std::nullopt;
    return v;
}

int runCommand(const char* name, const char* help, const Args& args,
    std::initializer_list<OptionSpec> options, const std::function<int(const ParsedArgs&)>& body)
{
    try {
        const ParsedArgs parsed(args, options);
        if (parsed.help()) {
            std::fputs(help, stdout);
            return kExitOk;
        }
        return body(parsed);
    } catch (const UsageError& e) {
        std::fprintf(stderr, "pelinor-cli %s: %s\nTry 'pelinor-cli %s --help'.\n", name, e.what(), name);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "pelinor-cli %s: %s\n", name, fileMessage("", e.what()).c_str());
    }
    return kExitError;
}

} // namespace pelinor::cli
