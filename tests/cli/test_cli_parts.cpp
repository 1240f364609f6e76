// The command line's JSON writer and its reports, checked piece by piece.
#include "cli/args.h"
#include "cli/decision.h"
#include "cli/io.h"
#include "cli/json.h"
#include "cli/progress.h"
#include "cli/report/report.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <limits>
#include <random>
#include <regex>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace pelinor::cli {
namespace {

// An option declares its range and default once; parsing reads them from there.
TEST(Options, RangeAndDefaultComeFromTheDeclaration)
{
    const Option whole{"--n", "N", "a number", nullptr, {1, 100, 90}};
    const Option real{"--r", "R", "a real", nullptr, {10, 100, 0}};
    const Option options[] = {whole, real};
    const auto parse = [&](Args args) { return ParsedArgs(args, options); };
    EXPECT_EQ(parse({}).integer(whole), 90);
    EXPECT_EQ(parse({}).real(real), 0.0); // not given: the default even outside the range
    EXPECT_EQ(parse({"--n", "1"}).integer(whole), 1);
    EXPECT_EQ(parse({"--n=100", "--r", "10"}).integer(whole), 100);
    EXPECT_EQ(parse({"--r", "100"}).real(real), 100.0);
    const struct {
        Args args;
        const Option* option;
        const char* message;
    } refused[] = {{{"--n", "0"}, &whole, "--n: 0 is outside 1..100"},
        {{"--n", "101"}, &whole, "--n: 101 is outside 1..100"},
        {{"--n", "5.5"}, &whole, "--n: '5.5' is not a whole number"},
        {{"--r", "9.99"}, &real, "--r: 9.99 is outside 10..100"}};
    for (const auto& c : refused) {
        try {
            const ParsedArgs a = parse(c.args);
            if (c.option == &whole)
                a.integer(*c.option);
            else
                a.real(*c.option);
            ADD_FAILURE() << c.message;
        } catch (const UsageError& e) {
            EXPECT_EQ(std::string(e.what()), c.message);
        }
    }
    // Shared options keep one declaration: --quality's range and default, --max-pixels' budget.
    EXPECT_EQ(ParsedArgs(Args{}, std::span(&kQualityOption, 1)).integer(kQualityOption), 90);
    EXPECT_EQ(
        ParsedArgs(Args{}, std::span(&kMaxPixelsOption, 1)).integer(kMaxPixelsOption), kDefaultMaxPixels);
}

// A threshold of 0 or below found every picture (-1 each one, 0 about every other) and one
// of 1 none; a false-positive bound of 0.5 or more stands for such a threshold. Both are
// taken strictly inside their ranges, the refusal naming the value as given.
TEST(Options, DecisionRulesAcceptOnlyMeaningfulBounds)
{
    const Option options[] = {kThresholdOption, kMaxFalsePositiveOption};
    const struct {
        Args args;
        const char* refusal; // null: accepted
        DecisionRule::Kind kind;
        double value; // the threshold or the bound
    } cases[] = {
        {{}, nullptr, DecisionRule::Kind::Evidence, 1e-9},
        {{"--threshold", "0.7"}, nullptr, DecisionRule::Kind::Similarity, 0.7},
        {{"--threshold", "1e-6"}, nullptr, DecisionRule::Kind::Similarity, 1e-6},
        {{"--threshold", "0.999"}, nullptr, DecisionRule::Kind::Similarity, 0.999},
        {{"--max-false-positive", "1e-300"}, nullptr, DecisionRule::Kind::Evidence, 1e-300},
        {{"--max-false-positive", "0.49"}, nullptr, DecisionRule::Kind::Evidence, 0.49},
        {{"--threshold", "-1"}, "--threshold: -1 is not a similarity between 0 and 1 (both excluded)", {}, 0},
        {{"--threshold", "0"}, "--threshold: 0 is not a similarity between 0 and 1 (both excluded)", {}, 0},
        {{"--threshold=-0"}, "--threshold: -0 is not a similarity between 0 and 1 (both excluded)", {}, 0},
        {{"--threshold", "1"}, "--threshold: 1 is not a similarity between 0 and 1 (both excluded)", {}, 0},
        {{"--threshold", "1.5"}, "--threshold: 1.5 is not a similarity between 0 and 1 (both excluded)", {},
            0},
        {{"--threshold", "nan"}, "--threshold: 'nan' is not a finite number", {}, 0},
        {{"--max-false-positive", "0"},
            "--max-false-positive: 0 is not a probability between 0 and 0.5 (both excluded)", {}, 0},
        {{"--max-false-positive", "-1e-9"},
            "--max-false-positive: -1e-9 is not a probability between 0 and 0.5 (both excluded)", {}, 0},
        {{"--max-false-positive", "0.5"},
            "--max-false-positive: 0.5 is not a probability between 0 and 0.5 (both excluded)", {}, 0},
        {{"--max-false-positive", "1"},
            "--max-false-positive: 1 is not a probability between 0 and 0.5 (both excluded)", {}, 0},
        {{"--max-false-positive", "1e-9", "--threshold", "0.7"},
            "--threshold and --max-false-positive ask for two different rules: give one", {}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        try {
            const DecisionRule rule = decisionRule(ParsedArgs(c.args, options));
            EXPECT_EQ(c.refusal, nullptr) << "accepted";
            EXPECT_EQ(rule.kind, c.kind);
            EXPECT_EQ(
                rule.kind == DecisionRule::Kind::Evidence ? rule.maxFalsePositive : rule.threshold, c.value);
        } catch (const UsageError& e) {
            EXPECT_STREQ(e.what(), c.refusal);
        }
    }
}

// Same file means same device and same inode: /proc and /sys both have inode 1 on their
// own file systems, and a link reaches the file it names.
TEST(Files, SameFileComparesDeviceAndInode)
{
    struct stat proc {
    }, sys{};
    ASSERT_EQ(stat("/proc", &proc), 0);
    ASSERT_EQ(stat("/sys", &sys), 0);
    if (proc.st_ino != sys.st_ino || proc.st_dev == sys.st_dev) GTEST_SKIP() << "/proc and /sys differ here";
    EXPECT_FALSE(sameFile("/proc", "/sys"));
    EXPECT_TRUE(sameFile("/proc", "/proc/."));
    const std::string dir = ::testing::TempDir();
    const std::string file = dir + "/same_file_target", link = dir + "/same_file_link";
    std::FILE* f = std::fopen(file.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
    std::remove(link.c_str());
    ASSERT_EQ(symlink(file.c_str(), link.c_str()), 0);
    EXPECT_TRUE(sameFile(file, link));
    EXPECT_FALSE(sameFile(file, dir + "/missing"));
    std::remove(link.c_str());
    std::remove(file.c_str());
}

TEST(Json, QuotesEveryByteSoThatTheTextReadsBack)
{
    const std::pair<std::string, std::string> cases[] = {
        {"plain name.png", R"("plain name.png")"},
        {"say \"hi\"", R"("say \"hi\"")"},
        {"C:\\dir\\a.bmp", R"("C:\\dir\\a.bmp")"},
        {"line\nfeed\rreturn\ttab", R"("line\nfeed\rreturn\ttab")"},
        {std::string("nul\0one\x01unit\x1f"
                     "del\x7f",
             17),
            R"("nul\u0000one\u0001unit\u001fdel\u007f")"},
        {"Žig je pronađen 😀", "\"Žig je pronađen 😀\""}, // valid UTF-8 passes through
        {"latin1 \xe9t\xe9", R"("latin1 \udce9t\udce9")"}, // each stray byte as a lone low surrogate
        {"cut \xc5", R"("cut \udcc5")"}, // a sequence cut off by the end
        {"cut \xe2\x82!", R"("cut \udce2\udc82!")"},
        {"overlong \xc0\xaf", R"("overlong \udcc0\udcaf")"},
        {"surrogate \xed\xa0\x80", R"("surrogate \udced\udca0\udc80")"},
        {"beyond \xf4\x90\x80\x80", R"("beyond \udcf4\udc90\udc80\udc80")"},
        {"lonely \x80 continuation", R"("lonely \udc80 continuation")"},
        {"", R"("")"},
    };
    for (const auto& [text, json] : cases)
        EXPECT_EQ(JsonObject::quote(text), json) << text;
}

TEST(Json, NumbersAreTheShortestTextThatReadsBackExactly)
{
    const std::pair<double, const char*> cases[]
        = {{0.7, "0.7"}, {0.1, "0.1"}, {0.1 + 0.2, "0.30000000000000004"}, {1.0, "1"}, {-2.5, "-2.5"},
            {1e21, "1e+21"}, {1.2028088981650298e-219, "1.2028088981650298e-219"},
            {std::numeric_limits<double>::infinity(), "null"},
            {-std::numeric_limits<double>::infinity(), "null"}, {std::nan(""), "null"}};
    for (const auto& [value, text] : cases)
        EXPECT_EQ(JsonObject::number(value), text);

    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    for (int i = 0; i < 2000; ++i) {
        const double value = std::ldexp(unit(rng), int(rng() % 200) - 100);
        const std::string text = JsonObject::number(value);
        EXPECT_EQ(std::strtod(text.c_str(), nullptr), value) << text;
        EXPECT_LE(text.size(), 24u) << text;
    }
}

TEST(Json, ObjectsAndArrays)
{
    JsonObject inner;
    inner.add("width", 3).add("ok", true);
    JsonArray list;
    EXPECT_EQ(list.str(), "[]");
    list.add(inner).add(JsonObject().addNull("none"));
    JsonObject o;
    o.add("schema", kJsonSchema).add("name", "a\"b").add("x", 0.25).add("big", 1LL << 40).add("inner", inner);
    o.add("list", list);
    EXPECT_EQ(o.str(),
        R"({"schema": 1, "name": "a\"b", "x": 0.25, "big": 1099511627776, "inner": {"width": 3, "ok": true}, )"
        R"("list": [{"width": 3, "ok": true},)"
        "\n"
        R"( {"none": null}]})");
}

EvaluationRow row(
    RowKind kind, Attack::Kind attack, const std::string& label, double similarity, double threshold)
{
    EvaluationRow r;
    r.kind = kind;
    r.attack.kind = attack;
    r.label = label;
    r.result.similarity = similarity;
    r.result.threshold = threshold;
    r.result.found = similarity > threshold;
    r.registered = r.result; // found as it stands, or nothing registration could add
    r.psnr = 30.0 + similarity;
    return r;
}

// An evaluation whose attack rows have the given similarities; the plain marked row and
// the control come first, as the battery makes them.
Evaluation evaluation(double threshold, double marked, double control, const std::vector<double>& attacked)
{
    Evaluation ev;
    ev.width = 64;
    ev.height = 48;
    ev.length = 100;
    ev.alpha = 0.1;
    ev.threshold = threshold;
    ev.changed = 100;
    ev.markedPsnr = 38.614;
    using K = Attack::Kind;
    ev.rows.push_back(row(RowKind::Marked, K::Jpeg, "marked, no attack", marked, threshold));
    ev.rows.push_back(row(RowKind::Control, K::Jpeg, "unmarked original", control, threshold));
    const K families[] = {K::Jpeg, K::Noise, K::Blur, K::Scale, K::Crop, K::Requantize};
    for (std::size_t i = 0; i < attacked.size(); ++i)
        ev.rows.push_back(
            row(RowKind::Attacked, families[i % 6], "attack " + std::to_string(i), attacked[i], threshold));
    ev.randomSimilarities = {0.01, -0.02, 0.0456};
    ev.randomMax = 0.0456;
    ev.randomP99 = 0.044;
    return ev;
}

bool contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

// The survival line, the headline cards and the summary follow the rows: only attack rows
// count (never the plain marked picture or the control), at the evaluation's own threshold;
// under the evidence rule they are counted by similarity above 0.7 as well.
TEST(Report, SurvivalAndHeadlinesFollowTheRows)
{
    const struct {
        double threshold, marked, control;
        std::vector<double> attacked;
        bool evidence;
        const char* bySimilarity; // the second count under the evidence rule
    } cases[] = {
        {0.7, 0.99, 0.0, {0.95, 0.71, 0.7, 0.2, 0.9}, false, ""},
        {0.65, 0.98, 0.9, {0.66, 0.64}, false, ""}, // a control above the threshold still does not count
        {0.5, 0.3, 0.0, {0.1, 0.2, 0.3}, false, ""},
        {0.7, 0.99, 0.0, {0.8, 0.8, 0.8, 0.8, 0.8, 0.8, 0.8, 0.8, 0.8, 0.8, 0.8, 0.8}, false, ""},
        {0.7, 0.99, 0.0, {}, false, ""},
        {0.5, 0.99, 0.0, {0.95, 0.71, 0.7, 0.6, 0.2}, true, "; by similarity above 0.7: 2 and 2\n"},
    };
    ReportInfo info;
    info.original = "photo.png";
    info.watermark = "key.wmk";
    for (const auto& c : cases) {
        Evaluation ev = evaluation(c.threshold, c.marked, c.control, c.attacked);
        if (c.evidence) ev.rule = DecisionRule::byEvidence(1e-9);
        ev.markedBanding = 3.25;
        int survived = 0;
        for (const double s : c.attacked)
            survived += s > c.threshold;
        const std::string k = std::to_string(survived), n = std::to_string(c.attacked.size());
        const std::string t = formatNumber(c.threshold, "%g");
        SCOPED_TRACE(k + " of " + n + " at " + t);

        const std::string counts = k + " of " + n + " attacks survived with registration, " + k + " without";
        const std::string headline = c.evidence
            ? "by evidence (false-positive probability at most 1e-09, a similarity above "
                + formatNumber(c.threshold, "%.4f") + " for N = 100): " + counts
            : "by similarity above " + t + ": " + counts;
        const std::string markdown = reportMarkdown(ev, info);
        EXPECT_TRUE(contains(markdown, "- " + headline + (c.evidence ? c.bySimilarity : "\n"))) << markdown;

        const std::string html = reportHtml(ev, info);
        const auto card = [&](const std::string& value, const std::string& caption) {
            EXPECT_TRUE(contains(html, "<b>" + value + "</b><span>" + caption + "</span>"))
                << value << " / " << caption;
        };
        card(k + " of " + n,
            "attacks survived with registration (" + k + " without) "
                + (c.evidence ? "by evidence, false-positive probability at most 1e-09; by similarity above "
                                "0.7: 2 (2 without)"
                              : "at threshold " + t));
        card("38.61 dB", "PSNR of the marked picture, banding 3.2 levels");
        card(formatNumber(c.marked, "%.4f"), "similarity, marked and untouched");
        card("0.046", "highest of 3 never-embedded watermarks");
        // Every row is in the table with its own verdict.
        for (const EvaluationRow& r : ev.rows)
            EXPECT_TRUE(contains(html,
                "<td>" + r.label + "</td><td>" + formatNumber(r.result.similarity, "%.4f") + "</td><td>"
                    + formatNumber(r.registered.similarity, "%.4f") + "</td><td class=\"verdict\">"
                    + verdictWord(r.result.found) + "</td>"))
                << r.label;

        const std::string json = reportJson(ev, info, "out");
        EXPECT_TRUE(contains(json, "\"attacks\": " + n + ", \"attacks_survived\": " + k + ",")) << json;
        EXPECT_TRUE(
            contains(json, std::string("\"rule\": \"") + (c.evidence ? "evidence" : "similarity") + "\""))
            << json;
        EXPECT_TRUE(contains(json, "\"schema\": 1,")) << json;
        EXPECT_TRUE(contains(json, "\"threshold\": " + JsonObject::number(c.threshold) + ",")) << json;
    }
}

// The progress line's estimate, from the pace so far.
TEST(Progress, TimeLeftFollowsThePaceSoFar)
{
    const struct {
        double elapsed;
        long long done, total;
        const char* text;
    } cases[] = {
        {5.0, 0, 100, "estimating the time left"},
        {10.0, 50, 100, "about 10 s left"},
        {1.0, 1, 60, "about 59 s left"},
        {1.0, 1, 61, "about 1 min 00 s left"},
        {125.0, 1, 2, "about 2 min 05 s left"},
        {3.0, 1, 2401, "about 2 h 00 min left"},
        {7.0, 100, 100, "about 0 s left"},
        {7.0, 120, 100, "about 0 s left"}, // more done than the total once thought
        {1e300, 1, 1000000, "about 277777 h 46 min left"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Progress::timeLeftText(c.elapsed, c.done, c.total), c.text) << c.elapsed << " " << c.done;
}

// A row whose picture changed size and could not be registered has no similarity at all:
// every writer says so in words, and no number, coordinate or cell reads "nan" or "inf".
TEST(Report, WritersNeverPrintNaNOrInfinity)
{
    Evaluation ev = evaluation(0.7, 0.99, 0.0, {0.9, 0.5, 0.4, 0.3});
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (std::size_t i : {std::size_t(3), std::size_t(5)}) { // a noise row, a scale row: charted families
        EvaluationRow& r = ev.rows[i];
        r.comparable = false;
        r.result.similarity = r.result.z = r.result.falsePositive = nan;
        r.result.found = false;
        r.registered = r.result;
        r.registrationError = "The suspect cannot be aligned";
        r.psnr = nan;
    }
    EvaluationRow copy = ev.rows[3];
    copy.kind = RowKind::Copy;
    copy.label = "a copy of another size";
    ev.rows.push_back(copy);
    ReportInfo info;
    info.original = "o.png";
    info.watermark = "k.wmk";
    const std::regex bad(R"(\b(nan|inf|infinity)\b)", std::regex::icase);
    for (const auto& [name, text] : {std::pair<std::string, std::string>{"csv", reportCsv(ev)},
             {"markdown", reportMarkdown(ev, info)}, {"html", reportHtml(ev, info)}}) {
        std::smatch m;
        EXPECT_FALSE(std::regex_search(text, m, bad)) << name << ": " << m.str() << "\n" << text;
    }
    EXPECT_TRUE(contains(reportMarkdown(ev, info), "| n/a | not found | n/a | not found | refused | n/a |"));
}

TEST(Report, JsonSummaryWritesNoInfinityAndNamesTheReports)
{
    Evaluation ev = evaluation(0.7, 0.99, 0.0, {0.9});
    ev.markedPsnr = std::numeric_limits<double>::infinity();
    ev.randomSimilarities.clear();
    ReportInfo info;
    info.original = "a\"b.png";
    info.watermark = "k.wmk";
    info.seed = 42;
    const std::string json = reportJson(ev, info, "dir");
    for (const char* part :
        {R"("original": "a\"b.png")", R"("marked_psnr_db": null)", R"("target_psnr_db": null)",
            R"("random_watermarks": 0, "random_max_similarity": null, "random_p99_similarity": null)",
            R"("seed": 42)",
            R"("reports": {"csv": "dir/report.csv", "markdown": "dir/report.md", "html": "dir/report.html"})",
            R"({"family": "none", "attack": "marked, no attack", "parameter": 0, "similarity": 0.99, "found": true)",
            R"({"family": "control", "attack": "unmarked original")"})
        EXPECT_TRUE(contains(json, part)) << part << "\n" << json;
    EXPECT_EQ(json.find("inf"), std::string::npos) << json;
}

} // namespace
} // namespace pelinor::cli
