#include "base/atomic_file.h"

#include "base/error.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <utility>
#include <vector>

namespace pelinor {
namespace {

int errorNumberFor(int code)
{
    switch (code) {
    case ENOENT:
    case ENOTDIR:
        return err::PathNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
        return err::PermissionDenied;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        return err::DiskFull;
    default:
        return err::PathAccess;
    }
}

[[noreturn]] void throwFileError(const std::string& action, const std::string& path, int code)
{
    throw Error(errorNumberFor(code), action + " \"" + path + "\": " + std::generic_category().message(code));
}

// Closes the descriptor and removes the temporary unless the write was committed.
class TempFile {
public:
    TempFile(std::string path, int fd)
        : m_path(std::move(path))
        , m_fd(fd)
    {
    }
    TempFile(TempFile&& other) noexcept
        : m_path(std::move(other.m_path))
        , m_fd(std::exchange(other.m_fd, -1))
        , m_committed(std::exchange(other.m_committed, true))
    {
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    TempFile& operator=(TempFile&&) = delete;
    ~TempFile()
    {
        if (m_fd >= 0) ::close(m_fd);
        if (!m_committed) ::unlink(m_path.c_str());
    }
    int fd() const noexcept { return m_fd; }
    const std::string& path() const noexcept { return m_path; }
    // Returns 0 or the errno of a failed close (a delayed write error shows up here). The
    // descriptor is gone either way, as close(2) leaves it.
    int close(const CloseFile& hook)
    {
        const int fd = std::exchange(m_fd, -1);
        const int rc = hook ? hook(fd) : ::close(fd);
        return rc == 0 ? 0 : errno;
    }
    void commit() noexcept { m_committed = true; }

private:
    std::string m_path;
    int m_fd;
    bool m_committed = false;
};

std::string folderOf(const std::string& path)
{
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

// The part of a temporary's name that comes from the target's: shortened so that the
// decorations never push a long name past the name limit.
std::string tempStem(const std::string& path)
{
    return path.substr(path.find_last_of('/') + 1).substr(0, 200);
}

bool allDigits(std::string_view s)
{
    return !s.empty() && s.size() <= 20 && s.find_first_not_of("0123456789") == std::string_view::npos;
}

// A writer killed between creating its temporary and renaming it (kill -9, a crash, a power
// cut) leaves ".NAME.PID-CLOCK.tmp" behind, hidden and forever. The next write to the same
// target removes those whose process is gone: kill(pid, 0) failing with ESRCH. A live
// process's temporary (its write may be under way) and every other file are left alone; a
// reused pid only means a stale temporary waits for a later write.
void removeStaleTemps(const std::string& path)
{
    const std::string folder = folderOf(path);
    std::string prefix(1, '.');
    prefix.append(tempStem(path)).push_back('.');
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) return;
    struct Closer {
        DIR* d;
        ~Closer() { ::closedir(d); }
    } closer{dir};
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name(entry->d_name);
        if (name.size() <= prefix.size() + 4 || name.substr(0, prefix.size()) != prefix
            || name.substr(name.size() - 4) != ".tmp")
            continue;
        const std::string_view middle = name.substr(prefix.size(), name.size() - prefix.size() - 4);
        const auto dash = middle.find('-');
        if (dash == std::string_view::npos || !allDigits(middle.substr(0, dash))
            || !allDigits(middle.substr(dash + 1)))
            continue;
        const long long pid = std::stoll(std::string(middle.substr(0, dash)));
        if (pid <= 0 || pid > INT_MAX || pid == ::getpid()) continue;
        if (::kill(pid_t(pid), 0) == 0 || errno != ESRCH) continue;
        const std::string stale = folder + "/" + std::string(name);
        struct stat info { };
        if (::lstat(stale.c_str(), &info) == 0 && S_ISREG(info.st_mode)) (void)::unlink(stale.c_str());
    }
}

// A new, exclusively created file next to the target, so that the final rename stays
// within one file system.
TempFile createTemp(const std::string& path)
{
    const std::string folder = folderOf(path);
    const std::string name = tempStem(path);
    // Process id and clock make clashes rare; O_EXCL makes them harmless.
    const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
    int lastError = EEXIST;
    for (int attempt = 0; attempt < 100 && lastError == EEXIST; ++attempt) {
        std::string candidate = folder + "/." + name + "." + std::to_string(::getpid()) + "-"
            + std::to_string(now + attempt * 7919) + ".tmp";
        const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) return TempFile(std::move(candidate), fd);
        lastError = errno;
    }
    throwFileError("Cannot write", path, lastError);
}

// Following links ourselves bypasses the kernel's protection of world-writable sticky
// folders (fs.protected_symlinks), so its rule is applied here: in such a folder a link is
// followed only when it belongs to the caller or to the folder's owner. Another user's link
// planted in /tmp would otherwise send the write to any file the caller may write.
void refusePlantedLink(const std::string& path, const std::string& link, const struct stat& info)
{
    if (info.st_uid == ::geteuid()) return;
    const std::string folder = folderOf(link);
    struct stat dir { };
    if (::stat(folder.c_str(), &dir) != 0) return;
    if ((dir.st_mode & (S_ISVTX | S_IWOTH)) != (S_ISVTX | S_IWOTH) || dir.st_uid == info.st_uid) return;
    throw Error(err::PermissionDenied,
        "Cannot write \"" + path + "\": the symbolic link \"" + link + "\" belongs to another user (uid "
            + std::to_string(info.st_uid) + ") in the world-writable folder \"" + folder
            + "\"; refusing to follow it");
}

// The file a save to `path` really replaces: a symbolic link is followed, chain and
// relative targets included, to the first name that is not a link (which may not exist yet).
std::string followLinks(const std::string& path)
{
    std::string current = path;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat info { };
        if (::lstat(current.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return current;
        refusePlantedLink(path, current, info);
        std::vector<char> target(PATH_MAX + 1);
        const ssize_t n = ::readlink(current.c_str(), target.data(), target.size());
        if (n < 0) throwFileError("Cannot write", path, errno);
        if (n == 0) throwFileError("Cannot write", path, ENOENT);
        if (std::size_t(n) >= target.size()) throwFileError("Cannot write", path, ENAMETOOLONG);
        const std::string link(target.data(), std::size_t(n));
        current = link.front() == '/' ? link : folderOf(current) + "/" + link;
    }
    throwFileError("Cannot write", path, ELOOP);
}

void writeAll(int fd, const std::uint8_t* data, std::size_t size, const std::string& path)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            throwFileError("Cannot write", path, errno);
        }
        data += n;
        size -= std::size_t(n);
    }
}

