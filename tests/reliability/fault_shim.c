// A preloaded library that makes one chosen file system call of a process fail, so that the
// tests can show every data file survives a full disk, an I/O error or a kill at that point.
//   OV_FAULT_PATTERN  only calls on paths containing this text count (default: every regular
//                     file and directory)
//   OV_FAULT_NTH      the counted call (1-based) that fails; 0 or unset only counts
//   OV_FAULT_MODE     "fail": that call fails with OV_FAULT_ERRNO (ENOSPC or EIO);
//                     "full": the disk fills up there: a write that needs new space stores
//                     half its bytes, and from then on every counted write that needs space
//                     fails with ENOSPC (overwrites in place still work); "kill": SIGKILL
//                     before the call
//   OV_FAULT_COUNT    file that receives the number of counted calls at exit
//   OV_FAULT_CALLS    "writes" (default): write, pwrite, pwrite64, writev, fsync, fdatasync,
//                     rename and renameat count; "reads": read, pread, pread64 and readv count,
//                     and OV_FAULT_MODE "fail" gives EIO, "short" the end of the file there, as
//                     if another program had just cut the file short
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <unistd.h>

enum Mode { ModeFail, ModeFull, ModeKill, ModeShort };

static pthread_once_t once = PTHREAD_ONCE_INIT;
static pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
static const char* pattern;
static long nth;
static int mode = ModeFail;
static int failErrno = ENOSPC;
static long counted;
static int diskFull;
static int countReads;

static void init(void) {
    pattern = getenv("OV_FAULT_PATTERN");
    if (pattern && !*pattern) pattern = NULL;
    const char* n = getenv("OV_FAULT_NTH");
    nth = n ? strtol(n, NULL, 10) : 0;
    const char* m = getenv("OV_FAULT_MODE");
    if (m && strcmp(m, "full") == 0) mode = ModeFull;
    if (m && strcmp(m, "kill") == 0) mode = ModeKill;
    if (m && strcmp(m, "short") == 0) mode = ModeShort;
    const char* e = getenv("OV_FAULT_ERRNO");
    if (e && strcmp(e, "EIO") == 0) failErrno = EIO;
    const char* calls = getenv("OV_FAULT_CALLS");
    countReads = calls && strcmp(calls, "reads") == 0;
    if (countReads) failErrno = EIO;
}

// Whether calls of this kind (reads or writes) are the ones this run counts.
static int kindCounts(int isRead) {
    pthread_once(&once, init);
    return isRead == countReads;
}

static int pathCounts(const char* path) {
    if (pattern) return strstr(path, pattern) != NULL;
    struct stat st;
    return stat(path, &st) == 0 && (S_ISREG(st.st_mode) || S_ISDIR(st.st_mode));
}

static int fdCounts(int fd) {
    char link[64];
    char path[4096];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    ssize_t n = readlink(link, path, sizeof path - 1);
    if (n <= 0) return 0;
    path[n] = 0;
    if (pattern) return strstr(path, pattern) != NULL;
    struct stat st;
    return fstat(fd, &st) == 0 && (S_ISREG(st.st_mode) || S_ISDIR(st.st_mode));
}

enum Verdict { Pass, Fail, Half, Short };

// True when writing n bytes at the file position (or at `at`, when not negative) grows the file.
static int growsFile(int fd, size_t n, off_t at) {
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return 1;
    if (fcntl(fd, F_GETFL) & O_APPEND) return 1;
    off_t pos = at >= 0 ? at : lseek(fd, 0, SEEK_CUR);
    return pos < 0 || pos + (off_t)n > st.st_size;
}

