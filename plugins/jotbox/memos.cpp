#include "jotbox.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>

namespace jotbox {
namespace {

// Two callers finishing at once must both be recorded, so the second waits for the first.
constexpr auto LockWait = std::chrono::seconds(5);
constexpr auto LockPoll = std::chrono::milliseconds(5);

bool lockWithin(int fd, std::chrono::steady_clock::time_point deadline) {
    for (;;) {
        if (flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(LockPoll);
    }
}

// True while `fd` is still the file that the name refers to (the sysop may clear the memos
// between our open and our lock).
bool stillNamed(int fd, const char* name) {
    struct stat open {};
    struct stat named {};
    return fstat(fd, &open) == 0 && stat(name, &named) == 0 && open.st_dev == named.st_dev &&
           open.st_ino == named.st_ino;
}

// Opens the memo file (created when `create`) and locks it exclusively; -1 on failure.
int openLocked(bool create) {
    auto deadline = std::chrono::steady_clock::now() + LockWait;
    int flags = O_RDWR | O_CLOEXEC | O_DSYNC | (create ? O_CREAT : 0);
    for (;;) {
        int fd = open(MemoFile, flags, 0644);
        if (fd < 0) return -1;
        if (!lockWithin(fd, deadline)) {
            close(fd);
            return -1;
        }
        if (stillNamed(fd, MemoFile)) return fd;
        close(fd);
        if (std::chrono::steady_clock::now() >= deadline) return -1;
    }
}

} // namespace

bool appendMemo(const char* loginName, const char* memo) {
    char line[2 * TextField + 16];
    int length = std::snprintf(line, sizeof line, "[%s]:  \"%s\"\r\n", loginName, memo);
    if (length < 0 || static_cast<size_t>(length) >= sizeof line) return false;
    int fd = openLocked(true);
    if (fd < 0) return false;
    off_t end = lseek(fd, 0, SEEK_END);
    bool ok =
        end >= 0 && write(fd, line, static_cast<size_t>(length)) == static_cast<ssize_t>(length);
    // A full disk must not leave half a memo that the next one would run into.
    if (!ok && end >= 0) (void)ftruncate(fd, end);
    close(fd);
    return ok;
}

void clearMemos() {
    int fd = openLocked(false);
    // Without the lock (another writer stuck for seconds) the sysop's wish still wins.
    unlink(MemoFile);
    if (fd >= 0) close(fd);
}

} // namespace jotbox
