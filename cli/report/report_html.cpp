// The HTML report: one self-contained page, styles inline, charts as inline SVG, no
// scripts and nothing fetched from anywhere.

#include "cli/report/report.h"
#include "cli/report/svg_chart.h"

#include <cmath>
#include <string>

namespace pelinor::cli {

namespace {

const char kStyle[] = R"(
:root { --ink: #1d2329; --muted: #5b6672; --line: #d5dbe1; --ok: #1a7f37; --bad: #c62828; --accent: #2f6fb2; }
* { box-sizing: border-box; }
body { font: 15px/1.45 system-ui, -apple-system, "Segoe UI", Roboto, sans-serif; color: var(--ink);
       margin: 0 auto; max-width: 920px; padding: 24px; background: #fafbfc; }
h1 { margin: 0 0 4px; font-size: 26px; }
h2 { font-size: 18px; margin: 28px 0 8px; }
.sub { color: var(--muted); margin: 0; }
.cards { display: grid; grid-template-columns: repeat(4, 1fr); gap: 12px; margin-top: 18px; }
.card { background: #fff; border: 1px solid var(--line); border-radius: 8px; padding: 10px 14px; }
.card b { display: block; font-size: 22px; }
.card span { color: var(--muted); font-size: 13px; }
.grid { display: grid; grid-template-columns: repeat(2, 1fr); gap: 12px; }
.chart { background: #fff; border: 1px solid var(--line); border-radius: 8px; max-width: 100%; height: auto; }
.chart .title { font-weight: 600; font-size: 14px; fill: var(--ink); }
.chart .tick { font-size: 11px; fill: var(--muted); }
.chart .label { font-size: 12px; fill: var(--muted); }
.chart .note { font-size: 11px; fill: var(--ink); }
.chart .grid { stroke: #eef1f4; }
.chart .axis { stroke: #8a949e; }
.chart .threshold { stroke: var(--bad); stroke-dasharray: 6 4; }
.chart .embedded { stroke: var(--ok); stroke-width: 2; }
.chart .p99 { stroke: #8a949e; stroke-dasharray: 2 3; }
.chart .series { fill: none; stroke: var(--accent); stroke-width: 2; }
.chart .found { fill: var(--ok); }
.chart .missed { fill: var(--bad); }
.chart .bar { fill: var(--accent); }
.chart .plainbar { fill: #b8c7d6; }
table { border-collapse: collapse; width: 100%; background: #fff; border: 1px solid var(--line); }
th, td { padding: 5px 10px; border-bottom: 1px solid var(--line); text-align: right; }
th:first-child, td:first-child, td.verdict { text-align: left; }
th { background: #f0f3f6; font-weight: 600; }
tr.found td.verdict { color: var(--ok); font-weight: 600; }
tr.missed td.verdict { color: var(--bad); font-weight: 600; }
tr.plain td { background: #f6f8fa; }
footer { color: var(--muted); font-size: 12px; margin-top: 24px; }
)";

struct Family {
    const char* key;
    const char* title;
    const char* xLabel;
    double untouched; // the parameter at which the picture is unchanged, drawn from the plain marked row
    double scale; // displayed x = parameter * scale
};

const Family kFamilies[] = {
    {"noise", "Gaussian noise", "noise σ (grey levels)", 0.0, 1.0},
    {"blur", "Gaussian blur", "blur σ (pixels)", 0.0, 1.0},
    {"scale", "Scaling down and back", "scale factor", 1.0, 1.0},
    {"crop", "Cropping (rest from the original)", "area kept (%)", 1.0, 100.0},
    {"requantize", "Requantization", "levels per channel", 256.0, 1.0},
};

LineChart familyChart(
    const Evaluation& ev, const std::string& key, const std::string& title, const std::string& xLabel)
{
    LineChart c;
    c.title = title;
    c.xLabel = xLabel;
    c.threshold = ev.threshold;
    for (const EvaluationRow& r : ev.rows) {
        if (r.kind != RowKind::Attacked || attackName(r.attack.kind) != key) continue;
        c.points.emplace_back(r.attack.parameter, r.result.similarity);
        c.pointLabels.push_back(r.label);
    }
    return c;
}

std::string card(const std::string& value, const std::string& caption)
{
    return "<div class=\"card\"><b>" + htmlEscape(value) + "</b><span>" + htmlEscape(caption)
        + "</span></div>\n";
}

std::string resultsTable(const Evaluation& ev)
{
    std::string s = "<table id=\"results\">\n<thead><tr><th>attack</th><th>similarity</th><th>with "
                    "registration</th><th>verdict</th><th>registration</th><th>z</th>"
                    "<th>false-positive probability</th><th>PSNR (dB)</th></tr></thead>\n<tbody>\n";
    for (const EvaluationRow& r : ev.rows) {
        std::string cls = r.registered.found ? "found" : "missed";
        if (r.kind == RowKind::Marked || r.kind == RowKind::Control) cls += " plain";
        s += "<tr class=\"" + cls + "\"><td>" + htmlEscape(r.label) + "</td><td>" + plainSimilarity(r, "%.4f")
            + "</td><td>" + formatNumber(r.registered.similarity, "%.4f") + "</td><td class=\"verdict\">"
            + verdictWord(r.registered.found) + "</td><td>" + htmlEscape(registrationSummary(r)) + "</td><td>"
            + formatNumber(r.registered.z, "%.1f") + "</td><td>"
            + formatNumber(r.registered.falsePositive, "%.2g") + "</td><td>" + formatPsnr(r.psnr, "∞")
            + "</td></tr>\n";
    }
    return s + "</tbody>\n</table>\n";
}

// The copies registration brings back: each attack as the picture stands and registered.
PairedBars geometricChart(const Evaluation& ev)
{
    PairedBars c;
    c.title = "Similarity as the copy stands and registered";
    c.threshold = ev.threshold;
    for (const EvaluationRow& r : ev.rows) {
        if (r.kind != RowKind::Copy) continue;
        c.labels.push_back(r.label);
        c.without.push_back(r.comparable ? r.result.similarity : NAN);
        c.with.push_back(r.registered.similarity);
    }
    return c;
}

} // namespace

std::string reportHtml(const Evaluation& ev, const ReportInfo& info)
{
    int attacks = 0;
    const int registered = survivedAttacks(ev, &attacks, true);
    std::string survival = "attacks survived with registration ("
        + std::to_string(survivedAttacks(ev, nullptr)) + " without) ";
    if (ev.rule.kind == DecisionRule::Kind::Evidence)
        survival += "by evidence, false-positive probability at most "
            + formatNumber(ev.rule.maxFalsePositive, "%g") + "; by similarity above "
            + formatNumber(kDefaultThreshold, "%g") + ": " + std::to_string(survivedBySimilarity(ev, true))
            + " (" + std::to_string(survivedBySimilarity(ev, false)) + " without)";
    else
        survival += "at threshold " + formatNumber(ev.threshold, "%g");
    std::string s = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
                    "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
                    "<title>Robustness report: "
        + htmlEscape(info.original) + "</title>\n<style>" + kStyle + "</style>\n</head>\n<body>\n";
    s += "<h1>Robustness report</h1>\n<p class=\"sub\">" + htmlEscape(info.original) + " · "
        + std::to_string(ev.width) + " × " + std::to_string(ev.height) + " pixels · watermark "
        + htmlEscape(info.watermark) + " (" + htmlEscape(strengthText(ev, "α")) + ")</p>\n";

    s += "<div class=\"cards\">\n";
    // Banding beside the PSNR: the PSNR alone hides a faint pattern in a smooth sky.
    s += card(formatPsnr(ev.markedPsnr, "∞") + " dB",
        "PSNR of the marked picture, banding " + formatNumber(ev.markedBanding, "%.1f") + " levels");
    s += card(formatNumber(ev.embeddedSimilarity(), "%.4f"), "similarity, marked and untouched");
    s += card(std::to_string(registered) + " of " + std::to_string(attacks), survival);
    s += card(formatNumber(ev.randomMax, "%.3f"),
        "highest of " + std::to_string(ev.randomSimilarities.size()) + " never-embedded watermarks");
    s += "</div>\n";

    LineChart jpeg = familyChart(ev, "jpeg", "Similarity against JPEG quality", "JPEG quality");
    jpeg.reverseX = true;
    s += "<h2>JPEG recompression</h2>\n" + svgLineChart(jpeg, 860, 300);

    s += "<h2>Other attacks</h2>\n<div class=\"grid\">\n";
    for (const Family& f : kFamilies) {
        LineChart c = familyChart(ev, f.key, f.title, f.xLabel);
        if (c.points.empty()) continue;
        c.points.insert(c.points.begin(), {f.untouched, ev.embeddedSimilarity()});
        c.pointLabels.insert(c.pointLabels.begin(), "no attack");
        for (auto& p : c.points)
            p.first *= f.scale;
        c.reverseX = f.untouched > 0; // the untouched end on the left
        c.logX = std::string(f.key) == "requantize";
        s += svgLineChart(c);
    }
    s += "</div>\n";

    const PairedBars geometric = geometricChart(ev);
    if (!geometric.labels.empty())
        s += "<h2>Moved, resized and re-toned copies</h2>\n<p>Each copy as it stands and registered onto the "
             "original's grid first (found from the pictures alone, never from the watermark).</p>\n"
            + svgPairedBars(geometric);

    Histogram h;
    h.title = "Never-embedded watermarks against the marked picture";
    h.values = ev.randomSimilarities;
    h.embedded = ev.embeddedSimilarity();
    h.threshold = ev.threshold;
    h.percentile99 = ev.randomP99;
    s += "<h2>False positives</h2>\n<p>" + std::to_string(ev.randomSimilarities.size())
        + " random watermarks of the same length and distribution, never embedded: highest similarity "
        + formatNumber(ev.randomMax, "%.4f") + ", 99th percentile " + formatNumber(ev.randomP99, "%.4f")
        + ". The embedded watermark reaches " + formatNumber(ev.embeddedSimilarity(), "%.4f") + "."
        + (ev.registeredRows > 0 ? " Against the " + std::to_string(ev.registeredRows)
                    + " registered copies the same watermarks reach at most "
                    + formatNumber(ev.registeredRandomMax, "%.4f") + "."
                                 : std::string())
        + "</p>\n" + svgHistogram(h);

    s += "<h2>All results</h2>\n" + resultsTable(ev);
    s += "<footer>Made by pelinor-cli " PELINOR_VERSION " in " + formatNumber(info.seconds, "%.2f")
        + " s; seed " + std::to_string(info.seed)
        + ". PSNR is measured against the original over all three "
          "channels (for a copy of another size, its registered copy); z = similarity × "
          "√N.</footer>\n</body>\n</html>\n";
    return s;
}

} // namespace pelinor::cli
