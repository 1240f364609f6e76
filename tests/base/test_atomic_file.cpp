#include "base/atomic_file.h"
#include "tests/test_support.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

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

constexpr uid_t kNobody = 65534;

// Run as root, a save over another user's 0600 file left it root's, unreadable to its owner:
// the owner, group and mode are kept, set-ID bits included, and nothing needs saying.
TEST(WriteFileAtomic, KeepsTheOwnerGroupAndModeOfAnotherUsersFile)
{
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to own files as another user";
    struct Case {
        uid_t uid;
        gid_t gid;
        mode_t mode;
    };
    const Case cases[]
        = {{kNobody, kNobody, 0600}, {kNobody, 0, 0640}, {0, kNobody, 02750}, {kNobody, kNobody, 04755}};
    for (const bool asSet : {false, true}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(
                testing::Message() << c.uid << ":" << c.gid << " " << std::oct << c.mode << " set " << asSet);
            test::TempDir dir;
            const std::string path = dir.file("theirs.txt");
            writeFileAtomic(path, std::string("theirs"));
            ASSERT_EQ(::chown(path.c_str(), c.uid, c.gid), 0);
            ASSERT_EQ(::chmod(path.c_str(), c.mode), 0);
            const FileContents set[] = {{path, "replaced"}};
            const WriteNotes notes
                = asSet ? writeFilesAtomic(set) : writeFileAtomic(path, std::string("replaced"));
            EXPECT_TRUE(notes.empty()) << notes.front();
            struct stat info { };
            ASSERT_EQ(::stat(path.c_str(), &info), 0);
            EXPECT_EQ(info.st_uid, c.uid);
            EXPECT_EQ(info.st_gid, c.gid);
            EXPECT_EQ(info.st_mode & 07777, c.mode);
            EXPECT_EQ(contents(path), "replaced");
            EXPECT_EQ(entries(dir.path()), 1u);
        }
    }
}

// A writer that may not give the file away (here root turned nobody in a child) replaces it
// all the same, and says what it could not keep: the owner and group, and a set-user-ID bit
// that must not pass to the new owner.
TEST(WriteFileAtomic, SaysWhatItCouldNotKeepOfTheReplacedFile)
{
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
    const std::pair<mode_t, std::vector<std::string>> cases[] = {
        {0644,
            {"its owner (uid 0) and group (gid 0) could not be kept: the new file belongs to uid 65534, gid "
             "65534"}},
        {04755,
            {"its owner (uid 0) and group (gid 0) could not be kept: the new file belongs to uid 65534, gid "
             "65534",
                "its mode 4755 could not be kept: the new file has mode 0755"}},
    };
    for (const auto& [mode, expected] : cases) {
        SCOPED_TRACE(testing::Message() << std::oct << mode);
        test::TempDir dir;
        ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
        const std::string folder = dir.file("shared");
        fs::create_directory(folder);
        ASSERT_EQ(::chmod(folder.c_str(), 0777), 0);
        const std::string path = folder + "/root.txt";
        writeFileAtomic(path, std::string("root's"));
        ASSERT_EQ(::chmod(path.c_str(), mode), 0);

        int channel[2];
        ASSERT_EQ(::pipe(channel), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::close(channel[0]);
            std::string report;
            if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) ::_exit(3);
            try {
                for (const std::string& note : writeFileAtomic(path, std::string("nobody's")))
                    report += note + "\n";
            } catch (const Error& e) {
                report = std::string("error: ") + e.what();
            }
            (void)!::write(channel[1], report.data(), report.size());
            ::_exit(0);
        }
        ::close(channel[1]);
        std::string report;
        char buffer[512];
        for (ssize_t n; (n = ::read(channel[0], buffer, sizeof buffer)) > 0;)
            report.append(buffer, std::size_t(n));
        ::close(channel[0]);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        std::string lines;
        for (const std::string& e : expected)
            lines += e + "\n";
        EXPECT_EQ(report, lines);
        EXPECT_EQ(contents(path), "nobody's");
        struct stat info { };
        ASSERT_EQ(::stat(path.c_str(), &info), 0);
        EXPECT_EQ(info.st_uid, kNobody);
        EXPECT_EQ(info.st_mode & 07777, mode & 0777);
        EXPECT_EQ(entries(folder), 1u);
    }
}

