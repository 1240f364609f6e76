#include "cli/args.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <exception>
#include <new>

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

ParsedArgs::ParsedArgs(const Args& args, std::span<const Option> options)
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
        const Option* option = nullptr;
        for (const Option& o : options) {
            if (name == o.name) option = &o;
        }
        if (option == nullptr) throw UsageError("unknown option '" + name + "'");
        std::string value;
        if (option->value == nullptr) {
            if (eq != std::string::npos) throw UsageError("option '" + name + "' takes no value");
        } else if (eq != std::string::npos) {
            value = a.substr(eq + 1);
        } else {
            if (k + 1 >= args.size()) throw UsageError("option '" + name + "' needs a value");
            value = args[++k];
        }
        m_values[name] = value;
        m_inOrder.emplace_back(name, std::move(value));
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

double ParsedArgs::real(const std::string& name, double fallback, double min, double max) const
{
    const double v = real(name, fallback);
    if (has(name) && !(v >= min && v <= max)) {
        char range[64];
        std::snprintf(range, sizeof range, "%g..%g", min, max);
        throw UsageError(name + ": " + *value(name) + " is outside " + range);
    }
    return v;
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

double ParsedArgs::real(const Option& option) const
{
    return real(option.name, option.bounds.fallback, option.bounds.min, option.bounds.max);
}

long long ParsedArgs::integer(const Option& option) const
{
    return integer(option.name, (long long)option.bounds.fallback, (long long)option.bounds.min,
        (long long)option.bounds.max);
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

namespace {

constexpr std::size_t kHelpWidth = 96;

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> out;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        out.push_back(text.substr(start, end - start));
    out.push_back(text.substr(start));
    return out;
}

// The words of a usage form, a bracketed group ("[--length N]") counting as one.
std::vector<std::string> usageWords(const std::string& form)
{
    std::vector<std::string> words;
    std::string word;
    int depth = 0;
    for (const char c : form) {
        depth += c == '[' ? 1 : c == ']' ? -1 : 0;
        if (c == ' ' && depth == 0) {
            if (!word.empty()) words.push_back(word);
            word.clear();
        } else {
            word += c;
        }
    }
    if (!word.empty()) words.push_back(word);
    return words;
}

// One usage form, wrapped with its continuation lines under the first argument.
std::string usageLine(const std::string& lead, const std::string& form)
{
    std::string out = lead;
    const std::size_t indent = lead.size();
    std::size_t column = indent;
    for (const std::string& word : usageWords(form)) {
        if (column > indent && column + 1 + word.size() > kHelpWidth) {
            out.append("\n").append(indent, ' ');
            column = indent;
        }
        if (column > indent) out += ' ', ++column;
        out += word;
        column += word.size();
    }
    return out + "\n";
}

std::string optionHead(const Option& o)
{
    std::string head = "  ";
    head.append(o.name);
    if (o.value) head.append(" ").append(o.value);
    return head;
}

} // namespace

std::string helpText(const Command& command)
{
    std::string program = "pelinor-cli ";
    program.append(command.name).append(" ");
    std::string s;
    bool first = true;
    for (const std::string& form : lines(command.synopsis)) {
        s.append(usageLine((first ? "usage: " : "       ") + program, form));
        first = false;
    }
    s.append("\n").append(command.description).append("\n");
    std::size_t column = 0;
    for (const Option& o : command.options)
        column = std::max(column, optionHead(o).size() + 2);
    for (const Option& o : command.options) {
        if (o.section)
            s.append("\n").append(o.section).append(":\n");
        else if (&o == command.options.data())
            s.append("\n");
        const std::string head = optionHead(o);
        bool firstLine = true;
        for (const std::string& line : lines(o.help)) {
            s.append(firstLine ? head : std::string()).append(column - (firstLine ? head.size() : 0), ' ');
            s.append(line).append("\n");
            firstLine = false;
        }
    }
    if (command.notes && *command.notes) s.append("\n").append(command.notes).append("\n");
    return s;
}

int runCommand(const Command& command, const Args& args)
{
    const char* name = command.name;
    try {
        const ParsedArgs parsed(args, command.options);
        if (parsed.help()) {
            std::fputs(helpText(command).c_str(), stdout);
            return kExitOk;
        }
        return command.body(parsed);
    } catch (const UsageError& e) {
        std::fprintf(stderr, "pelinor-cli %s: %s\nTry 'pelinor-cli %s --help'.\n", name, e.what(), name);
    } catch (const std::bad_alloc&) {
        // An allocation no command wrapped: still said as what it is, never as "std::bad_alloc".
        std::fprintf(stderr,
            "pelinor-cli %s: Out of memory: the picture and its transforms do not fit in the memory "
            "this process may use\n",
            name);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "pelinor-cli %s: %s\n", name, fileMessage("", e.what()).c_str());
    }
    return kExitError;
}

} // namespace pelinor::cli