std::string modeText(mode_t mode)
{
    char text[8];
    std::snprintf(text, sizeof text, "%04o", unsigned(mode & 07777));
    return text;
}

// Gives the temporary the owner, group and mode of the file it replaces, as far as the
// process may: run as root, a save over another user's 0600 file leaves it theirs instead
// of root's and unreadable to them; anyone else can at most choose one of their groups.
// The owner goes first, since a change of owner clears the set-ID bits. Returns what could
// not be kept.
WriteNotes keepOwnership(int fd, const struct stat& old)
{
    struct stat now { };
    if (::fstat(fd, &now) != 0) return {"its owner, group and mode could not be kept"};
    if ((now.st_uid != old.st_uid || now.st_gid != old.st_gid) && ::fchown(fd, old.st_uid, old.st_gid) != 0
        && now.st_gid != old.st_gid)
        (void)::fchown(fd, uid_t(-1), old.st_gid);
    (void)::fstat(fd, &now);
    // A set-ID bit is kept only with the owner or group it names.
    mode_t mode = old.st_mode & 07777;
    if (now.st_uid != old.st_uid) mode &= ~mode_t(S_ISUID);
    if (now.st_gid != old.st_gid) mode &= ~mode_t(S_ISGID);
    (void)::fchmod(fd, mode);
    (void)::fstat(fd, &now);

    WriteNotes notes;
    std::string lost;
    if (now.st_uid != old.st_uid) lost = "its owner (uid " + std::to_string(old.st_uid) + ")";
    if (now.st_gid != old.st_gid)
        lost += (lost.empty() ? "its group (gid " : " and group (gid ") + std::to_string(old.st_gid) + ")";
    if (!lost.empty())
        notes.push_back(lost + " could not be kept: the new file belongs to uid " + std::to_string(now.st_uid)
            + ", gid " + std::to_string(now.st_gid));
    if ((now.st_mode & 07777) != (old.st_mode & 07777))
        notes.push_back("its mode " + modeText(old.st_mode) + " could not be kept: the new file has mode "
            + modeText(now.st_mode));
    return notes;
}

