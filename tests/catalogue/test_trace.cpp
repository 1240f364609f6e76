// Trace: from a suspect to the original it was made from and the recipients whose keys are
// in it, by the family-wise evidence over every key tested.
#include "catalogue/original.h"
#include "catalogue/trace.h"
#include "lab/attacks.h"
#include "tests/test_support.h"
#include "watermark/embed.h"

#include <cmath>
#include <filesystem>
#include <map>
#include <set>

namespace pelinor {
namespace {

using test::TempDir;

// One photo marked for four recipients, each copy recorded as mark records it.
struct Marked {
    TempDir dir;
    std::unique_ptr<Catalogue> catalogue;
    std::string originalPath;
    PictureRef original;
    std::map<std::string, PictureRef> copies;

    Marked()
    {
        catalogue = Catalogue::open(dir.file("cat.sqlite"), true);
        originalPath = dir.file("DSC_0412.png");
        std::filesystem::copy_file(std::string(PELINOR_SOURCE_DIR) + "/samples/chelsea.png", originalPath);
        original = loadPicture(originalPath);
        add(originalPath, *original, {"Ana", "Bruno", "Cvita", "Dora"}, 1);
    }

    // Marks the picture at `path` for each name, with seeds from `seed` on.
    void add(const std::string& path, const Picture& picture, std::initializer_list<const char*> names,
        std::uint32_t seed)
    {
        OriginalRecord record = describeOriginal(path, picture);
        for (const char* name : names) {
            const KeySeed keySeed{seed++, 7, 7, 7, 7, 7, 7, 7};
            const Watermark key = generateWatermark(keySeed, 1000, 0.1, 0.0, 1.0);
            PictureRef copy = embedWatermark(picture, key, Depths::Any).marked;
            catalogue->transaction([&] {
                catalogue->addOriginal(record);
                KeyRecord k;
                k.originalId = record.id;
                k.recipientId = catalogue->addRecipient(name);
                k.length = key.length;
                k.alpha = key.alpha;
                k.source = "generated";
                catalogue->addKey(k, KeyMaterial{keySeed, {}});
                MarkRecord m;
                m.originalId = record.id;
                m.recipientId = k.recipientId;
                m.keyId = k.id;
                m.output = dir.file(std::string("DSC_0412-") + name + ".png");
                const long long id = catalogue->addMark(m);
                catalogue->finishMark(id, "00", 40.0, 0.99);
            });
            copies[name] = std::move(copy);
        }
    }
};

// The mean of several copies, pixel by pixel: what colluders who average their copies send.
PictureRef average(const std::vector<const Picture*>& copies)
{
    const Picture& first = *copies.front();
    return test::makePicture(first.width(), first.height(), [&](int x, int y, int c) {
        int sum = 0;
        for (const Picture* p : copies)
            sum += test::pixelAt(*p, x, y)[c];
        return (sum + int(copies.size()) / 2) / int(copies.size());
    });
}

std::set<std::string> foundNames(const TraceResult& r)
{
    std::set<std::string> names;
    for (const TracedKey* k : r.found())
        names.insert(k->recipient);
    return names;
}

struct TraceCase {
    const char* name;
    std::function<PictureRef(Marked&)> suspect;
    std::set<std::string> found;
};

TEST(Trace, NamesTheRecipientsWhoseKeysAreInTheCopy)
{
    const TraceCase cases[] = {
        {"Bruno's copy as it was written", [](Marked& m) { return m.copies["Bruno"]->clone(); }, {"Bruno"}},
        {"Cvita's copy, cropped 5 %, brightened, made smaller, JPEG 80",
            [](Marked& m) {
                return attackJpeg(
                    *attackResize(*attackTone(*attackCropTo(*m.copies["Cvita"], 0.95), 1.1, 10), 0.8), 80);
            },
            {"Cvita"}},
        {"Dora's copy mirrored", [](Marked& m) { return attackMirror(*m.copies["Dora"]); }, {"Dora"}},
        {"Ana and Cvita averaged",
            [](Marked& m) {
                return average({m.copies["Ana"].get(), m.copies["Cvita"].get()});
            },
            {"Ana", "Cvita"}},
        {"three averaged",
            [](Marked& m) {
                return average({m.copies["Ana"].get(), m.copies["Bruno"].get(), m.copies["Dora"].get()});
            },
            {"Ana", "Bruno", "Dora"}},
        {"the original re-encoded", [](Marked& m) { return attackJpeg(*m.original, 92); }, {}},
    };
    Marked marked;
    for (const TraceCase& c : cases) {
        const PictureRef suspect = c.suspect(marked);
        const TraceResult r = traceSuspect(*marked.catalogue, *suspect);
        EXPECT_EQ(r.originalsSearched, 1u) << c.name;
        ASSERT_EQ(r.candidates.size(), 1u) << c.name;
        EXPECT_TRUE(r.candidates[0].tested) << c.name << ": " << r.candidates[0].note;
        EXPECT_EQ(r.keysTested, 4u) << c.name;
        EXPECT_EQ(foundNames(r), c.found) << c.name;
        for (const TracedKey& k : r.candidates[0].keys) {
            // The family-wise figure is never below the key's own, and decides the verdict.
            EXPECT_GE(k.result.logFamilyWise, k.result.logFalsePositive) << c.name;
            EXPECT_EQ(k.found(), k.result.logFamilyWise <= std::log(kDefaultMaxFalsePositive)) << c.name;
            if (k.found()) {
                ASSERT_TRUE(k.mark.has_value()) << c.name;
                EXPECT_NE(k.mark->output.find(k.recipient), std::string::npos) << c.name;
            }
        }
    }
}

TEST(Trace, EachOfASeriesOfSimilarShotsIsTried)
{
    // A second shot a few pixels over, marked for others: its copy names its own recipient,
    // and the keys of both shots count in the family.
    Marked marked;
    const std::string secondPath = marked.dir.file("DSC_0413.png");
    savePicture(*attackTone(*attackShift(*marked.original, 6, 4), 1.02, 2), secondPath);
    const PictureRef second = loadPicture(secondPath);
    marked.add(secondPath, *second, {"Eva", "Fran"}, 50);
    const TraceResult r = traceSuspect(*marked.catalogue, *attackJpeg(*marked.copies["Fran"], 85));
    EXPECT_EQ(r.originalsSearched, 2u);
    ASSERT_EQ(r.candidates.size(), 2u);
    EXPECT_EQ(r.keysTested, 6u);
    EXPECT_EQ(foundNames(r), std::set<std::string>{"Fran"});
}

TEST(Trace, AnUnrelatedPictureFindsNoOriginal)
{
    Marked marked;
    const PictureRef other = loadPicture(std::string(PELINOR_SOURCE_DIR) + "/samples/photos/rocket.jpg");
    const TraceResult r = traceSuspect(*marked.catalogue, *other);
    EXPECT_EQ(r.originalsSearched, 1u);
    EXPECT_TRUE(r.candidates.empty());
    EXPECT_TRUE(r.found().empty());
}

TEST(Trace, AnOriginalChangedOrGoneSinceIsNamedNotTested)
{
    struct Change {
        const char* name;
        std::function<void(const std::string&)> apply;
        const char* note;
    };
    const Change changes[] = {
        {"rewritten", [](const std::string& p) { savePicture(*attackTone(*loadPicture(p), 1.0, 1.0), p); },
            "no longer the original"},
        {"removed", [](const std::string& p) { std::filesystem::remove(p); }, "cannot be read"},
    };
    for (const Change& change : changes) {
        Marked marked;
        change.apply(marked.originalPath);
        const TraceResult r = traceSuspect(*marked.catalogue, *marked.copies["Ana"]);
        ASSERT_EQ(r.candidates.size(), 1u) << change.name;
        EXPECT_FALSE(r.candidates[0].tested) << change.name;
        EXPECT_NE(r.candidates[0].note.find(change.note), std::string::npos) << r.candidates[0].note;
        EXPECT_TRUE(r.found().empty()) << change.name;
    }
}

} // namespace
} // namespace pelinor