// A link in a world-writable sticky folder is followed only when it belongs to the writer or
// to the folder's owner, the kernel's rule for /tmp: one planted by another user is refused,
// naming it, and the file it points to stays as it was. Elsewhere any link is followed.
TEST(WriteFileAtomic, RefusesLinksPlantedByOthersInStickyFolders)
{
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to plant a link as another user";
    struct Case {
        mode_t folderMode;
        uid_t folderOwner;
        uid_t linkOwner;
        bool followed;
    };
    const Case cases[] = {
        {01777, 0, kNobody, false}, // another user's link in /tmp
        {01777, 0, 0, true}, // the writer's own
        {01777, kNobody, kNobody, true}, // the folder owner's
        {01777, kNobody, 0, true}, {00777, 0, kNobody, true}, // not sticky
        {01775, 0, kNobody, true}, // not world-writable
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::oct << c.folderMode << std::dec << " folder " << c.folderOwner
                                        << " link " << c.linkOwner);
        test::TempDir dir;
        const std::string victim = dir.file("victim.txt");
        writeFileAtomic(victim, std::string("precious"));
        const std::string folder = dir.file("tmp");
        fs::create_directory(folder);
        ASSERT_EQ(::chown(folder.c_str(), c.folderOwner, 0), 0);
        ASSERT_EQ(::chmod(folder.c_str(), c.folderMode), 0);
        const std::string link = folder + "/report.txt";
        fs::create_symlink(victim, link);
        ASSERT_EQ(::lchown(link.c_str(), c.linkOwner, c.linkOwner), 0);
        const auto [code, message] = failureOf([&] { writeFileAtomic(link, std::string("redirected")); });
        if (c.followed) {
            EXPECT_EQ(code, 0) << message;
            EXPECT_EQ(contents(victim), "redirected");
        } else {
            EXPECT_EQ(code, err::PermissionDenied);
            EXPECT_EQ(message,
                "Cannot write \"" + link + "\": the symbolic link \"" + link
                    + "\" belongs to another user (uid 65534) in the world-writable folder \"" + folder
                    + "\"; refusing to follow it");
            EXPECT_EQ(contents(victim), "precious");
        }
        EXPECT_TRUE(fs::is_symlink(link));
        EXPECT_EQ(entries(folder), 1u);
        EXPECT_EQ(entries(dir.path()), 2u);
    }
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

// A link as the target, written through to what it points at: relative, absolute, in a
// chain, or dangling (the file it names is created). The links stay links.
TEST(WriteFileAtomic, WritesThroughSymbolicLinks)
{
    test::TempDir dir;
    fs::create_directory(dir.file("sub"));
    writeFileAtomic(dir.file("real.txt"), std::string("old"));
    writeFileAtomic(dir.file("sub/deep.txt"), std::string("old"));
    fs::create_symlink("real.txt", dir.file("relative"));
    fs::create_symlink("relative", dir.file("chain"));
    fs::create_symlink(dir.file("sub/deep.txt"), dir.file("absolute"));
    fs::create_symlink("sub/new.txt", dir.file("dangling"));
    const std::pair<const char*, const char*> cases[] = {{"relative", "real.txt"}, {"chain", "real.txt"},
        {"absolute", "sub/deep.txt"}, {"dangling", "sub/new.txt"}};
    for (const auto& [link, target] : cases) {
        const std::string text = std::string("through ") + link;
        writeFileAtomic(dir.file(link), text);
        EXPECT_EQ(contents(dir.file(target)), text) << link;
        EXPECT_TRUE(fs::is_symlink(dir.file(link))) << link;
    }
    EXPECT_TRUE(fs::is_symlink(dir.file("relative")));
    EXPECT_EQ(entries(dir.path()), 6u); // real.txt, sub and the four links: no temporary
    EXPECT_EQ(entries(dir.file("sub")), 2u);

    // A loop is refused, naming the path given.
    fs::create_symlink("loop-b", dir.file("loop-a"));
    fs::create_symlink("loop-a", dir.file("loop-b"));
    const auto [code, message] = failureOf([&] { writeFileAtomic(dir.file("loop-a"), std::string("x")); });
    EXPECT_EQ(code, err::PathAccess);
    EXPECT_NE(message.find(dir.file("loop-a")), std::string::npos) << message;
    EXPECT_EQ(entries(dir.path()), 8u);
}

