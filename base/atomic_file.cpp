#include "base/atomic_file.h"

#include "base/error.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
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
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    ~TempFile()
    {
        if (m_fd >= 0) ::close(m_fd);
        if (!m_committed) ::unlink(m_path.c_str());
    }
    int fd() const noexcept { return m_fd; }
    const std::string& path() const noexcept { return m_path; }
    // Returns 0 or the errno of a failed close (a delayed write error shows up here).
    int close() noexcept
    {
        const int rc = ::close(m_fd);
        m_fd = -1;
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

// A new, exclusively created file next to the target, so that the final rename stays
// within one file system.
TempFile createTemp(const std::string& path)
{
    const std::string folder = folderOf(path);
    // Shortened so that the decorations never push a long name past the name limit.
    const std::string name = path.substr(path.find_last_of('/') + 1).substr(0, 200);
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

// The file a save to `path` really replaces: a symbolic link is followed, chain and
// relative targets included, to the first name that is not a link (which may not exist yet).
std::string followLinks(const std::string& path)
{
    std::string current = path;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat info { };
        if (::lstat(current.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return current;
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

} // namespace

void writeFileAtomic(const std::string& path, std::span<const std::uint8_t> bytes, const SyncFile& sync)
{
    if (path.empty()) throwFileError("Cannot write", path, ENOENT);
    if (path.back() == '/') throwFileError("Cannot write", path, EISDIR);
    // Messages keep naming the path the user gave; the work happens at the link's target.
    const std::string target = followLinks(path);
    struct stat existing { };
    const bool replacing = ::stat(target.c_str(), &existing) == 0;
    if (replacing && S_ISDIR(existing.st_mode)) throwFileError("Cannot write", path, EISDIR);

    TempFile temp = createTemp(target);
    // A replaced file keeps its permissions.
    if (replacing) (void)::fchmod(temp.fd(), existing.st_mode & 07777);
    writeAll(temp.fd(), bytes.data(), bytes.size(), path);
    if (sync(temp.fd()) != 0) throwFileError("Cannot write", path, errno);
    if (const int code = temp.close(); code != 0) throwFileError("Cannot write", path, code);
    if (::rename(temp.path().c_str(), target.c_str()) != 0) throwFileError("Cannot write", path, errno);
    temp.commit();

    // Make the rename itself durable; the data is already safe if this fails.
    const int dir = ::open(folderOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        (void)sync(dir);
        ::close(dir);
    }
}

void writeFileAtomic(const std::string& path, std::span<const std::uint8_t> bytes)
{
    writeFileAtomic(path, bytes, [](int fd) { return ::fsync(fd); });
}

void writeFileAtomic(const std::string& path, const std::string& text)
{
    writeFileAtomic(path, std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

std::vector<std::uint8_t> readFileBytes(const std::string& path, std::size_t maxBytes)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        const int code = errno;
        struct stat folder { };
        if (code == ENOENT && ::stat(folderOf(path).c_str(), &folder) == 0)
            throw Error(err::FileNotFound, "File not found: \"" + path + "\"");
        throwFileError("Cannot read", path, code);
    }
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};

    struct stat info { };
    if (::fstat(fd, &info) != 0) throwFileError("Cannot read", path, errno);
    if (S_ISDIR(info.st_mode)) throwFileError("Cannot read", path, EISDIR);
    const auto tooLarge = [&] {
        return Error(err::OutOfMemory,
            "File too large: \"" + path + "\" has more than " + std::to_string(maxBytes) + " bytes");
    };
    if (S_ISREG(info.st_mode) && std::uint64_t(info.st_size) > maxBytes) throw tooLarge();

    std::vector<std::uint8_t> bytes;
    try {
        if (S_ISREG(info.st_mode)) bytes.reserve(std::size_t(info.st_size) + 65536);
        // The size may change while reading, and devices report none: read until the end.
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

} // namespace pelinor
