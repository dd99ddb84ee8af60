// Group commit for files written through: a writer writes without waiting for the disk, takes a
// ticket while its module's lock still orders the writes, and then waits in commit() until a
// sync that began after its write has finished. One fdatasync so serves every writer that came
// while the one before it ran, instead of each writer waiting for every sync queued before its
// own. A change of file (renamed, replaced) starts a new group; the old group's writers sync alone.
#pragma once

#include "server/base/file_helpers.h"

#include <condition_variable>
#include <cstdint>
#include <mutex>

struct SyncTicket {
    uint64_t group = 0; // 0: sync alone
    uint64_t number = 0;
};

class SyncGroup {
public:
    // Right after the writes, under the lock that orders them.
    SyncTicket enter(FileHandle file);
    // Returns once every write made before `ticket` was taken is on disk, through `file` or any
    // other descriptor of the same file. False when a sync that may have covered it failed.
    [[nodiscard]] bool commit(FileHandle file, SyncTicket ticket);
    // How many syncs the writers asked for so far.
    uint64_t syncs();

private:
    bool syncData(FileHandle file);

    std::mutex lock_;
    std::condition_variable synced_;
    uint64_t group_ = 0;
    uint64_t device_ = 0;
    uint64_t inode_ = 0;
    uint64_t written_ = 0;  // tickets handed out in this group
    uint64_t durable_ = 0;  // tickets whose writes a finished sync covered
    uint64_t failedTo_ = 0; // tickets up to here met a failed sync
    bool syncing_ = false;
    uint64_t syncs_ = 0;
};