// A temporary written, synced and closed, waiting to be renamed over its target.
struct PreparedFile {
    TempFile temp;
    std::string target;
    WriteNotes notes;
};

PreparedFile prepare(const std::string& path, std::span<const std::uint8_t> bytes, const SyncFile& sync,
    const CloseFile& close)
{
    if (path.empty()) throwFileError("Cannot write", path, ENOENT);
    if (path.back() == '/') throwFileError("Cannot write", path, EISDIR);
    // Messages keep naming the path the user gave; the work happens at the link's target.
    std::string target = followLinks(path);
    struct stat existing { };
    const bool replacing = ::stat(target.c_str(), &existing) == 0;
    if (replacing && S_ISDIR(existing.st_mode)) throwFileError("Cannot write", path, EISDIR);

    removeStaleTemps(target);
    TempFile temp = createTemp(target);
    WriteNotes notes;
    if (replacing) notes = keepOwnership(temp.fd(), existing);
    writeAll(temp.fd(), bytes.data(), bytes.size(), path);
    if (sync(temp.fd()) != 0) throwFileError("Cannot write", path, errno);
    if (const int code = temp.close(close); code != 0) throwFileError("Cannot write", path, code);
    return PreparedFile{std::move(temp), std::move(target), std::move(notes)};
}

void commit(PreparedFile& file, const std::string& path)
{
    if (::rename(file.temp.path().c_str(), file.target.c_str()) != 0)
        throwFileError("Cannot write", path, errno);
    file.temp.commit();
}

// Make the rename itself durable; the data is already safe if this fails.
void syncFolder(const std::string& target, const SyncFile& sync)
{
    const int dir = ::open(folderOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        (void)sync(dir);
        ::close(dir);
    }
}

} // namespace

WriteNotes writeFileAtomic(const std::string& path, std::span<const std::uint8_t> bytes, const SyncFile& sync,
    const CloseFile& close)
{
    PreparedFile file = prepare(path, bytes, sync, close);
    commit(file, path);
    syncFolder(file.target, sync);
    return std::move(file.notes);
}

WriteNotes writeFilesAtomic(std::span<const FileContents> files, const SyncFile& sync, const CloseFile& close)
{
    std::vector<PreparedFile> prepared;
    prepared.reserve(files.size());
    // Every temporary is complete before the first rename, so that a full disk or any other
    // failure while writing leaves all the targets as they were; the temporaries written so
    // far go with the vector.
    for (const FileContents& f : files) {
        const auto* data = reinterpret_cast<const std::uint8_t*>(f.text.data());
        prepared.push_back(prepare(f.path, std::span(data, f.text.size()), sync, close));
    }
    for (std::size_t i = 0; i < prepared.size(); ++i)
        commit(prepared[i], files[i].path);
    WriteNotes notes;
    for (std::size_t i = 0; i < prepared.size(); ++i) {
        syncFolder(prepared[i].target, sync);
        for (const std::string& note : prepared[i].notes)
            notes.push_back("\"" + files[i].path + "\": " + note);
    }
    return notes;
}