// Decides the fate of one counted call; `isWrite` tells writes that need new space from syncs,
// renames and overwrites in place.
static int decide(int counts, int isWrite) {
    pthread_once(&once, init);
    if (!counts) return Pass;
    pthread_mutex_lock(&lock);
    long k = ++counted;
    int verdict = Pass;
    if (diskFull) {
        verdict = isWrite ? Fail : Pass;
    } else if (nth > 0 && k == nth) {
        if (mode == ModeKill) {
            pthread_mutex_unlock(&lock);
            raise(SIGKILL);
        }
        if (mode == ModeFull) {
            diskFull = 1;
            failErrno = ENOSPC;
            verdict = isWrite ? Half : Pass;
        } else {
            verdict = mode == ModeShort ? Short : Fail;
        }
    }
    pthread_mutex_unlock(&lock);
    if (verdict == Fail) errno = failErrno;
    return verdict;
}

ssize_t write(int fd, const void* buf, size_t n) {
    int v = decide(kindCounts(0) && fdCounts(fd), growsFile(fd, n, -1));
    if (v == Fail) return -1;
    if (v == Half && n > 1) n /= 2;
    return syscall(SYS_write, fd, buf, n);
}

ssize_t pwrite(int fd, const void* buf, size_t n, off_t off) {
    int v = decide(kindCounts(0) && fdCounts(fd), growsFile(fd, n, off));
    if (v == Fail) return -1;
    if (v == Half && n > 1) n /= 2;
    return syscall(SYS_pwrite64, fd, buf, n, off);
}

ssize_t pwrite64(int fd, const void* buf, size_t n, off_t off) {
    return pwrite(fd, buf, n, off);
}

ssize_t writev(int fd, const struct iovec* iov, int count) {
    size_t n = 0;
    for (int i = 0; i < count; ++i)
        n += iov[i].iov_len;
    int v = decide(kindCounts(0) && fdCounts(fd), growsFile(fd, n, -1));
    if (v == Fail) return -1;
    if (v == Half && count > 0 && iov[0].iov_len > 1)
        return syscall(SYS_write, fd, iov[0].iov_base, iov[0].iov_len / 2);
    return syscall(SYS_writev, fd, iov, count);
}

int fsync(int fd) {
    if (decide(kindCounts(0) && fdCounts(fd), 0) != Pass) return -1;
    return (int)syscall(SYS_fsync, fd);
}

int fdatasync(int fd) {
    if (decide(kindCounts(0) && fdCounts(fd), 0) != Pass) return -1;
    return (int)syscall(SYS_fdatasync, fd);
}

int rename(const char* from, const char* to) {
    if (decide(kindCounts(0) && (pathCounts(from) || pathCounts(to)), 0) != Pass) return -1;
    return (int)syscall(SYS_renameat, AT_FDCWD, from, AT_FDCWD, to);
}

int renameat(int fromDir, const char* from, int toDir, const char* to) {
    if (decide(kindCounts(0) && (pathCounts(from) || pathCounts(to)), 0) != Pass) return -1;
    return (int)syscall(SYS_renameat, fromDir, from, toDir, to);
}

ssize_t read(int fd, void* buf, size_t n) {
    int v = decide(kindCounts(1) && fdCounts(fd), 0);
    if (v == Fail) return -1;
    if (v == Short) return 0;
    return syscall(SYS_read, fd, buf, n);
}

ssize_t pread(int fd, void* buf, size_t n, off_t off) {
    int v = decide(kindCounts(1) && fdCounts(fd), 0);
    if (v == Fail) return -1;
    if (v == Short) return 0;
    return syscall(SYS_pread64, fd, buf, n, off);
}

ssize_t pread64(int fd, void* buf, size_t n, off_t off) {
    return pread(fd, buf, n, off);
}

ssize_t readv(int fd, const struct iovec* iov, int count) {
    int v = decide(kindCounts(1) && fdCounts(fd), 0);
    if (v == Fail) return -1;
    if (v == Short) return 0;
    return syscall(SYS_readv, fd, iov, count);
}

__attribute__((destructor)) static void reportCount(void) {
    const char* file = getenv("OV_FAULT_COUNT");
    if (!file) return;
    int fd = open(file, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return;
    char text[32];
    int n = snprintf(text, sizeof text, "%ld\n", counted);
    (void)syscall(SYS_write, fd, text, (size_t)n);
    close(fd);
}
