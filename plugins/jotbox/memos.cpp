#include "jotbox.h"
#include "ovplugin.h"

#include <cstdio>

namespace jotbox {
namespace {

// Two callers finishing at once must both be recorded, so the second waits for the first.
constexpr unsigned LockWaitMs = 5000;

} // namespace

bool appendMemo(const char* loginName, const char* memo) {
    char line[2 * TextField + 16];
    int length = std::snprintf(line, sizeof line, "[%s]:  \"%s\"\r\n", loginName, memo);
    if (length < 0 || static_cast<size_t>(length) >= sizeof line) return false;
    return ovAppendLocked(MemoFile, line, static_cast<size_t>(length), LockWaitMs);
}

void clearMemos() {
    // The sysop may clear the memos between another writer's open and its lock: that writer
    // opens the file again.
    int fd = ovOpenLocked(MemoFile, 0, LockWaitMs);
    // Without the lock (another writer stuck for seconds) the sysop's wish still wins.
    unlink(MemoFile);
    if (fd >= 0) close(fd);
}

} // namespace jotbox