WriteNotes writeFilesAtomic(std::span<const FileContents> files)
{
    return writeFilesAtomic(files, [](int fd) { return ::fsync(fd); });
}

WriteNotes writeFileAtomic(const std::string& path, std::span<const std::uint8_t> bytes)
{
    return writeFileAtomic(path, bytes, [](int fd) { return ::fsync(fd); });
}

WriteNotes writeFileAtomic(const std::string& path, const std::string& text)
{
    return writeFileAtomic(path, std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

namespace {

struct FileCloser {
    int fd;
    ~FileCloser()
    {
        if (fd >= 0) ::close(fd);
    }
};

// A descriptor for reading the regular file `path`, in blocking mode, with its size.
// Without O_NONBLOCK, opening a FIFO waits for a writer, forever if none comes. Nothing
// but a regular file is read: a FIFO, a device (/dev/zero never ends) or a socket is
// refused before the first byte.
int openRegularFile(const std::string& path, struct stat& info)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        const int code = errno;
        struct stat folder { };
        if (code == ENOENT && ::stat(folderOf(path).c_str(), &folder) == 0)
            throw Error(err::FileNotFound, "File not found: \"" + path + "\"");
        throwFileError("Cannot read", path, code);
    }
    FileCloser closer{fd};
    if (::fstat(fd, &info) != 0) throwFileError("Cannot read", path, errno);
    if (S_ISDIR(info.st_mode)) throwFileError("Cannot read", path, EISDIR);
    if (!S_ISREG(info.st_mode))
        throw Error(err::PathAccess, "Cannot read \"" + path + "\": not a regular file");
    // Ordinary blocking reads from here on.
    if (const int flags = ::fcntl(fd, F_GETFL); flags >= 0) (void)::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    closer.fd = -1;
    return fd;
}

} // namespace

std::vector<std::uint8_t> readFileBytes(const std::string& path, std::size_t maxBytes)
{
    struct stat info { };
    const FileCloser closer{openRegularFile(path, info)};
    const int fd = closer.fd;
    const auto tooLarge = [&] {
        return Error(err::OutOfMemory,
            "File too large: \"" + path + "\" has more than " + std::to_string(maxBytes) + " bytes");
    };
    if (std::uint64_t(info.st_size) > maxBytes) throw tooLarge();

    std::vector<std::uint8_t> bytes;
    try {
        bytes.reserve(std::size_t(info.st_size) + 65536);
        // The size may change while reading: read until the end.
        std::size_t used = 0;
        for (;;) {
            if (bytes.size() - used < 65536) bytes.resize(used + 65536);
            const ssize_t n = ::read(fd, bytes.data() + used, bytes.size() - used);
            if (n < 0) {
                if (errno == EINTR) continue;
                throwFileError("Cannot read", path, errno);
            }
            if (n == 0) break;
            used += std::size_t(n);
            if (used > maxBytes) throw tooLarge();
        }
        bytes.resize(used);
    } catch (const std::bad_alloc&) {
        throw Error(err::OutOfMemory, "Out of memory reading \"" + path + "\"");
    }
    return bytes;
}

std::vector<std::uint8_t> readFileHead(const std::string& path, std::size_t count)
{
    struct stat info { };
    const FileCloser closer{openRegularFile(path, info)};
    std::vector<std::uint8_t> bytes(count);
    std::size_t used = 0;
    while (used < count) {
        const ssize_t n = ::read(closer.fd, bytes.data() + used, count - used);
        if (n < 0) {
            if (errno == EINTR) continue;
            throwFileError("Cannot read", path, errno);
        }
        if (n == 0) break;
        used += std::size_t(n);
    }
    bytes.resize(used);
    return bytes;
}

} // namespace pelinor
