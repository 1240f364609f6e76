// The evidence report as one page: styles inline, pictures as data: URIs, no scripts and
// nothing fetched, and print styles for A4.

#include "cli/report/evidence.h"
#include "cli/report/svg_chart.h"
#include "image/image_io.h"
#include "watermark/evidence.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace pelinor::cli {

namespace {

const char kStyle[] = R"(
:root { --ink: #1d2329; --muted: #5b6672; --line: #d5dbe1; --ok: #1a7f37; --bad: #c62828; }
* { box-sizing: border-box; }
body { font: 15px/1.45 system-ui, -apple-system, "Segoe UI", Roboto, sans-serif; color: var(--ink);
       margin: 0 auto; max-width: 960px; padding: 24px; background: #fafbfc; }
h1 { margin: 0 0 4px; font-size: 26px; }
h2 { font-size: 18px; margin: 26px 0 8px; }
.sub { color: var(--muted); margin: 0; }
.verdict { font-size: 17px; font-weight: 600; padding: 10px 14px; border-radius: 8px; margin: 16px 0;
           background: #fff; border: 2px solid var(--line); }
.verdict.found { border-color: var(--ok); }
.verdict.missed { border-color: var(--bad); }
.pictures { display: grid; grid-template-columns: repeat(2, 1fr); gap: 12px; }
figure { margin: 0; background: #fff; border: 1px solid var(--line); border-radius: 8px; padding: 8px; }
figure img { display: block; width: 100%; height: auto; }
figcaption { color: var(--muted); font-size: 13px; margin-top: 6px; }
table { border-collapse: collapse; width: 100%; background: #fff; border: 1px solid var(--line); }
th, td { padding: 5px 10px; border-bottom: 1px solid var(--line); text-align: left; vertical-align: top; }
th { background: #f0f3f6; font-weight: 600; }
td.num { text-align: right; font-variant-numeric: tabular-nums; }
td.hash { font-family: ui-monospace, monospace; font-size: 12px; word-break: break-all; }
tr.found td { color: var(--ok); font-weight: 600; }
p.model { background: #fff; border: 1px solid var(--line); border-radius: 8px; padding: 10px 14px; }
footer { color: var(--muted); font-size: 12px; margin-top: 24px; word-break: break-all; }
@media print {
  @page { size: A4; margin: 14mm; }
  body { background: #fff; max-width: none; padding: 0; font-size: 11pt; }
  figure, table, p.model, .verdict { break-inside: avoid; }
  h2 { break-after: avoid; }
}
)";

std::string number(double v, const char* format)
{
    char text[64];
    std::snprintf(text, sizeof text, format, v);
    return text;
}

std::string probability(double logP)
{
    return std::isnan(logP) ? std::string("n/a") : formatProbability(logP);
}

std::string row(const std::string& name, const std::string& value, const char* cls = nullptr)
{
    return "<tr><th>" + htmlEscape(name) + "</th><td" + (cls ? std::string(" class=\"") + cls + "\"" : "")
        + ">" + htmlEscape(value) + "</td></tr>\n";
}

std::string figure(const Picture* picture, const std::string& caption, const std::string& id)
{
    if (!picture) return {};
    return "<figure id=\"" + id + "\"><img alt=\"" + htmlEscape(caption) + "\" src=\""
        + pictureDataUri(*picture, 900) + "\"><figcaption>" + htmlEscape(caption) + " ("
        + std::to_string(picture->width()) + " × " + std::to_string(picture->height())
        + " pixels)</figcaption></figure>\n";
}

std::string registrationTable(const std::optional<Registration>& r)
{
    if (!r)
        return "<p>The suspect was tested as it stands: it has the original's size and no registration was "
               "needed.</p>\n";
    std::string s = "<table id=\"registration\">\n";
    s += row("model", r->method);
    s += row("scale", number(r->scale, "%.4f"));
    s += row("rotation", number(r->rotationDeg, "%.3f") + "°");
    s += row("orientation", r->mirrored ? "mirrored" : "not mirrored");
    s += row("shift", number(r->shiftX, "%.2f") + ", " + number(r->shiftY, "%.2f") + " pixels");
    s += row("coverage of the original", number(100.0 * r->coverage, "%.1f") + " %");
    s += row("tone", r->tone == "none" ? "unchanged" : "a tone curve per channel, fitted");
    s += row("image correlation", number(r->imageCorrelation, "%.4f"));
    return s + "</table>\n";
}

std::string keysTable(const EvidencePage& page)
{
    std::string s
        = "<table id=\"keys\">\n<tr><th>recipient</th><th>similarity</th><th>z</th><th>false-positive "
          "probability</th><th>family-wise</th><th>N</th><th>verdict</th></tr>\n";
    for (const EvidenceKey& k : page.keys)
        s += std::string("<tr class=\"") + (k.found ? "found" : "missed") + "\"><td>"
            + htmlEscape(k.recipient) + "</td><td class=\"num\">" + number(k.similarity, "%.4f")
            + "</td><td class=\"num\">" + number(k.z, "%.2f") + "</td><td class=\"num\">"
            + probability(k.logFalsePositive) + "</td><td class=\"num\">" + probability(k.logFamilyWise)
            + "</td><td class=\"num\">" + std::to_string(k.length) + "</td><td>"
            + (k.found ? "found" : "not found") + "</td></tr>\n";
    return s + "</table>\n";
}

} // namespace

std::string base64(const std::vector<std::uint8_t>& bytes)
{
    static const char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const std::uint32_t v = (bytes[i] << 16) | (bytes[i + 1] << 8) | bytes[i + 2];
        out += digits[v >> 18];
        out += digits[(v >> 12) & 63];
        out += digits[(v >> 6) & 63];
        out += digits[v & 63];
    }
    if (i < bytes.size()) {
        const bool two = i + 1 < bytes.size();
        const std::uint32_t v = (bytes[i] << 16) | (two ? bytes[i + 1] << 8 : 0);
        out += digits[v >> 18];
        out += digits[(v >> 12) & 63];
        out += two ? digits[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

std::string pictureDataUri(const Picture& picture, int maxSide)
{
    const int longer = std::max(picture.width(), picture.height());
    const double f = longer > maxSide ? double(maxSide) / longer : 1.0;
    const int w = std::max(1, int(std::lround(picture.width() * f)));
    const int h = std::max(1, int(std::lround(picture.height() * f)));
    // The mean of the source pixels each smaller pixel covers: a box filter, enough to look at.
    const PictureRef small = Picture::create(w, h, 24, true);
    for (int y = 0; y < h; ++y) {
        const int y0 = int(std::floor(y / f)),
                  y1 = std::max(y0 + 1, std::min(picture.height(), int((y + 1) / f)));
        for (int x = 0; x < w; ++x) {
            const int x0 = int(std::floor(x / f)),
                      x1 = std::max(x0 + 1, std::min(picture.width(), int((x + 1) / f)));
            long sum[3] = {0, 0, 0};
            for (int sy = y0; sy < y1; ++sy) {
                const std::uint8_t* p = picture.bits() + picture.stride() * std::size_t(picture.storedRow(sy))
                    + 3 * std::size_t(x0);
                for (int sx = x0; sx < x1; ++sx, p += 3)
                    for (int c = 0; c < 3; ++c)
                        sum[c] += p[c];
            }
            const long n = long(y1 - y0) * (x1 - x0);
            std::uint8_t* q = small->bits() + small->stride() * std::size_t(y) + 3 * std::size_t(x);
            for (int c = 0; c < 3; ++c)
                q[c] = std::uint8_t((sum[c] + n / 2) / n);
        }
    }
    return "data:image/jpeg;base64," + base64(encodePicture(*small, ImageFormat::Jpeg, 88));
}

PictureRef differencePicture(const Picture& a, const Picture& b, int gain)
{
    const PictureRef out = Picture::create(a.width(), a.height(), 24, true);
    const auto luma = [](const std::uint8_t* p) { return 0.114 * p[0] + 0.587 * p[1] + 0.299 * p[2]; };
    for (int y = 0; y < a.height(); ++y) {
        const std::uint8_t* pa = a.bits() + a.stride() * std::size_t(a.storedRow(y));
        const std::uint8_t* pb = b.bits() + b.stride() * std::size_t(b.storedRow(y));
        std::uint8_t* q = out->bits() + out->stride() * std::size_t(y);
        for (int x = 0; x < a.width(); ++x, pa += 3, pb += 3, q += 3) {
            const double d = std::min(255.0, gain * std::abs(luma(pa) - luma(pb)));
            q[0] = q[1] = q[2] = std::uint8_t(std::lround(255.0 - d));
        }
    }
    return out;
}

std::string shellLine(const std::vector<std::string>& words)
{
    std::string line;
    for (const std::string& w : words) {
        if (!line.empty()) line += ' ';
        const bool plain = !w.empty() && std::all_of(w.begin(), w.end(), [](char c) {
            return std::isalnum(static_cast<unsigned char>(c))
                || std::string_view("-_./=:,+@%").find(c) != std::string_view::npos;
        });
        if (plain) {
            line += w;
            continue;
        }
        line += '\'';
        for (char c : w)
            line += c == '\'' ? std::string("'\\''") : std::string(1, c);
        line += '\'';
    }
    return line;
}

std::string evidenceHtml(const EvidencePage& page)
{
    const bool found
        = std::any_of(page.keys.begin(), page.keys.end(), [](const EvidenceKey& k) { return k.found; });
    std::string s = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
                    "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
                    "<title>Evidence report: "
        + htmlEscape(page.suspectPath) + "</title>\n<style>" + kStyle + "</style>\n</head>\n<body>\n";
    s += "<h1>Evidence report</h1>\n<p class=\"sub\">Whose marked copy is " + htmlEscape(page.suspectPath)
        + "? · " + htmlEscape(page.date) + "</p>\n";
    s += std::string("<p id=\"verdict\" class=\"verdict ") + (found ? "found" : "missed") + "\">"
        + htmlEscape(page.verdict) + "</p>\n";
    if (!page.note.empty()) s += "<p id=\"note\">" + htmlEscape(page.note) + "</p>\n";

    if (page.original || page.suspect) {
        s += "<h2>Pictures</h2>\n<div class=\"pictures\">\n";
        s += figure(page.original, "The original: " + page.originalPath, "original");
        s += figure(page.suspect, "The suspect as found: " + page.suspectPath, "suspect");
        if (page.onGrid) {
            s += figure(page.onGrid,
                page.registration ? "The suspect registered onto the original's grid"
                                  : "The suspect as tested",
                "registered");
            if (page.original && page.original->width() == page.onGrid->width()
                && page.original->height() == page.onGrid->height()) {
                const PictureRef diff = differencePicture(*page.original, *page.onGrid, 8);
                s += figure(
                    diff.get(), "Difference from the original, luminance × 8 (white: equal)", "difference");
            }
        }
        s += "</div>\n";
    }

    s += "<h2>Registration</h2>\n";
    if (page.originalPath.empty())
        s += "<p>No original in the catalogue was confirmed for this suspect, so nothing was "
             "registered.</p>\n";
    else
        s += registrationTable(page.registration);

    s += "<h2>Detection</h2>\n";
    if (page.keys.empty())
        s += "<p>No key was tested.</p>\n";
    else
        s += keysTable(page);
    s += "<p class=\"model\" id=\"model\">How to read these figures. Each key is a sequence of N numbers "
         "drawn at "
         "random, independently, from a normal distribution with mean 0; the copy for each recipient carried "
         "its own key, added to the largest frequency components of the picture's brightness. To test a key, "
         "the changes between the original and the suspect at those components are correlated with the key: "
         "the similarity, 1 for a perfect match and around 0 for a key that was never embedded. Whatever the "
         "picture, the similarity of a key that was never embedded is that of a random direction in N "
         "dimensions against a fixed one: centred on 0, with a spread of about 1/√N (z = similarity × √N "
         "counts that spread), and its exact distribution is known (a beta distribution, or Student's t with "
         "N − 1 degrees of freedom). The false-positive probability is the exact chance that a "
         "never-embedded "
         "key of the same length reaches the observed similarity or more. "
        + (page.keysTested > 1 ? "Because " + std::to_string(page.keysTested)
                    + " keys were tested, the family-wise probability is the chance that any one of them, "
                      "never "
                      "embedded, would reach it by chance: 1 − ∏ (1 − p) over the keys. "
                               : std::string())
        + "Rule that decided: " + htmlEscape(page.rule) + ".</p>\n";

    s += "<h2>Files</h2>\n<table id=\"hashes\">\n<tr><th>file</th><th>SHA-256</th></tr>\n";
    s += "<tr><td>suspect: " + htmlEscape(page.suspectPath) + "</td><td class=\"hash\">"
        + htmlEscape(page.suspectSha256) + "</td></tr>\n";
    if (!page.originalPath.empty())
        s += "<tr><td>original: " + htmlEscape(page.originalPath) + "</td><td class=\"hash\">"
            + htmlEscape(page.originalSha256) + "</td></tr>\n";
    for (const EvidenceKey& k : page.keys)
        if (k.found)
            s += "<tr><td>key of " + htmlEscape(k.recipient) + " (N = " + std::to_string(k.length)
                + ", α = " + number(k.alpha, "%g") + ")</td><td class=\"hash\">" + htmlEscape(k.keySha256)
                + "</td></tr>\n";
    s += "</table>\n";

    bool anyRecord = false;
    std::string records
        = "<table id=\"record\">\n<tr><th>recipient</th><th>marked</th><th>copy written</th><th>its "
          "SHA-256</th><th>PSNR</th></tr>\n";
    for (const EvidenceKey& k : page.keys) {
        if (!k.found) continue;
        anyRecord = true;
        records += "<tr><td>" + htmlEscape(k.recipient) + "</td><td>"
            + htmlEscape(k.marked.empty() ? "-" : k.marked) + "</td><td>"
            + htmlEscape(k.output.empty() ? "-" : k.output) + "</td><td class=\"hash\">"
            + htmlEscape(k.outputSha256.empty() ? "-" : k.outputSha256) + "</td><td class=\"num\">"
            + (k.psnr ? number(*k.psnr, "%.2f") + " dB" : std::string("-")) + "</td></tr>\n";
    }
    if (anyRecord) s += "<h2>The catalogue's record</h2>\n" + records + "</table>\n";

    s += "<footer>Made by pelinor-cli " PELINOR_VERSION " on " + htmlEscape(page.date)
        + " with: " + htmlEscape(page.commandLine) + "</footer>\n</body>\n</html>\n";
    return s;
}

} // namespace pelinor::cli
