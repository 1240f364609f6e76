#include "cli/decision.h"

#include "watermark/evidence.h"

#include <cmath>
#include <cstdio>
#include <numbers>

namespace pelinor::cli {

namespace {

std::string number(const char* format, double v)
{
    char text[48];
    std::snprintf(text, sizeof text, format, v);
    return text;
}

} // namespace

DecisionRule decisionRule(const ParsedArgs& args)
{
    if (args.has("--threshold") && args.has("--max-false-positive"))
        throw UsageError("--threshold and --max-false-positive ask for two different rules: give one");
    // A similarity lies between -1 and 1 and that of a watermark never embedded scatters
    // around 0: a threshold of 0 or below finds about every other picture (-1 every one),
    // one of 1 none. Likewise a false-positive probability of 0.5 stands for a similarity of
    // 0, and more for a negative one.
    if (args.has("--threshold")) {
        const double threshold = args.real("--threshold", kDefaultThreshold);
        if (!(threshold > 0.0 && threshold < 1.0))
            throw UsageError("--threshold: " + *args.value("--threshold")
                + " is not a similarity between 0 and 1 (both excluded)");
        return DecisionRule::bySimilarity(threshold);
    }
    const double bound = args.real("--max-false-positive", kDefaultMaxFalsePositive);
    if (!(bound > 0.0 && bound < 0.5))
        throw UsageError("--max-false-positive: " + args.value("--max-false-positive").value_or("")
            + " is not a probability between 0 and 0.5 (both excluded)");
    return DecisionRule::byEvidence(bound);
}

const char* ruleName(const DecisionRule& rule)
{
    return rule.kind == DecisionRule::Kind::Evidence ? "evidence" : "similarity";
}

std::string ruleText(const DecisionRule& rule)
{
    if (rule.kind == DecisionRule::Kind::Evidence)
        return "evidence (false-positive probability at most " + number("%g", rule.maxFalsePositive) + ")";
    return "similarity (above " + number("%g", rule.threshold) + ")";
}

std::string verdictReason(const DetectResult& r)
{
    const std::string verdict = r.found ? "found" : "not found";
    if (r.byEvidence) {
        const double logP = std::isnan(r.logFamilyWise) ? r.logFalsePositive : r.logFamilyWise;
        const char* figure = std::isnan(r.logFamilyWise) ? "false-positive probability "
                                                         : "family-wise false-positive probability ";
        return verdict + ": " + figure + formatProbability(logP) + (r.found ? " <= " : " > ")
            + number("%g", r.maxFalsePositive);
    }
    std::string reason = verdict + ": similarity " + number("%.4f", r.similarity) + (r.found ? " > " : " <= ")
        + number("%g", r.threshold);
    if (std::isnan(r.logFalsePositive))
        reason += " (the false-positive probability does not hold for a watermark whose mean is not 0)";
    return reason;
}

void addFalsePositive(JsonObject& json, const DetectResult& r)
{
    if (std::isnan(r.logFalsePositive)) {
        json.addNull("false_positive_probability").addNull("log10_false_positive_probability");
        return;
    }
    json.add("false_positive_probability", r.falsePositive);
    if (std::isinf(r.logFalsePositive))
        json.addNull("log10_false_positive_probability");
    else
        json.add("log10_false_positive_probability", r.logFalsePositive / std::numbers::ln10);
}

void addRule(JsonObject& json, const DecisionRule& rule)
{
    json.add("rule", ruleName(rule)).add("threshold", rule.threshold);
    if (rule.kind == DecisionRule::Kind::Evidence)
        json.add("max_false_positive", rule.maxFalsePositive);
    else
        json.addNull("max_false_positive");
}

} // namespace pelinor::cli
