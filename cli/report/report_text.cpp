#include "cli/decision.h"
#include "cli/json.h"
#include "cli/registration_output.h"
#include "cli/report/report.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <numbers>

namespace pelinor::cli {

std::string formatNumber(double v, const char* format)
{
    // A value that does not exist (a plain result on a picture of another size that
    // registration could not align either) is written as such, never as "nan".
    if (!std::isfinite(v)) return "n/a";
    char buf[64];
    std::snprintf(buf, sizeof buf, format, v);
    return buf;
}

std::string formatPsnr(double db, const char* infinite)
{
    if (std::isnan(db)) return "–";
    return std::isinf(db) ? std::string(infinite) : formatNumber(db, "%.2f");
}

const char* verdictWord(bool found)
{
    return found ? "found" : "not found";
}

std::string strengthText(const Evaluation& ev, const char* alphaName)
{
    std::string s
        = "N = " + std::to_string(ev.length) + ", " + alphaName + " = " + formatNumber(ev.alpha, "%.6g");
    if (ev.targetPsnr > 0) s += " chosen for a PSNR of at least " + formatNumber(ev.targetPsnr, "%g") + " dB";
    return s;
}

int survivedAttacks(const Evaluation& ev, int* attacks, bool registered)
{
    int survived = 0, total = 0;
    for (const EvaluationRow& r : ev.rows) {
        if (r.kind == RowKind::Marked || r.kind == RowKind::Control) continue;
        ++total;
        survived += registered ? r.registered.found : r.result.found;
    }
    if (attacks) *attacks = total;
    return survived;
}

int survivedBySimilarity(const Evaluation& ev, bool registered)
{
    int survived = 0;
    for (const EvaluationRow& r : ev.rows) {
        if (r.kind == RowKind::Marked || r.kind == RowKind::Control) continue;
        survived += (registered ? r.registered.similarity : r.result.similarity) > kDefaultThreshold;
    }
    return survived;
}

std::string survivalText(const Evaluation& ev)
{
    int attacks = 0;
    const int plain = survivedAttacks(ev, &attacks), registered = survivedAttacks(ev, nullptr, true);
    const std::string counts = std::to_string(registered) + " of " + std::to_string(attacks)
        + " attacks survived with registration, " + std::to_string(plain) + " without";
    if (ev.rule.kind != DecisionRule::Kind::Evidence)
        return "by similarity above " + formatNumber(ev.threshold, "%g") + ": " + counts;
    return "by evidence (false-positive probability at most " + formatNumber(ev.rule.maxFalsePositive, "%g")
        + (std::isfinite(ev.threshold) ? ", a similarity above " + formatNumber(ev.threshold, "%.4f")
                                       : std::string())
        + " for N = " + std::to_string(ev.length) + "): " + counts + "; by similarity above "
        + formatNumber(kDefaultThreshold, "%g") + ": " + std::to_string(survivedBySimilarity(ev, true))
        + " and " + std::to_string(survivedBySimilarity(ev, false));
}

std::string plainSimilarity(const EvaluationRow& row, const char* format)
{
    return row.comparable ? formatNumber(row.result.similarity, format) : "n/a";
}

std::string registrationSummary(const EvaluationRow& row)
{
    if (!row.registration) return row.registrationError.empty() ? "not needed" : "refused";
    const Registration& r = *row.registration;
    return r.method + (r.mirrored ? ", mirrored" : "") + (r.tone == "none" ? "" : ", tone curve");
}

namespace {

// Empty for a value that does not exist (a plain result on a picture of another size).
std::string csvNumber(double v, const char* format)
{
    return std::isfinite(v) ? formatNumber(v, format) : std::string();
}

} // namespace

std::string reportCsv(const Evaluation& ev)
{
    std::string s = "family,attack,parameter,similarity,found,z,false_positive_probability,psnr_db,"
                    "registered_similarity,registered_found,registration\n";
    for (const EvaluationRow& r : ev.rows) {
        s += rowFamily(r) + ",\"" + r.label + "\"," + formatNumber(r.attack.parameter, "%g") + ","
            + csvNumber(r.result.similarity, "%.6f") + "," + (r.result.found ? "1" : "0") + ","
            + csvNumber(r.result.z, "%.3f") + "," + csvNumber(r.result.falsePositive, "%.3g") + ","
            + (std::isnan(r.psnr) ? std::string() : formatPsnr(r.psnr, "inf")) + ","
            + csvNumber(r.registered.similarity, "%.6f") + "," + (r.registered.found ? "1" : "0") + "," + "\""
            + registrationSummary(r) + "\"\n";
    }
    return s;
}

std::string reportMarkdown(const Evaluation& ev, const ReportInfo& info)
{
    std::string s = "# Robustness report\n\n";
    s += "- original: `" + info.original + "` (" + sizeText(ev.width, ev.height) + ")\n";
    s += "- watermark: `" + info.watermark + "` (" + strengthText(ev, "alpha") + "), "
        + std::to_string(ev.changed) + " coefficients changed\n";
    s += "- marked picture: PSNR " + formatPsnr(ev.markedPsnr, "inf") + " dB against the original, banding "
        + formatNumber(ev.markedBanding, "%.1f") + " levels\n";
    if (ev.minPsnr > 0 && ev.alpha != ev.keyAlpha)
        s += "- alpha lowered from " + formatNumber(ev.keyAlpha, "%g") + " to "
            + formatNumber(ev.alpha, "%.6g") + " for the quality floor (PSNR at least "
            + formatNumber(ev.minPsnr, "%g") + " dB, banding at most "
            + formatNumber(kDefaultMaxBanding, "%g") + " levels), as embed does\n";
    s += "- each attacked copy is tested as it stands and with registration (detect's default): registered "
         "onto the original's grid when it is of another size or the mark is not found as it stands\n";
    s += "- " + survivalText(ev) + "\n\n";
    s += "| attack | similarity | verdict | with registration | verdict | registration | z | PSNR (dB) |\n"
         "|---|---:|---|---:|---|---|---:|---:|\n";
    for (const EvaluationRow& r : ev.rows) {
        s += "| " + r.label + " | " + plainSimilarity(r, "%.4f") + " | " + verdictWord(r.result.found) + " | "
            + formatNumber(r.registered.similarity, "%.4f") + " | " + verdictWord(r.registered.found) + " | "
            + registrationSummary(r) + " | " + formatNumber(r.registered.z, "%.1f") + " | "
            + formatPsnr(r.psnr, "∞") + " |\n";
    }
    s += "\n## False positives\n\n";
    s += std::to_string(ev.randomSimilarities.size())
        + " random watermarks that were never embedded (same length and distribution, seed "
        + std::to_string(info.seed) + "), tested against the marked picture: maximum similarity "
        + formatNumber(ev.randomMax, "%.4f") + ", 99th percentile " + formatNumber(ev.randomP99, "%.4f")
        + "; the embedded watermark reaches " + formatNumber(ev.embeddedSimilarity(), "%.4f") + ".\n";
    if (ev.registeredRows > 0)
        s += "\nThe same watermarks against the " + std::to_string(ev.registeredRows)
            + " registered pictures: maximum similarity " + formatNumber(ev.registeredRandomMax, "%.4f")
            + ".\n";
    return s;
}

std::string reportJson(const Evaluation& ev, const ReportInfo& info, const std::string& dir)
{
    int attacks = 0;
    const int survived = survivedAttacks(ev, &attacks);
    const auto inDir = [&](const char* name) { return (std::filesystem::path(dir) / name).string(); };
    JsonObject reports;
    reports.add("csv", inDir("report.csv"))
        .add("markdown", inDir("report.md"))
        .add("html", inDir("report.html"));
    JsonArray rows;
    for (const EvaluationRow& r : ev.rows) {
        JsonObject row;
        row.add("family", rowFamily(r))
            .add("attack", r.label)
            .add("parameter", r.attack.parameter)
            .add("similarity", r.result.similarity)
            .add("found", r.result.found)
            .add("z", r.result.z)
            .add("false_positive_probability", r.result.falsePositive)
            .add("log10_false_positive_probability", r.result.logFalsePositive / std::numbers::ln10)
            .add("psnr_db", r.psnr)
            .add("registered_similarity", r.registered.similarity)
            .add("registered_found", r.registered.found);
        addRegistration(row, r.registration);
        rows.add(row);
    }
    JsonObject o;
    o.add("schema", kJsonSchema)
        .add("original", info.original)
        .add("watermark", info.watermark)
        .add("width", ev.width)
        .add("height", ev.height)
        .add("length", ev.length)
        .add("alpha", ev.alpha);
    if (ev.targetPsnr > 0)
        o.add("target_psnr_db", ev.targetPsnr);
    else
        o.addNull("target_psnr_db");
    o.add("rule", ruleName(ev.rule))
        .add("threshold", ev.threshold)
        .add("max_false_positive",
            ev.rule.kind == DecisionRule::Kind::Evidence ? ev.rule.maxFalsePositive : NAN)
        .add("coefficients_changed", ev.changed)
        .add("marked_psnr_db", ev.markedPsnr)
        .add("marked_banding_levels", ev.markedBanding)
        .add("key_alpha", ev.keyAlpha)
        .add("min_psnr_db", ev.minPsnr)
        .add("similarity", ev.embeddedSimilarity())
        .add("attacks", attacks)
        .add("attacks_survived", survived)
        .add("attacks_survived_registered", survivedAttacks(ev, nullptr, true))
        .add("attacks_survived_by_similarity", survivedBySimilarity(ev, false))
        .add("attacks_survived_registered_by_similarity", survivedBySimilarity(ev, true))
        .add("registered_pictures", ev.registeredRows)
        .add("random_watermarks", static_cast<long long>(ev.randomSimilarities.size()));
    if (ev.randomSimilarities.empty())
        o.addNull("random_max_similarity").addNull("random_p99_similarity");
    else
        o.add("random_max_similarity", ev.randomMax).add("random_p99_similarity", ev.randomP99);
    if (ev.registeredRows > 0 && !ev.randomSimilarities.empty())
        o.add("registered_random_max_similarity", ev.registeredRandomMax);
    else
        o.addNull("registered_random_max_similarity");
    o.add("seed", static_cast<long long>(info.seed))
        .add("seconds", info.seconds)
        .add("reports", reports)
        .add("rows", rows);
    return o.str();
}

} // namespace pelinor::cli
