// The shared file helpers: whole-operation file access on descriptors, reporting failure only
// as false or InvalidFile. "No sharing" is an exclusive lock taken without waiting, so a second
// opener fails, also in another process. Writes go through to the disk (O_DSYNC).
#pragma once

#include <cstddef>
#include <cstdint>

using FileHandle = int;
constexpr FileHandle InvalidFile = -1;

// Who may read a file the helpers create: everyone, or the server's user only (secrets).
enum class FileAccess { Shared, Private };

// Existing file, read access, others may read too.
[[nodiscard]] FileHandle openForRead(const char* name);
// Create or truncate; write access, no sharing, written through.
[[nodiscard]] FileHandle openForWrite(const char* name, FileAccess access = FileAccess::Shared);
// Open, creating it empty when missing; read and write, no sharing, written through.
[[nodiscard]] FileHandle openForUpdate(const char* name, FileAccess access = FileAccess::Shared);
// Like openForUpdate, but not written through: the writer makes its writes durable through a
// SyncGroup (group_commit.h) before it goes on, so that concurrent writers share one sync.
[[nodiscard]] FileHandle openForGroupedUpdate(const char* name,
                                              FileAccess access = FileAccess::Shared);
// Lets another opener have the file while this handle stays open (to wait for its sync).
void unlockFile(FileHandle file);
// Like openForUpdate, but waits up to `waitMs` for another holder to let go.
[[nodiscard]] FileHandle openForUpdateWaiting(const char* name, uint32_t waitMs,
                                              FileAccess access = FileAccess::Shared);

// True only if all n bytes were read.
[[nodiscard]] bool readExactly(FileHandle file, void* buffer, uint32_t n);
// True only if all n bytes were written.
[[nodiscard]] bool writeExactly(FileHandle file, const void* buffer, uint32_t n);
// Moves by a signed offset from the current position.
[[nodiscard]] bool seekRelative(FileHandle file, int32_t offset);
// Sets the position from the start; 0xFFFFFFFF means the end of the file.
[[nodiscard]] bool seekTo(FileHandle file, uint32_t position);
// Size of an open file; false when it cannot be known.
[[nodiscard]] bool fileSize(FileHandle file, uint64_t& size);
// Which file it is, how large and when it last changed: equal stamps of one file mean, as far
// as the file system can tell, unchanged content.
struct FileStamp {
    uint64_t device = 0;
    uint64_t inode = 0;
    uint64_t size = 0;
    int64_t modifiedNs = 0;
    int64_t changedNs = 0;
    bool operator==(const FileStamp&) const = default;
};
[[nodiscard]] bool fileStamp(FileHandle file, FileStamp& out);
void closeFile(FileHandle file);

// Replaces `to` by `from` (rename), then makes the rename durable (fsync of the directory).
[[nodiscard]] bool replaceFile(const char* from, const char* to);
// Writes the whole content beside `name` and replaces `name` with it, so readers see either the
// old or the new file, never a short one.
[[nodiscard]] bool writeFileAtomically(const char* name, const void* data, size_t n,
                                       FileAccess access = FileAccess::Shared);
[[nodiscard]] bool deleteFile(const char* name);
bool fileExists(const char* name);
