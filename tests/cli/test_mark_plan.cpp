// mark's plan: recipients files, names made safe for file names, outputs that would clash.
#include "cli/args.h"
#include "cli/mark_plan.h"

#include <gtest/gtest.h>

namespace pelinor::cli {
namespace {

TEST(MarkPlan, SafeNames)
{
    const std::pair<const char*, const char*> cases[] = {
        {"Client B", "Client_B"},
        {"Klijent Č/ž", "Klijent_Č_ž"},
        {"a/../../etc", "a_.._.._etc"},
        {"../x", "x"},
        {"-rf", "rf"},
        {"  spaced   out  ", "spaced_out"},
        {"a:b*c?d\"e<f>g|h", "a_b_c_d_e_f_g_h"},
        {"/", "recipient"},
        {"", "recipient"},
        {"x\ty\nz", "x_y_z"},
        {"Ana-Marija_2.0", "Ana-Marija_2.0"},
    };
    for (const auto& [name, safe] : cases)
        EXPECT_EQ(safeName(name), safe) << name;
}

TEST(MarkPlan, RecipientsFile)
{
    const std::vector<Recipient> r
        = parseRecipients("# who gets a copy\nAna\n\n  Ben Horvat \t agency, Zagreb \r\nČedo\t\n", "r.txt");
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(r[0].name, "Ana");
    EXPECT_EQ(r[1].name, "Ben Horvat");
    EXPECT_EQ(r[1].note, "agency, Zagreb");
    EXPECT_EQ(r[2].name, "Čedo");
    EXPECT_EQ(r[2].note, "");
    EXPECT_TRUE(parseRecipients("", "r.txt").empty());
    try {
        parseRecipients("Ana\n\tonly a note\n", "r.txt");
        ADD_FAILURE() << "a note without a name was taken";
    } catch (const FileError& e) {
        EXPECT_NE(std::string(e.what()).find("r.txt: line 2"), std::string::npos) << e.what();
    }
}

TEST(MarkPlan, OutputsAndClashes)
{
    const std::vector<Recipient> people{{"Ana", ""}, {"Ben B", ""}};
    std::vector<MarkItem> items = planMarks({"a/DSC_1.JPG", "b.tiff"}, people, "out");
    ASSERT_EQ(items.size(), 4u);
    EXPECT_EQ(items[0].output, "out/DSC_1-Ana.JPG");
    EXPECT_EQ(items[1].output, "out/DSC_1-Ben_B.JPG");
    EXPECT_EQ(items[3].output, "out/b-Ben_B.tiff");
    for (const MarkItem& i : items)
        EXPECT_TRUE(i.refusal.empty()) << i.refusal;
    // Two photos of one name, or two names made safe alike, would write one file twice.
    items = planMarks({"a/x.png", "b/x.png"}, {{"Ana", ""}}, "out");
    EXPECT_TRUE(items[0].refusal.empty());
    EXPECT_NE(items[1].refusal.find("is also the output of a/x.png for Ana"), std::string::npos)
        << items[1].refusal;
    items = planMarks({"x.png"}, {{"Ben B", ""}, {"Ben/B", ""}}, "out");
    EXPECT_NE(items[1].refusal.find("is also the output of"), std::string::npos);
    // A format the tool does not write becomes BMP.
    EXPECT_EQ(planMarks({"scan.gif"}, {{"Ana", ""}}, "o")[0].output, "o/scan-Ana.bmp");
}

} // namespace
} // namespace pelinor::cli