// The data is synced before the rename (the target still old), the folder after it (the
// target new); a failed first sync fails the write and leaves the target, a failed second
// one does not matter.
TEST(WriteFileAtomic, SyncsTheFileBeforeTheRenameAndTheFolderAfter)
{
    test::TempDir dir;
    const std::string path = dir.file("data.txt");
    struct Call {
        bool folder;
        long long size;
        std::string target;
    };
    for (const int failing : {0, 1, 2}) {
        SCOPED_TRACE(failing);
        writeFileAtomic(path, std::string("old"));
        std::vector<Call> calls;
        const SyncFile sync = [&](int fd) {
            struct stat info { };
            EXPECT_EQ(::fstat(fd, &info), 0);
            calls.push_back({S_ISDIR(info.st_mode), (long long)info.st_size, contents(path)});
            if (int(calls.size()) != failing) return 0;
            errno = EIO;
            return -1;
        };
        const std::string text = "new text " + std::to_string(failing);
        const std::vector<std::uint8_t> bytes(text.begin(), text.end());
        const auto [code, message] = failureOf([&] { writeFileAtomic(path, bytes, sync); });
        ASSERT_EQ(calls.size(), failing == 1 ? 1u : 2u);
        EXPECT_FALSE(calls[0].folder);
        EXPECT_EQ(calls[0].size, (long long)text.size());
        EXPECT_EQ(calls[0].target, "old");
        if (failing == 1) {
            EXPECT_EQ(code, err::PathAccess);
            EXPECT_NE(message.find(path), std::string::npos) << message;
            EXPECT_EQ(contents(path), "old");
        } else {
            EXPECT_EQ(code, 0) << message;
            EXPECT_TRUE(calls[1].folder);
            EXPECT_EQ(calls[1].target, text);
        }
        EXPECT_EQ(entries(dir.path()), 1u);
    }
}

// A file system may report a delayed write error only when the temporary is closed (NFS, a
// quota): a failed close fails the write like a failed write, with the target as it was and
// no temporary left, for one file and for a set. The descriptor the hook gets is the
// temporary's, complete and synced.
TEST(WriteFileAtomic, AFailedCloseFailsTheWrite)
{
    const std::pair<int, int> cases[]
        = {{EIO, err::PathAccess}, {ENOSPC, err::DiskFull}, {EDQUOT, err::DiskFull}};
    for (const bool asSet : {false, true}) {
        for (const auto& [code, number] : cases) {
            SCOPED_TRACE(testing::Message() << std::strerror(code) << (asSet ? ", set" : ""));
            test::TempDir dir;
            const std::vector<FileContents> files
                = {{dir.file("a.csv"), "new a"}, {dir.file("b.md"), "new b"}};
            for (const FileContents& f : files)
                writeFileAtomic(f.path, std::string("old"));
            std::vector<long long> sizes;
            const CloseFile failLast = [&, code = code](int fd) {
                struct stat info { };
                EXPECT_EQ(::fstat(fd, &info), 0);
                sizes.push_back((long long)info.st_size);
                ::close(fd);
                if (sizes.size() < (asSet ? files.size() : 1u)) return 0;
                errno = code;
                return -1;
            };
            const SyncFile sync = [](int) { return 0; };
            const std::string& last = asSet ? files.back().path : files.front().path;
            const auto [got, message] = failureOf([&] {
                if (asSet)
                    writeFilesAtomic(files, sync, failLast);
                else
                    writeFileAtomic(files.front().path, std::vector<std::uint8_t>(5, 'n'), sync, failLast);
            });
            EXPECT_EQ(got, number) << message;
            EXPECT_EQ(message, "Cannot write \"" + last + "\": " + std::strerror(code));
            EXPECT_EQ(sizes, std::vector<long long>(asSet ? 2 : 1, 5));
            for (const FileContents& f : files)
                EXPECT_EQ(contents(f.path), "old") << f.path;
            EXPECT_EQ(entries(dir.path()), files.size()); // no temporary left behind
        }
    }
    // Without failure the hook closes every temporary and the write goes through.
    test::TempDir dir;
    int closed = 0;
    const std::string text = "closed";
    writeFileAtomic(
        dir.file("ok.txt"), std::vector<std::uint8_t>(text.begin(), text.end()),
        [](int fd) { return ::fsync(fd); }, [&](int fd) { return ++closed, ::close(fd); });
    EXPECT_EQ(closed, 1);
    EXPECT_EQ(contents(dir.file("ok.txt")), text);
    EXPECT_EQ(entries(dir.path()), 1u);
}

