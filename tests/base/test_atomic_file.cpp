#include "base/atomic_file.h"
#include "tests/image/image_test_util.h"

#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <thread>

namespace pelinor {
namespace {

namespace fs = std::filesystem;
using test::failureOf;

std::string contents(const std::string& path)
{
    const std::vector<std::uint8_t> bytes = readFileBytes(path);
    return {bytes.begin(), bytes.end()};
}

std::size_t entries(const std::string& folder)
{
    return std::size_t(std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

// The longest name a folder allows still leaves room for the temporary's name.
TEST(WriteFileAtomic, ReplacesKeepingPermissionsAndLeavesNoTemporary)
{
    test::TempDir dir;
    const std::string path = dir.file(std::string(255, 'n'));
    writeFileAtomic(path, std::string("first"));
    const auto perms = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
    fs::permissions(path, perms);
    writeFileAtomic(path, std::string("second, longer"));
    EXPECT_EQ(contents(path), "second, longer");
    EXPECT_EQ(fs::status(path).permissions(), perms);
    writeFileAtomic(path, std::string());
    EXPECT_EQ(contents(path), "");
    EXPECT_EQ(entries(dir.path()), 1u);
}

// Tests may run as root, so failures come from the shape of the path, or from a file
// size limit that makes write() fail part way, as a full disk would.
TEST(WriteFileAtomic, FailureLeavesEverythingAsItWas)
{
    const std::pair<const char*, int> cases[]
        = {{"missing/out.txt", err::PathNotFound}, {"good.txt/out.txt", err::PathNotFound},
            {"sub", err::PathAccess}, {"sub/", err::PathAccess}, {"good.txt", err::DiskFull}};
    for (const auto& [name, number] : cases) {
        test::TempDir dir;
        writeFileAtomic(dir.file("good.txt"), std::string("precious"));
        fs::create_directory(dir.file("sub"));
        const std::string target = dir.file(name);
        rlimit saved{};
        ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
        const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limited = saved;
        limited.rlim_cur = 4096;
        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
        const auto [code, message] = failureOf([&] { writeFileAtomic(target, std::string(100000, 'z')); });
        ::setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, previousHandler);
        EXPECT_EQ(code, number) << name << ": " << message;
        EXPECT_NE(message.find(target), std::string::npos) << message;
        EXPECT_EQ(contents(dir.file("good.txt")), "precious") << name;
        EXPECT_EQ(entries(dir.path()), 2u) << name; // no temporary left behind
        EXPECT_EQ(entries(dir.file("sub")), 0u) << name;
    }
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

// Missing files and folders are refused in loadPicture's table; a file without a size
// (/dev/zero) is read only up to the limit.
TEST(ReadFileBytes, StopsAtTheLimit)
{
    test::TempDir dir;
    writeFileAtomic(dir.file("data"), std::string(300001, 'x'));
    for (const std::string& path : {dir.file("data"), std::string("/dev/zero")}) {
        const auto [code, message] = failureOf([&] { readFileBytes(path, 300000); });
        EXPECT_EQ(code, err::OutOfMemory) << message;
        EXPECT_NE(message.find(path + "\" has more than 300000 bytes"), std::string::npos) << message;
    }
}

} // namespace
} // namespace pelinor
