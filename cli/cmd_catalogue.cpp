#include "base/atomic_file.h"
#include "catalogue/catalogue.h"
#include "catalogue/original.h"
#include "catalogue/sha256.h"
#include "cli/args.h"
#include "cli/catalogue_access.h"
#include "cli/commands.h"
#include "cli/io.h"
#include "cli/json.h"

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace pelinor::cli {

namespace {

namespace fs = std::filesystem;

const Option kOptions[] = {
    kCatalogueOption,
    {"--json", nullptr, "list, show, check: one JSON object instead of text (docs/json.md)"},
    {"--format", "F", "export: csv (default) or json"},
    {"--output", "FILE", "export: write FILE instead of standard output"},
    {"--for", "NAME",
        "import: the recipient of the one watermark file given (default: each\nfile's name "
        "without .wmk)"},
    {"--note", "TEXT", "import: a note kept with the recipient"},
    kMaxPixelsOption,
};

std::string day(const std::string& iso)
{
    return iso.substr(0, 10);
}

std::string optionalNumber(const std::optional<double>& v, const char* format)
{
    if (!v) return "n/a";
    char text[32];
    std::snprintf(text, sizeof text, format, *v);
    return text;
}

// One key with what it went into: the record of "which key went to whom".
struct Entry {
    KeyRecord key;
    RecipientRecord recipient;
    OriginalRecord original;
    std::optional<MarkRecord> mark; // none for a key imported without its copy
};

// The entries of every key, or of those whose original or recipient is given, in key order.
std::vector<Entry> entries(Catalogue& cat, long long originalId = 0, long long recipientId = 0)
{
    std::map<long long, RecipientRecord> recipients;
    for (RecipientRecord& r : cat.recipients())
        recipients[r.id] = std::move(r);
    std::map<long long, OriginalRecord> originals;
    for (OriginalRecord& o : cat.originals())
        originals[o.id] = std::move(o);
    std::map<long long, MarkRecord> marks;
    for (MarkView& v : cat.marks())
        marks[v.mark.keyId] = std::move(v.mark);
    std::vector<Entry> out;
    for (KeyRecord& k : originalId ? cat.keysFor(originalId) : cat.keys()) {
        if (recipientId && k.recipientId != recipientId) continue;
        Entry e{k, recipients[k.recipientId], originals[k.originalId], std::nullopt};
        if (const auto m = marks.find(k.id); m != marks.end()) e.mark = m->second;
        out.push_back(std::move(e));
    }
    return out;
}

const char* stateOf(const Entry& e)
{
    if (!e.mark) return "imported";
    return e.mark->finished ? "done" : "unfinished";
}

JsonObject entryJson(const Entry& e)
{
    JsonObject o;
    o.add("recipient", e.recipient.name)
        .add("note", e.recipient.note)
        .add("original", e.original.path)
        .add("original_sha256", e.original.sha256)
        .add("key_sha256", e.key.sha256)
        .add("key_source", e.key.source)
        .add("length", e.key.length)
        .add("alpha", e.key.alpha)
        .add("state", stateOf(e))
        .add("date", e.mark ? e.mark->created : e.key.created);
    if (e.mark) {
        o.add("output", e.mark->output).add("output_sha256", e.mark->outputSha256);
        if (e.mark->psnr)
            o.add("psnr", *e.mark->psnr);
        else
            o.addNull("psnr");
        if (e.mark->similarity)
            o.add("similarity", *e.mark->similarity);
        else
            o.addNull("similarity");
        o.add("settings", e.mark->settings).add("tool_version", e.mark->toolVersion);
    } else {
        o.addNull("output").addNull("output_sha256").addNull("psnr").addNull("similarity");
        o.addNull("settings").addNull("tool_version");
    }
    return o;
}

void printEntry(const Entry& e)
{
    std::string what;
    if (!e.mark)
        what = "key imported from " + e.key.source;
    else if (!e.mark->finished)
        what = "-> " + e.mark->output + "  (unfinished: interrupted while marking)";
    else
        what = "-> " + e.mark->output + "  (PSNR " + optionalNumber(e.mark->psnr, "%.2f")
            + " dB, verified at " + optionalNumber(e.mark->similarity, "%.4f") + ")";
    std::printf("%s  %-16s  %s %s\n", day(e.mark ? e.mark->created : e.key.created).c_str(),
        e.recipient.name.c_str(), e.original.path.c_str(), what.c_str());
}

void printEntries(const std::vector<Entry>& list, const ParsedArgs& a, JsonObject& o)
{
    if (a.has("--json")) {
        JsonArray items;
        for (const Entry& e : list)
            items.add(entryJson(e));
        o.add("keys", items);
        std::printf("%s\n", o.str().c_str());
        return;
    }
    for (const Entry& e : list)
        printEntry(e);
}

int list(Catalogue& cat, const ParsedArgs& a)
{
    a.expectPositional(1, 1, "list");
    const std::vector<Entry> all = entries(cat);
    JsonObject o;
    o.add("schema", kJsonSchema)
        .add("catalogue", cat.path())
        .add("originals", static_cast<long long>(cat.originals().size()))
        .add("recipients", static_cast<long long>(cat.recipients().size()));
    printEntries(all, a, o);
    if (!a.has("--json"))
        std::printf("%zu originals, %zu recipients, %zu keys in %s\n", cat.originals().size(),
            cat.recipients().size(), all.size(), cat.path().c_str());
    return kExitOk;
}

void printOriginal(const OriginalRecord& o)
{
    std::printf("original: %s\n  sha256: %s\n  %s, %d x %d, %lld bytes, added %s\n", o.path.c_str(),
        o.sha256.c_str(), o.format.c_str(), o.width, o.height, o.size, o.added.c_str());
}

int show(Catalogue& cat, const ParsedArgs& a)
{
    a.expectPositional(2, 2, "show PICTURE|RECIPIENT");
    const std::string& what = a.positional()[1];
    const bool json = a.has("--json");
    JsonObject o;
    o.add("schema", kJsonSchema);
    std::vector<Entry> list;
    std::error_code ec;
    if (fs::is_regular_file(what, ec)) {
        const std::string sha = withFile(what, [&] { return sha256File(what); });
        if (const auto original = cat.findOriginal(sha)) {
            if (!json) printOriginal(*original);
            o.add("kind", "original").add("path", original->path).add("sha256", original->sha256);
            list = entries(cat, original->id);
        } else if (const auto mark = cat.markByOutput(sha)) {
            if (!json)
                std::printf("a marked copy of %s for %s, unchanged since it was written\n",
                    mark->originalPath.c_str(), mark->recipient.c_str());
            o.add("kind", "marked copy").add("path", what).add("sha256", sha);
            for (Entry& e : entries(cat, mark->mark.originalId, mark->mark.recipientId))
                if (e.key.id == mark->mark.keyId) list.push_back(std::move(e));
        } else {
            throw FileError(what,
                "the catalogue " + cat.path()
                    + " knows neither this file nor a copy written with these bytes (pelinor-cli trace "
                      "finds the original of a changed copy)");
        }
    } else if (const auto recipient = cat.findRecipient(what)) {
        if (!json)
            std::printf("recipient: %s%s%s\n", recipient->name.c_str(), recipient->note.empty() ? "" : " - ",
                recipient->note.c_str());
        o.add("kind", "recipient").add("name", recipient->name).add("note", recipient->note);
        list = entries(cat, 0, recipient->id);
    } else {
        throw UsageError("'" + what + "' is neither a picture file nor a recipient in " + cat.path());
    }
    printEntries(list, a, o);
    if (!json && list.empty()) std::printf("no keys recorded\n");
    return kExitOk;
}

std::string csvField(const std::string& text)
{
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string out = "\"";
    for (char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

int exportRecords(Catalogue& cat, const ParsedArgs& a)
{
    a.expectPositional(1, 1, "export");
    const std::string format = a.value("--format").value_or("csv");
    if (format != "csv" && format != "json")
        throw UsageError("--format: '" + format + "' is not csv or json");
    const std::vector<Entry> all = entries(cat);
    std::string text;
    if (format == "json") {
        JsonArray items;
        for (const Entry& e : all)
            items.add(entryJson(e));
        JsonObject o;
        o.add("schema", kJsonSchema).add("catalogue", cat.path()).add("keys", items);
        text = o.str() + "\n";
    } else {
        text = "recipient,note,original,original_sha256,key_sha256,key_source,length,alpha,state,date,output,"
               "output_sha256,psnr,similarity,settings,tool_version\r\n";
        for (const Entry& e : all) {
            const auto number
                = [](const std::optional<double>& v) { return v ? JsonObject::number(*v) : ""; };
            const std::string fields[]
                = {e.recipient.name, e.recipient.note, e.original.path, e.original.sha256, e.key.sha256,
                    e.key.source, std::to_string(e.key.length), JsonObject::number(e.key.alpha), stateOf(e),
                    e.mark ? e.mark->created : e.key.created, e.mark ? e.mark->output : "",
                    e.mark ? e.mark->outputSha256 : "", number(e.mark ? e.mark->psnr : std::nullopt),
                    number(e.mark ? e.mark->similarity : std::nullopt), e.mark ? e.mark->settings : "",
                    e.mark ? e.mark->toolVersion : ""};
            std::string line;
            for (const std::string& f : fields) {
                if (&f != fields) line += ',';
                line += csvField(f);
            }
            text += line + "\r\n";
        }
    }
    if (const auto output = a.value("--output")) {
        withFile(*output, [&] { writeFileAtomic(*output, text); });
        std::fprintf(stderr, "%s: %zu keys\n", output->c_str(), all.size());
    } else {
        std::fwrite(text.data(), 1, text.size(), stdout);
    }
    return kExitOk;
}

int import(Catalogue& cat, const ParsedArgs& a)
{
    a.expectPositional(3, std::size_t(-1), "import ORIGINAL WATERMARK.wmk...");
    const std::string& originalPath = a.positional()[1];
    const std::vector<std::string> files(a.positional().begin() + 2, a.positional().end());
    if (a.has("--for") && files.size() != 1)
        throw UsageError("--for names the recipient of one watermark file");
    const PictureRef picture = loadPictureFile(originalPath, maxPixels(a));
    OriginalRecord original
        = withFile(originalPath, [&] { return describeOriginal(originalPath, *picture); });
    struct Item {
        std::string path;
        std::string recipient;
        Watermark watermark;
        std::string content;
        std::string sha;
    };
    std::vector<Item> items;
    for (const std::string& file : files) {
        Item item{
            file, a.value("--for").value_or(fs::path(file).stem().string()), readWatermarkFile(file), {}, {}};
        if (item.recipient.empty()) throw UsageError("--for: the recipient needs a name");
        const std::vector<std::uint8_t> bytes = withFile(file, [&] { return readFileBytes(file); });
        item.content.assign(bytes.begin(), bytes.end());
        item.sha = sha256Hex(item.content);
        items.push_back(std::move(item));
    }
    int added = 0;
    cat.transaction([&] {
        cat.addOriginal(original);
        for (const Item& item : items) {
            bool known = false;
            for (const KeyRecord& k : cat.keysFor(original.id))
                known = known || k.sha256 == item.sha;
            if (known) {
                std::printf("%s: already recorded for %s\n", item.path.c_str(), originalPath.c_str());
                continue;
            }
            KeyRecord key;
            key.originalId = original.id;
            key.recipientId = cat.addRecipient(item.recipient, a.value("--note").value_or(""));
            key.length = item.watermark.length;
            key.alpha = item.watermark.alpha;
            key.mean = item.watermark.mean;
            key.deviation = item.watermark.deviation;
            key.sha256 = item.sha;
            key.source = item.path;
            cat.addKey(key, KeyMaterial{std::nullopt, item.content});
            std::printf("%s: the key of %s for %s\n", item.path.c_str(), originalPath.c_str(),
                item.recipient.c_str());
            ++added;
        }
    });
    std::printf("%d keys recorded in %s\n", added, cat.path().c_str());
    return kExitOk;
}

int remove(Catalogue& cat, const ParsedArgs& a)
{
    a.expectPositional(2, 2, "remove RECIPIENT");
    const std::string& name = a.positional()[1];
    std::optional<RemovedCounts> removed;
    cat.transaction([&] { removed = cat.removeRecipient(name); });
    if (!removed) throw UsageError("no recipient '" + name + "' in " + cat.path());
    std::printf("removed %s: %lld keys, %lld marked copies (the copies' files are left where they are)\n",
        name.c_str(), removed->keys, removed->marks);
    return kExitOk;
}

// The state of a file the catalogue recorded: "ok", "missing" or "changed".
std::string fileState(const std::string& path, const std::string& sha)
{
    std::error_code ec;
    if (!fs::exists(path, ec)) return "missing";
    try {
        return sha256File(path) == sha ? "ok" : "changed";
    } catch (const Error&) {
        return "unreadable";
    }
}

int check(Catalogue& cat, const ParsedArgs& a)
{
    a.expectPositional(1, 1, "check");
    const std::vector<std::string> damage = cat.integrityProblems();
    JsonArray problems;
    auto problem = [&](const std::string& kind, const std::string& path, const std::string& what) {
        problems.add(JsonObject().add("kind", kind).add("path", path).add("problem", what));
        if (!a.has("--json")) std::printf("%s: %s: %s\n", kind.c_str(), path.c_str(), what.c_str());
    };
    for (const std::string& d : damage)
        problem("catalogue", cat.path(), d);
    const std::vector<OriginalRecord> originals = cat.originals();
    for (const OriginalRecord& o : originals) {
        const std::string state = fileState(o.path, o.sha256);
        if (state != "ok") problem("original", o.path, state);
    }
    const std::vector<MarkView> marks = cat.marks();
    // A copy marked again under the same name replaced the earlier one (finished or
    // interrupted), whose key is kept (that copy may be out in the world) but whose file is
    // not expected any more.
    std::map<std::string, long long> latest;
    for (const MarkView& v : marks)
        if (v.mark.finished) latest[v.mark.output] = v.mark.id;
    for (const MarkView& v : marks) {
        if (latest.count(v.mark.output) && latest[v.mark.output] > v.mark.id) continue;
        if (!v.mark.finished) {
            problem("copy", v.mark.output,
                "unfinished: marking for " + v.recipient + " was interrupted; mark --again finishes it");
            continue;
        }
        const std::string state = fileState(v.mark.output, v.mark.outputSha256);
        if (state != "ok") problem("copy", v.mark.output, state + " (marked for " + v.recipient + ")");
    }
    if (a.has("--json")) {
        JsonObject o;
        o.add("schema", kJsonSchema)
            .add("catalogue", cat.path())
            .add("tables_sound", damage.empty())
            .add("originals", static_cast<long long>(originals.size()))
            .add("marks", static_cast<long long>(marks.size()))
            .add("problems", problems);
        std::printf("%s\n", o.str().c_str());
    } else {
        std::printf("%s: %s, %zu originals, %zu marked copies, %s\n", cat.path().c_str(),
            damage.empty() ? "tables sound" : "tables DAMAGED", originals.size(), marks.size(),
            problems.empty() ? "every file present and unchanged" : "problems above");
    }
    if (!damage.empty()) return kExitError;
    return problems.empty() ? kExitOk : kExitNotFound;
}

int catalogue(const ParsedArgs& a)
{
    if (a.positional().empty())
        throw UsageError("missing the subcommand: list, show, export, import, remove or check");
    const std::string& sub = a.positional()[0];
    using Body = int (*)(Catalogue&, const ParsedArgs&);
    const std::pair<const char*, Body> subcommands[] = {{"list", list}, {"show", show},
        {"export", exportRecords}, {"import", import}, {"remove", remove}, {"check", check}};
    for (const auto& [name, body] : subcommands)
        if (sub == name) {
            const std::unique_ptr<Catalogue> cat = openCatalogue(a, "catalogue", sub == "import");
            return body(*cat, a);
        }
    throw UsageError("unknown subcommand '" + sub + "' (list, show, export, import, remove, check)");
}

} // namespace

const Command kCatalogueCommand{"catalogue",
    "list, show, export, import and check the catalogue of marked copies",
    "list|check [--json]\nshow PICTURE|RECIPIENT [--json]\nexport [--format csv|json] [--output "
    "FILE]\nimport "
    "ORIGINAL WATERMARK.wmk... [--for NAME] [--note TEXT]\nremove RECIPIENT",
    "The catalogue records every original marked with pelinor-cli mark, every recipient,\n"
    "the key made for each and each copy written, so that pelinor-cli trace can tell whose\n"
    "copy a picture is. It holds the keys, which are secrets: it is created readable by its\n"
    "owner only, and nothing here prints a key's values.\n\n"
    "  list      every marked copy: date, recipient, original, copy, PSNR and verification\n"
    "  show      what is recorded for a picture (an original, or a copy as it was written)\n"
    "            or for a recipient\n"
    "  export    every marked copy as CSV or JSON, with hashes but without key material\n"
    "  import    records existing watermark files as the keys of ORIGINAL, one recipient\n"
    "            each, for marks made before the catalogue\n"
    "  remove    forgets a recipient with their keys and marks (files are left alone)\n"
    "  check     the tables' consistency, and whether each original and copy is still\n"
    "            present with the bytes recorded",
    kOptions,
    "Every change is one transaction: an interrupted command leaves the catalogue as it was.\n"
    "A file that is not a catalogue, is damaged or was written by a newer version is refused\nand never "
    "changed.\n\nExit status: 0 success; check: 1 when files are missing, changed or unfinished; 2 usage or "
    "input\nerror, or a damaged catalogue.",
    catalogue};

} // namespace pelinor::cli
