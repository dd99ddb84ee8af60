/* Small helpers every plug-in needs, header-only, for C and C++:
 *   - talking to the caller through the lent services with exact lengths;
 *   - reading a small file, saving settings atomically (written beside, synced, renamed over,
 *     the directory synced), appending under a lock with a bounded wait;
 *   - finding the main menu's "&Window" pop-up for menu commands.
 * File names are relative to the server's working directory. Interrupted system calls are
 * retried. In C, build with the POSIX and BSD interfaces visible (gnu11, or -D_DEFAULT_SOURCE). */
#ifndef OVPLUGIN_H
#define OVPLUGIN_H

#include "ovbbs.h"
#include "ovui.h"

#include <errno.h>
#include <fcntl.h>
#include <stddef.h>
#include <stdio.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ---- The caller ------------------------------------------------------------------------- */

/* All `length` bytes to the caller, or 0 (the caller is gone or timed out). */
static inline BOOL ovCallerWrite(const HostServices* host, void* session, const void* bytes,
                                 size_t length) {
    if (length > 0xFFFFFFFFu) return 0;
    return host->write(session, bytes, (DWORD)length) != 0;
}

static inline BOOL ovCallerWriteText(const HostServices* host, void* session, const char* text) {
    return ovCallerWrite(host, session, text, strlen(text));
}

/* Exactly `length` bytes from the caller (no echo), or 0. */
static inline BOOL ovCallerRead(const HostServices* host, void* session, void* buffer,
                                size_t length) {
    if (length > 0xFFFFFFFFu) return 0;
    return host->read(session, buffer, (DWORD)length) != 0;
}

/* ---- Files ------------------------------------------------------------------------------ */

static inline BOOL ovWriteExactly(int fd, const void* buffer, size_t n) {
    const char* at = (const char*)buffer;
    while (n > 0) {
        ssize_t put = write(fd, at, n);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return 0;
        at += put;
        n -= (size_t)put;
    }
    return 1;
}

/* Reads up to `size` bytes of the file: the count read, or -1 when it cannot be opened. Ask for
 * one byte more than a fixed record to tell an exact file from a longer one. */
static inline ssize_t ovReadFile(const char* name, void* buffer, size_t size) {
    int fd = open(name, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -1;
    char* at = (char*)buffer;
    size_t got = 0;
    while (got < size) {
        ssize_t n = read(fd, at + got, size - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += (size_t)n;
    }
    close(fd);
    return (ssize_t)got;
}

/* Makes a rename in the file's directory durable; best effort. */
static inline void ovSyncDirectoryOf(const char* name) {
    char dir[4096] = ".";
    const char* slash = strrchr(name, '/');
    if (slash) {
        size_t length = slash == name ? 1 : (size_t)(slash - name);
        if (length >= sizeof dir) return;
        memcpy(dir, name, length);
        dir[length] = '\0';
    }
    int fd = open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    (void)fsync(fd);
    close(fd);
}

/* Replaces `name` with `n` bytes: written to "<name>.new" (locked, so two saves at once cannot
 * mix), synced, renamed over `name`, so a reader sees the old or the new file, never a part.
 * On failure the temporary file is gone and `name` is as it was. */
static inline BOOL ovSaveFileAtomically(const char* name, const void* data, size_t n) {
    char temp[4096];
    size_t length = strlen(name);
    if (length + sizeof ".new" > sizeof temp) return 0;
    memcpy(temp, name, length);
    memcpy(temp + length, ".new", sizeof ".new");
    BOOL ok = 0;
    int fd = open(temp, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd >= 0) {
        ok = flock(fd, LOCK_EX | LOCK_NB) == 0 && ovWriteExactly(fd, data, n) && fsync(fd) == 0;
        ok = close(fd) == 0 && ok;
        ok = ok && rename(temp, name) == 0;
        /* The new content is in place once renamed; the sync only makes that last. */
        if (ok) ovSyncDirectoryOf(name);
    }
    if (!ok) unlink(temp);
    return ok;
}

/* Opens `name` read-write (creating it when `create`) and locks it exclusively, waiting up to
 * `waitMs` for another holder; -1 on failure. A file deleted or replaced while we waited is
 * opened again, so the lock always belongs to the file the name refers to. */
static inline int ovOpenLocked(const char* name, BOOL create, unsigned waitMs) {
    struct timespec now, deadline;
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += (time_t)(waitMs / 1000);
    deadline.tv_nsec += (long)(waitMs % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1000000000L;
    }
    const struct timespec poll = {0, 5000000L};
    int flags = O_RDWR | O_CLOEXEC | O_DSYNC | (create ? O_CREAT : 0);
    for (;;) {
        int fd = open(name, flags, 0644);
        if (fd < 0) return -1;
        BOOL locked = 0;
        BOOL late = 0;
        while (!locked && !late) {
            locked = flock(fd, LOCK_EX | LOCK_NB) == 0;
            clock_gettime(CLOCK_MONOTONIC, &now);
            late = now.tv_sec > deadline.tv_sec ||
                   (now.tv_sec == deadline.tv_sec && now.tv_nsec >= deadline.tv_nsec);
            if (!locked && !late) nanosleep(&poll, NULL);
        }
        if (!locked) {
            close(fd);
            return -1;
        }
        struct stat opened, named;
        if (fstat(fd, &opened) == 0 && stat(name, &named) == 0 && opened.st_dev == named.st_dev &&
            opened.st_ino == named.st_ino)
            return fd;
        close(fd);
        if (late) return -1;
    }
}

/* Appends `n` bytes to `name` (created when missing) under its lock, waiting up to `waitMs` for
 * another writer. A failed write is cut back, so no half entry is left for the next to run into. */
static inline BOOL ovAppendLocked(const char* name, const void* data, size_t n, unsigned waitMs) {
    int fd = ovOpenLocked(name, 1, waitMs);
    if (fd < 0) return 0;
    off_t end = lseek(fd, 0, SEEK_END);
    BOOL ok = end >= 0 && ovWriteExactly(fd, data, n);
    if (!ok && end >= 0) (void)ftruncate(fd, end);
    close(fd);
    return ok;
}

/* ---- Menus ------------------------------------------------------------------------------ */

/* The main menu's "&Window" pop-up (any letter case), else the third pop-up, else the bar. */
static inline HMENU ovFindWindowMenu(HMENU bar) {
    int position = 2; /* where "&Window" usually sits */
    char text[256];
    for (int i = 0; ovGetMenuString(bar, (UINT)i, text, (int)sizeof text, MF_BYPOSITION) > 0; ++i) {
        const char* want = "&WINDOW";
        const char* at = text;
        for (; *at && *want; ++at, ++want) {
            char c = *at >= 'a' && *at <= 'z' ? (char)(*at - 'a' + 'A') : *at;
            if (c != *want) break;
        }
        if (*at == '\0' && *want == '\0') {
            position = i;
            break;
        }
    }
    HMENU sub = ovGetSubMenu(bar, position);
    return sub ? sub : bar;
}

#ifdef __cplusplus
}
#endif

#endif
