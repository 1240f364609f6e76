#include "image/atomic_file.h"
#include "image_test_util.h"
#include "obrada/error.h"

#include <csignal>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <sys/resource.h>
#include <thread>

namespace pelinor {
namespace {

namespace fs = std::filesystem;

std::string contents(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::size_t entries(const std::string& folder)
{
    return std::size_t(std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

TEST(WriteFileAtomic, CreatesAndReplacesLeavingNoTemporary)
{
    test::TempDir dir;
    const std::string path = dir.file("out.bin");
    writeFileAtomic(path, std::string("first"));
    EXPECT_EQ(contents(path), "first");
    writeFileAtomic(path, std::string("second, longer"));
    EXPECT_EQ(contents(path), "second, longer");
    writeFileAtomic(path, std::string());
    EXPECT_EQ(contents(path), "");
    EXPECT_EQ(entries(dir.path()), 1u);
}

TEST(WriteFileAtomic, ReplacedFileKeepsItsPermissions)
{
    test::TempDir dir;
    const std::string path = dir.file("keep.txt");
    writeFileAtomic(path, std::string("a"));
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    writeFileAtomic(path, std::string("b"));
    EXPECT_EQ(fs::status(path).permissions(),
        fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

struct FailureCase {
    const char* name;
    const char* target; // relative to a fresh folder that holds "good.txt" and "sub/"
    int error;
};

class WriteFileAtomicFailure : public ::testing::TestWithParam<FailureCase> { };

// Tests may run as root, so failures come from the shape of the path, not from permissions.
TEST_P(WriteFileAtomicFailure, LeavesEverythingAsItWasAndNamesTheFile)
{
    test::TempDir dir;
    writeFileAtomic(dir.file("good.txt"), std::string("precious"));
    fs::create_directory(dir.file("sub"));
    const std::string target = dir.file(GetParam().target);
    try {
        writeFileAtomic(target, std::string("new content"));
        FAIL() << "no error";
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), GetParam().error) << e.what();
        EXPECT_NE(std::string(e.what()).find(target), std::string::npos) << e.what();
    }
    EXPECT_EQ(contents(dir.file("good.txt")), "precious");
    EXPECT_TRUE(fs::is_directory(dir.file("sub")));
    EXPECT_EQ(entries(dir.path()), 2u); // no temporary left behind
    EXPECT_EQ(entries(dir.file("sub")), 0u);
}

INSTANTIATE_TEST_SUITE_P(Paths, WriteFileAtomicFailure,
    ::testing::Values(FailureCase{"MissingFolder", "missing/out.txt", err::PathNotFound},
        FailureCase{"FileAsFolder", "good.txt/out.txt", err::PathNotFound},
        FailureCase{"FolderAsTarget", "sub", err::PathAccess},
        FailureCase{"TrailingSlash", "sub/", err::PathAccess}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST(WriteFileAtomic, WriteFailingHalfwayKeepsTheOldFile)
{
    // A file size limit makes write() fail part way, as a full disk would.
    test::TempDir dir;
    const std::string path = dir.file("old.bin");
    writeFileAtomic(path, std::string("old content"));
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = saved;
    limited.rlim_cur = 4096;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    int number = 0;
    try {
        writeFileAtomic(path, std::string(100000, 'z'));
    } catch (const Error& e) {
        number = e.number();
        EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
    }
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);
    EXPECT_EQ(number, err::DiskFull);
    EXPECT_EQ(contents(path), "old content");
    EXPECT_EQ(entries(dir.path()), 1u);
}

TEST(WriteFileAtomic, ConcurrentWritersNeverMixOrLeaveTemporaries)
{
    test::TempDir dir;
    const std::string path = dir.file("shared.txt");
    const std::string a(5000, 'a'), b(7000, 'b');
    std::thread first([&] {
        for (int i = 0; i < 40; ++i)
            writeFileAtomic(path, a);
    });
    for (int i = 0; i < 40; ++i)
        writeFileAtomic(path, b);
    first.join();
    const std::string result = contents(path);
    EXPECT_TRUE(result == a || result == b);
    EXPECT_EQ(entries(dir.path()), 1u);
}

TEST(WriteFileAtomic, LongestNameStillWorks)
{
    test::TempDir dir;
    const std::string path = dir.file(std::string(255, 'n'));
    writeFileAtomic(path, std::string("long"));
    EXPECT_EQ(contents(path), "long");
    EXPECT_EQ(entries(dir.path()), 1u);
}

TEST(ReadFileBytes, ReadsWholeFilesAndRefusesOthers)
{
    test::TempDir dir;
    const std::string path = dir.file("data");
    std::string big(300000, 'x');
    big[123456] = 'y';
    writeFileAtomic(path, big);
    const auto bytes = readFileBytes(path);
    ASSERT_EQ(bytes.size(), big.size());
    EXPECT_EQ(bytes[123456], 'y');

    const auto errorOf = [](const std::string& p, std::size_t max) {
        try {
            readFileBytes(p, max);
        } catch (const Error& e) {
            EXPECT_NE(std::string(e.what()).find(p), std::string::npos) << e.what();
            return e.number();
        }
        return 0;
    };
    EXPECT_EQ(errorOf(dir.file("missing"), 100), err::FileNotFound);
    EXPECT_EQ(errorOf(dir.file("missing/deeper"), 100), err::PathNotFound);
    EXPECT_EQ(errorOf(dir.path(), 100), err::PathAccess);
    EXPECT_EQ(errorOf(path, 1000), err::OutOfMemory);
    EXPECT_EQ(errorOf("/dev/zero", 1000), err::OutOfMemory); // no size: stops at the limit
}

} // namespace
} // namespace pelinor
