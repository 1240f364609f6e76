// How the command line decides "found": by the evidence (the false-positive probability,
// at most --max-false-positive, 1e-9 by default), or on request by the classic similarity
// rule (--threshold T, 0.7 in the desktop program); and how a verdict and its reason are printed.
#pragma once

#include "cli/args.h"
#include "cli/json.h"
#include "watermark/detector.h"

#include <string>

namespace pelinor::cli {

inline constexpr Option kThresholdOption{"--threshold", "T",
    "decide by the similarity instead: found when it is above T (the\ndesktop program's rule, with T = 0.7)"};
inline constexpr Option kMaxFalsePositiveOption{"--max-false-positive", "P",
    "found when the false-positive probability is at most P (default\n1e-9, about six standard deviations)"};

// The rule the options ask for; both at once is a UsageError.
DecisionRule decisionRule(const ParsedArgs& args);

// "found: false-positive probability 2.7e-80 <= 1e-09", "not found: similarity 0.41 <= 0.7", ...
std::string verdictReason(const DetectResult& r);
// "evidence (false-positive probability at most 1e-09)" or "similarity (above 0.7)".
std::string ruleText(const DecisionRule& rule);
// "evidence" or "similarity".
const char* ruleName(const DecisionRule& rule);

// The figures of one result: "false_positive_probability" (null when it does not hold, 0
// where it is below the smallest double), "log10_false_positive_probability" (exact however
// small; null when it does not hold, or when it is 0 exactly).
void addFalsePositive(JsonObject& json, const DetectResult& r);
// "rule", "threshold" and "max_false_positive" (null under the similarity rule).
void addRule(JsonObject& json, const DecisionRule& rule);

} // namespace pelinor::cli
