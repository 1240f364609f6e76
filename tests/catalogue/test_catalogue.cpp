// The catalogue file: creation, versions and migrations, refusals, transactions, records.
#include "catalogue/catalogue.h"
#include "catalogue/sha256.h"
#include "tests/test_support.h"

#include <atomic>
#include <sys/stat.h>
#include <thread>

namespace pelinor {
namespace {

using test::TempDir;

struct HashCase {
    std::string input;
    std::string hex;
};

TEST(Sha256, KnownDigests)
{
    const HashCase cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const HashCase& c : cases) {
        EXPECT_EQ(sha256Hex(c.input), c.hex) << c.input.size() << " bytes";
        // Fed in uneven pieces, across the 64-byte blocks.
        Sha256 h;
        for (std::size_t i = 0; i < c.input.size(); i += 37)
            h.update(std::string_view(c.input).substr(i, 37));
        EXPECT_EQ(h.hex(), c.hex);
    }
}

TEST(Sha256, WholeFile)
{
    TempDir dir;
    const std::string text(200000, 'x');
    std::ofstream(dir.file("f"), std::ios::binary) << text;
    EXPECT_EQ(sha256File(dir.file("f")), sha256Hex(text));
    test::expectError([&] { sha256File(dir.file("missing")); }, err::FileNotFound);
    test::expectError([&] { sha256File(dir.path()); }, err::PathAccess);
}

int pragma(Database& db, const char* sql)
{
    Statement s(db, sql);
    return s.step() ? int(s.integer(0)) : -1;
}

TEST(Catalogue, CreatedPrivateWithTheCurrentTables)
{
    TempDir dir;
    const std::string path = dir.file("sub/folder/cat.sqlite");
    EXPECT_EQ(test::failureOf([&] { Catalogue::open(path, false); }).first, err::FileNotFound);
    const auto cat = Catalogue::open(path, true);
    EXPECT_TRUE(cat->created());
    EXPECT_FALSE(cat->readableByOthers());
    struct stat st { };
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_EQ(::stat(dir.file("sub/folder").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    Database db(path, "cat");
    EXPECT_EQ(pragma(db, "PRAGMA user_version"), kCatalogueSchema);
    EXPECT_EQ(std::uint32_t(pragma(db, "PRAGMA application_id")), Catalogue::kApplicationId);
    Statement mode(db, "PRAGMA journal_mode");
    ASSERT_TRUE(mode.step());
    EXPECT_EQ(mode.text(0), "wal");
    // No temporary left beside it.
    for (const auto& entry : std::filesystem::directory_iterator(dir.file("sub/folder")))
        EXPECT_EQ(entry.path().filename().string().rfind("cat.sqlite", 0), 0u) << entry.path();
    // A second opening finds it.
    EXPECT_FALSE(Catalogue::open(path, true)->created());
    ::chmod(path.c_str(), 0644);
    EXPECT_TRUE(Catalogue::open(path, false)->readableByOthers());
}

TEST(Catalogue, MigratesFromTheFirstVersion)
{
    TempDir dir;
    const std::string path = dir.file("v1.sqlite");
    std::ofstream(path).close();
    {
        Database db(path, "v1");
        Catalogue::migrate(db, 0, 1);
        db.exec("PRAGMA application_id = " + std::to_string(Catalogue::kApplicationId));
        db.exec("INSERT INTO originals VALUES(1, 'a.jpg', 'aa', 10, 'jpeg', 4, 3, x'00', "
                "'2026-01-01T00:00:00Z')");
        db.exec("INSERT INTO recipients VALUES(1, 'Ana', '', '2026-01-01T00:00:00Z')");
        db.exec(
            "INSERT INTO keys VALUES(1, 1, 1, 3, 0.1, 0, 1, NULL, '\"CXSG\"\n3\n0.1\n0\n1\n1\n2\n3\n', 'kk', "
            "'a.wmk', '2026-01-01T00:00:00Z')");
        db.exec("INSERT INTO marks VALUES(1, 1, 1, 1, 'a-Ana.jpg', 'ff', 40.5, 0.99, 'q=90', '1.0.0', "
                "'2026-01-01T00:00:00Z')");
        EXPECT_EQ(pragma(db, "PRAGMA user_version"), 1);
    }
    const auto cat = Catalogue::open(path, false);
    const std::vector<MarkView> marks = cat->marks();
    ASSERT_EQ(marks.size(), 1u);
    // Marks of the first version were recorded only once written.
    EXPECT_TRUE(marks[0].mark.finished);
    EXPECT_EQ(marks[0].recipient, "Ana");
    EXPECT_EQ(marks[0].mark.psnr, 40.5);
    EXPECT_EQ(cat->keyWatermark(1).values, (std::vector<double>{1, 2, 3}));
    Database db(path, "v1");
    EXPECT_EQ(pragma(db, "PRAGMA user_version"), kCatalogueSchema);
}

// Files that must be refused and left byte for byte as they were.
struct Refusal {
    const char* name;
    std::function<void(const std::string&)> make;
    const char* says;
};

void sqliteFile(const std::string& path, const std::string& sql)
{
    std::ofstream(path).close();
    Database db(path, path);
    db.exec(sql);
}

TEST(Catalogue, RefusesWhatIsNotASoundCatalogue)
{
    const Refusal refusals[] = {
        {"empty", [](const std::string& p) { std::ofstream(p).close(); }, "an empty file"},
        {"text", [](const std::string& p) { std::ofstream(p) << "name,key\nAna,1\n"; }, "not SQLite"},
        {"foreign", [](const std::string& p) { sqliteFile(p, "CREATE TABLE t(x); INSERT INTO t VALUES(1)"); },
            "another program"},
        {"newer",
            [](const std::string& p) {
                sqliteFile(p,
                    "CREATE TABLE t(x); PRAGMA application_id = " + std::to_string(Catalogue::kApplicationId)
                        + "; PRAGMA user_version = " + std::to_string(kCatalogueSchema + 1));
            },
            "newer"},
        {"damaged",
            [](const std::string& p) {
                {
                    const auto cat = Catalogue::open(p, true);
                    cat->transaction([&] {
                        for (int i = 0; i < 300; ++i)
                            cat->addRecipient("recipient " + std::to_string(i), std::string(200, 'n'));
                    });
                }
                // The header survives, the pages after it do not.
                std::string bytes = test::readText(p);
                for (std::size_t i = 100; i < bytes.size(); ++i)
                    bytes[i] = char(i * 7);
                std::ofstream(p, std::ios::binary) << bytes;
            },
            "damaged"},
    };
    for (const Refusal& r : refusals) {
        TempDir dir;
        const std::string path = dir.file("cat.sqlite");
        r.make(path);
        const std::string before = test::readText(path);
        const auto [number, text] = test::failureOf([&] {
            const auto cat = Catalogue::open(path, true);
            cat->recipients();
        });
        EXPECT_EQ(number, err::BadCatalogue) << r.name << ": " << text;
        EXPECT_NE(text.find(r.says), std::string::npos) << r.name << ": " << text;
        EXPECT_EQ(test::readText(path), before) << r.name << " was changed";
    }
}

OriginalRecord someOriginal(const std::string& sha)
{
    OriginalRecord o;
    o.path = "photo-" + sha + ".jpg";
    o.sha256 = sha;
    o.size = 1234;
    o.format = "jpeg";
    o.width = 40;
    o.height = 30;
    o.fingerprint = {1, 2, 3};
    return o;
}

TEST(Catalogue, KeysComeBackAsTheyWereMade)
{
    TempDir dir;
    const auto cat = Catalogue::open(dir.file("c.sqlite"), true);
    OriginalRecord o = someOriginal("aa");
    const long long originalId = cat->addOriginal(o);
    const long long ana = cat->addRecipient("Ana", "agency");
    const KeySeed seed = entropySeed();
    EXPECT_NE(seed, entropySeed());
    const Watermark made = generateWatermark(seed, 1000, 0.1, 0.0, 1.0);
    KeyRecord generated{
        0, originalId, ana, 1000, 0.1, 0.0, 1.0, sha256Hex(formatWatermark(made)), "generated", {}};
    cat->addKey(generated, KeyMaterial{seed, {}});
    const Watermark imported = test::gaussianWatermark(50, -0.2, 3);
    KeyRecord fromFile{0, originalId, ana, 50, -0.2, 0.0, 1.0, "x", "old/ana.wmk", {}};
    cat->addKey(fromFile, KeyMaterial{std::nullopt, formatWatermark(imported)});

    EXPECT_EQ(cat->keyWatermark(generated.id).values, made.values);
    const Watermark back = cat->keyWatermark(fromFile.id);
    EXPECT_EQ(back.alpha, -0.2);
    ASSERT_EQ(back.values.size(), 50u);
    for (std::size_t i = 0; i < 50; ++i)
        EXPECT_NEAR(back.values[i], imported.values[i], 1e-13 * std::abs(imported.values[i]));
    const std::vector<KeyRecord> keys = cat->keysFor(originalId);
    ASSERT_EQ(keys.size(), 2u);
    EXPECT_EQ(keys[1].source, "old/ana.wmk");
    // The same original is one record, whatever path it is added under.
    OriginalRecord again = someOriginal("aa");
    again.path = "elsewhere.jpg";
    EXPECT_EQ(cat->addOriginal(again), originalId);
    EXPECT_EQ(cat->originals().size(), 1u);
    EXPECT_EQ(cat->findRecipient("Ana")->note, "agency");
}

TEST(Catalogue, MarksUnfinishedUntilWrittenAndRemovedWithTheirRecipient)
{
    TempDir dir;
    const auto cat = Catalogue::open(dir.file("c.sqlite"), true);
    OriginalRecord o = someOriginal("bb");
    cat->addOriginal(o);
    const long long ana = cat->addRecipient("Ana");
    const long long ben = cat->addRecipient("Ben");
    auto mark = [&](long long recipient) {
        KeyRecord k{0, o.id, recipient, 10, 0.1, 0, 1, "k", "generated", {}};
        cat->addKey(k, KeyMaterial{entropySeed(), {}});
        MarkRecord m;
        m.originalId = o.id;
        m.recipientId = recipient;
        m.keyId = k.id;
        m.output = "out.jpg";
        m.settings = "quality=same";
        m.toolVersion = "1";
        cat->addMark(m);
        return m.id;
    };
    const long long first = mark(ana);
    const long long second = mark(ben);
    const long long third = mark(ben);
    cat->finishMark(first, "abc", 41.0, 0.98);
    cat->dropUnfinishedMark(second);
    cat->dropUnfinishedMark(first); // finished: stays
    const std::vector<MarkView> marks = cat->marksFor(o.id);
    ASSERT_EQ(marks.size(), 2u);
    EXPECT_TRUE(marks[0].mark.finished);
    EXPECT_EQ(marks[0].mark.outputSha256, "abc");
    EXPECT_EQ(marks[1].mark.id, third);
    EXPECT_FALSE(marks[1].mark.finished);
    EXPECT_EQ(cat->keysFor(o.id).size(), 2u);

    const auto removed = cat->removeRecipient("Ben");
    ASSERT_TRUE(removed);
    EXPECT_EQ(removed->keys, 1);
    EXPECT_EQ(removed->marks, 1);
    EXPECT_FALSE(cat->removeRecipient("Ben"));
    EXPECT_EQ(cat->keysFor(o.id).size(), 1u);
    EXPECT_EQ(cat->marks().size(), 1u);
    EXPECT_TRUE(cat->integrityProblems().empty());
}

TEST(Catalogue, AFailedCommandChangesNothing)
{
    TempDir dir;
    const auto cat = Catalogue::open(dir.file("c.sqlite"), true);
    cat->addRecipient("Ana");
    EXPECT_THROW(cat->transaction([&] {
        cat->addRecipient("Ben");
        OriginalRecord o = someOriginal("cc");
        cat->addOriginal(o);
        throw Error(err::DiskFull, "Disk full");
    }),
        Error);
    EXPECT_EQ(cat->recipients().size(), 1u);
    EXPECT_TRUE(cat->originals().empty());
    // A key for an original that does not exist breaks a foreign key and is refused.
    KeyRecord orphan{0, 999, 1, 10, 0.1, 0, 1, "k", "generated", {}};
    EXPECT_THROW(cat->addKey(orphan, KeyMaterial{entropySeed(), {}}), Error);
}

TEST(Catalogue, WritersAtOnceWaitForEachOther)
{
    TempDir dir;
    const std::string path = dir.file("c.sqlite");
    constexpr int kWriters = 4, kEach = 50;
    std::atomic<int> failures{0};
    std::vector<std::thread> writers;
    for (int w = 0; w < kWriters; ++w)
        writers.emplace_back([&, w] {
            try {
                const auto cat = Catalogue::open(path, true);
                for (int i = 0; i < kEach; ++i)
                    cat->transaction([&] {
                        const long long id
                            = cat->addRecipient("r" + std::to_string(w) + "-" + std::to_string(i));
                        OriginalRecord o = someOriginal(std::to_string(w * 1000 + i));
                        cat->addOriginal(o);
                        KeyRecord k{0, o.id, id, 10, 0.1, 0, 1, "k", "generated", {}};
                        cat->addKey(k, KeyMaterial{entropySeed(), {}});
                    });
            } catch (const std::exception& e) {
                ++failures;
                ADD_FAILURE() << e.what();
            }
        });
    for (std::thread& t : writers)
        t.join();
    EXPECT_EQ(failures, 0);
    const auto cat = Catalogue::open(path, false);
    EXPECT_EQ(cat->recipients().size(), std::size_t(kWriters * kEach));
    EXPECT_EQ(cat->keys().size(), std::size_t(kWriters * kEach));
}

TEST(Generator, KeysAreReproducibleFromTheirSeed)
{
    const KeySeed seed{1, 2, 3, 4, 5, 6, 7, 8};
    const Watermark a = generateWatermark(seed, 1001, 0.1, 0.0, 1.0);
    const Watermark b = generateWatermark(seed, 1001, 0.1, 0.0, 1.0);
    EXPECT_EQ(a.values, b.values);
    EXPECT_EQ(a.values.size(), 1001u);
    KeySeed other = seed;
    other[7] = 9;
    EXPECT_NE(generateWatermark(other, 1001, 0.1, 0.0, 1.0).values, a.values);
    double sum = 0, squares = 0;
    for (double v : a.values) {
        sum += v;
        squares += v * v;
    }
    EXPECT_NEAR(sum / 1001, 0.0, 0.15);
    EXPECT_NEAR(squares / 1001, 1.0, 0.15);
    const Watermark shifted = generateWatermark(seed, 1001, 0.1, 5.0, 2.0);
    EXPECT_DOUBLE_EQ(shifted.values[3], a.values[3] * 2.0 + 5.0);
}

} // namespace
} // namespace pelinor