// Missing files and folders are refused in loadPicture's table.
TEST(ReadFileBytes, StopsAtTheLimit)
{
    test::TempDir dir;
    writeFileAtomic(dir.file("data"), std::string(300001, 'x'));
    const auto [code, message] = failureOf([&] { readFileBytes(dir.file("data"), 300000); });
    EXPECT_EQ(code, err::OutOfMemory) << message;
    EXPECT_NE(message.find(dir.file("data") + "\" has more than 300000 bytes"), std::string::npos) << message;
}

// A FIFO without a writer blocked open() forever and /dev/zero was read up to the limit:
// anything but a regular file is refused at once. The alarm turns a regression into a
// failure instead of a hang.
TEST(ReadFileBytes, RefusesFifosAndDevicesWithoutBlocking)
{
    test::TempDir dir;
    const std::string fifo = dir.file("fifo.png");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    ::alarm(20);
    for (const std::string& path : {fifo, std::string("/dev/zero"), std::string("/dev/null")}) {
        const auto [code, message] = failureOf([&] { readFileBytes(path); });
        EXPECT_EQ(code, err::PathAccess) << message;
        EXPECT_EQ(message, "Cannot read \"" + path + "\": not a regular file");
    }
    ::alarm(0);
}

// What a writer killed before its rename leaves: ".NAME.PID-CLOCK.tmp". The next write to
// that target removes the ones of dead processes only.
TEST(WriteFileAtomic, RemovesStaleTemporariesOfDeadWritersOnly)
{
    test::TempDir dir;
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) ::_exit(0);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child); // reaped: its pid no longer exists
    const std::string dead = std::to_string(child), live = std::to_string(::getppid());
    const std::string own = std::to_string(::getpid());
    const std::string stale = ".out.txt." + dead + "-123.tmp";
    const std::vector<std::string> kept
        = {".out.txt." + live + "-123.tmp", ".out.txt." + own + "-5.tmp", ".other.txt." + dead + "-123.tmp",
            ".out.txt." + dead + "-12x.tmp", ".out.txt." + dead + ".tmp", "out.txt." + dead + "-123.tmp"};
    for (const std::string& name : kept)
        writeFileAtomic(dir.file(name), std::string("keep"));
    writeFileAtomic(dir.file(stale), std::string("partial"));
    ASSERT_TRUE(fs::exists(dir.file(stale)));
    writeFileAtomic(dir.file("out.txt"), std::string("new"));
    EXPECT_FALSE(fs::exists(dir.file(stale)));
    for (const std::string& name : kept)
        EXPECT_TRUE(fs::exists(dir.file(name))) << name;
    EXPECT_EQ(contents(dir.file("out.txt")), "new");
    EXPECT_EQ(entries(dir.path()), kept.size() + 1);
}

