// The evaluation report: CSV, Markdown and a self-contained HTML page.
#pragma once

#include "lab/evaluation.h"

#include <string>

namespace pelinor::cli {

struct ReportInfo {
    std::string original; // paths as given
    std::string watermark;
    std::uint64_t seed = 0;
    double seconds = 0.0; // wall time of the evaluation
};

std::string reportCsv(const Evaluation& ev);
std::string reportMarkdown(const Evaluation& ev, const ReportInfo& info);
std::string reportHtml(const Evaluation& ev, const ReportInfo& info);
// The summary and the rows as one JSON object (docs/json.md); `dir` is where the reports went.
std::string reportJson(const Evaluation& ev, const ReportInfo& info, const std::string& dir);

// Shared by the three: "0.9871", "37.52" / "inf", "found" / "not found".
std::string formatNumber(double v, const char* format);
std::string formatPsnr(double db, const char* infinite);
const char* verdictWord(bool found);
// "N = 1000, alpha = 0.1", with the target PSNR when alpha was chosen for one.
std::string strengthText(const Evaluation& ev, const char* alphaName);
// How many rows of the battery (not the plain marked picture or the control) still detect,
// as the picture stands or with registration.
int survivedAttacks(const Evaluation& ev, int* attacks, bool registered = false);
// The same counted by the classic rule, similarity above 0.7, whatever rule decided.
int survivedBySimilarity(const Evaluation& ev, bool registered);
// The headline, counted both ways under the evidence rule: "by evidence (false-positive
// probability at most 1e-09, a similarity above 0.1889 for N = 1000): 30 of 32 attacks
// survived with registration, 24 without; by similarity above 0.7: 22 and 15".
std::string survivalText(const Evaluation& ev);
// The similarity of a row as the picture stands, "n/a" where the attack changed its size.
std::string plainSimilarity(const EvaluationRow& row, const char* format);
// What registration did for a row: "not needed", the method, or "refused".
std::string registrationSummary(const EvaluationRow& row);

} // namespace pelinor::cli
