// Reading whole files and replacing files without ever leaving a half-written one.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace pelinor {

// What a write could not keep of the file it replaced, one phrase each, for the user
// ("its owner uid 1000 and group gid 1000 (it now belongs to ...)"); empty when all was kept.
using WriteNotes = std::vector<std::string>;

// Writes to a temporary file in the target's folder, then renames it over the target.
// On failure the target is untouched, no temporary remains, and an Error names the
// file and the reason. A replaced file keeps its owner, group and mode where the process
// may set them; what it cannot keep is returned as notes. A symbolic link as the target is
// written through: the file it points to (after every link in a chain) is replaced and the
// link stays a link. A link in a world-writable sticky folder (/tmp) is followed only when
// it belongs to the caller or to the folder's owner, as the kernel itself does (error 70
// otherwise): one planted there by another user must not redirect the write. The
// temporary is ".NAME.PID-CLOCK.tmp" beside the target; one left by a writer that was
// killed is removed by the next write to the same target once its process is gone.
WriteNotes writeFileAtomic(const std::string& path, std::span<const std::uint8_t> bytes);
WriteNotes writeFileAtomic(const std::string& path, const std::string& text);

// How the write is made durable: called with the temporary's descriptor before the rename
// (its failure fails the write) and with the folder's after it (its failure is ignored, the
// data being safe by then). fsync(2) by default; tests count and fail the calls through it.
using SyncFile = std::function<int(int fd)>;
// How the temporary is closed once written and synced: close(2) by default (when empty). A
// file system may report a delayed write error only here (NFS, a quota), so its failure
// fails the write. Like close(2), it must release the descriptor even when it fails, and
// fails by returning -1 with errno set; tests fail the call through it.
using CloseFile = std::function<int(int fd)>;
WriteNotes writeFileAtomic(const std::string& path, std::span<const std::uint8_t> bytes, const SyncFile& sync,
    const CloseFile& close = {});

// Several files replaced as a set: every temporary is written and synced before the first
// rename, so a failure while writing (a full disk) leaves all the targets untouched and no
// temporary behind. Only a failing rename, which needs no space, could leave part of the set.
// The notes name the file they concern.
struct FileContents {
    std::string path;
    std::string text;
};
WriteNotes writeFilesAtomic(std::span<const FileContents> files);
WriteNotes writeFilesAtomic(
    std::span<const FileContents> files, const SyncFile& sync, const CloseFile& close = {});

// Whole file; missing file is error 53. Anything but a regular file (a FIFO, a device, a
// socket) is refused without blocking or reading (error 75). Refuses files over maxBytes (error 7).
std::vector<std::uint8_t> readFileBytes(const std::string& path, std::size_t maxBytes = std::size_t(2) << 30);

// The first `count` bytes of a file (fewer when it is shorter), with readFileBytes's refusals:
// enough to tell what a file holds from its header without reading the rest.
std::vector<std::uint8_t> readFileHead(const std::string& path, std::size_t count);

} // namespace pelinor
