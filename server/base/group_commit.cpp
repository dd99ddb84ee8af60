#include "server/base/group_commit.h"

#include <sys/stat.h>
#include <unistd.h>

bool SyncGroup::syncData(FileHandle file) {
    {
        std::lock_guard<std::mutex> hold(lock_);
        ++syncs_;
    }
    return ::fdatasync(file) == 0;
}

uint64_t SyncGroup::syncs() {
    std::lock_guard<std::mutex> hold(lock_);
    return syncs_;
}

SyncTicket SyncGroup::enter(FileHandle file) {
    struct stat st;
    if (::fstat(file, &st) != 0) return SyncTicket{};
    std::lock_guard<std::mutex> hold(lock_);
    if (group_ == 0 || device_ != uint64_t(st.st_dev) || inode_ != uint64_t(st.st_ino)) {
        // Another file now: a sync of it says nothing about writes to the one before.
        ++group_;
        device_ = uint64_t(st.st_dev);
        inode_ = uint64_t(st.st_ino);
        written_ = durable_ = failedTo_ = 0;
    }
    return SyncTicket{group_, ++written_};
}

bool SyncGroup::commit(FileHandle file, SyncTicket ticket) {
    std::unique_lock<std::mutex> hold(lock_);
    for (;;) {
        if (ticket.group == 0 || ticket.group != group_) {
            hold.unlock();
            return syncData(file);
        }
        // A failed sync may have lost what it was to write, whatever a later one reports; a writer
        // that wakes late to both hears of the failure, which errs on the safe side.
        if (ticket.number <= failedTo_) return false;
        if (ticket.number <= durable_) return true;
        if (!syncing_) break;
        synced_.wait(hold);
    }
    // This writer syncs for everyone written so far; those who come meanwhile wait for the next.
    syncing_ = true;
    const uint64_t group = group_;
    const uint64_t upTo = written_;
    hold.unlock();
    const bool ok = syncData(file);
    hold.lock();
    syncing_ = false;
    if (group == group_) {
        if (ok && upTo > durable_) durable_ = upTo;
        if (!ok && upTo > failedTo_) failedTo_ = upTo;
    }
    synced_.notify_all();
    return ok;
}