// Only ESRCH from kill(pid, 0) means a temporary's writer is gone. EPERM means a process
// the caller may not signal, another user's writer that may still be under way: its
// temporary stays. Run as nobody in a child, with pid 1 (root's, always alive) as that
// writer, in a folder where nobody could remove it; a dead writer's temporary still goes.
TEST(WriteFileAtomic, KeepsTheTemporaryOfAWriterItMayNotSignal)
{
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
    const pid_t gone = ::fork();
    ASSERT_GE(gone, 0);
    if (gone == 0) ::_exit(0);
    int status = 0;
    ASSERT_EQ(::waitpid(gone, &status, 0), gone);
    const std::pair<pid_t, bool> cases[] = {{1, true}, {gone, false}};
    for (const auto& [writer, stays] : cases) {
        SCOPED_TRACE(testing::Message() << "writer " << writer);
        test::TempDir dir;
        ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
        const std::string folder = dir.file("shared");
        fs::create_directory(folder);
        ASSERT_EQ(::chmod(folder.c_str(), 0777), 0); // not sticky: nobody may remove root's files
        const std::string temp = folder + "/.out.txt." + std::to_string(writer) + "-123.tmp";
        writeFileAtomic(temp, std::string("under way"));

        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) ::_exit(3);
            if (::kill(1, 0) == 0 || errno != EPERM) ::_exit(4);
            try {
                writeFileAtomic(folder + "/out.txt", std::string("nobody's"));
            } catch (const Error&) {
                ::_exit(5);
            }
            ::_exit(0);
        }
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status)) << status;
        if (WEXITSTATUS(status) == 4) GTEST_SKIP() << "pid 1 can be signalled by nobody here";
        ASSERT_EQ(WEXITSTATUS(status), 0);
        EXPECT_EQ(contents(folder + "/out.txt"), "nobody's");
        EXPECT_EQ(fs::exists(temp), stays);
        EXPECT_EQ(entries(folder), stays ? 2u : 1u);
    }
}

// The evaluation's three reports: a failure on the third file (a full disk) leaves none of
// them new and no temporary behind; without failure all three are replaced.
TEST(WriteFilesAtomic, WritesAllOrNone)
{
    test::TempDir dir;
    const std::vector<FileContents> files
        = {{dir.file("report.csv"), "csv"}, {dir.file("report.md"), "md"}, {dir.file("report.html"), "html"}};
    for (const FileContents& f : files)
        writeFileAtomic(f.path, std::string("old"));
    int calls = 0;
    const SyncFile failThird = [&](int) {
        if (++calls != 3) return 0;
        errno = ENOSPC;
        return -1;
    };
    const auto [code, message] = failureOf([&] { writeFilesAtomic(files, failThird); });
    EXPECT_EQ(code, err::DiskFull) << message;
    EXPECT_NE(message.find("report.html"), std::string::npos) << message;
    for (const FileContents& f : files)
        EXPECT_EQ(contents(f.path), "old") << f.path;
    EXPECT_EQ(entries(dir.path()), 3u);

    calls = 0;
    EXPECT_EQ(failureOf([&] { writeFilesAtomic(files, failThird); }).first, err::DiskFull);
    std::filesystem::remove(files[1].path);
    writeFilesAtomic(files);
    for (const FileContents& f : files)
        EXPECT_EQ(contents(f.path), f.text);
    EXPECT_EQ(entries(dir.path()), 3u);
}

// The head of a file, for telling what it holds without reading it whole: shorter files
// give what they have, and FIFOs and devices are refused as by readFileBytes.
TEST(ReadFileHead, ReadsAtMostTheCountAndRefusesWhatReadFileBytesRefuses)
{
    test::TempDir dir;
    writeFileAtomic(dir.file("long"), std::string(100000, 'x') + "end");
    writeFileAtomic(dir.file("short"), std::string("BM"));
    EXPECT_EQ(readFileHead(dir.file("long"), 12), std::vector<std::uint8_t>(12, 'x'));
    EXPECT_EQ(readFileHead(dir.file("short"), 12), (std::vector<std::uint8_t>{'B', 'M'}));
    EXPECT_EQ(failureOf([&] { readFileHead(dir.file("none"), 12); }).first, err::FileNotFound);
    const std::string fifo = dir.file("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    ::alarm(20);
    EXPECT_EQ(failureOf([&] { readFileHead(fifo, 12); }).first, err::PathAccess);
    ::alarm(0);
}

} // namespace
} // namespace pelinor
