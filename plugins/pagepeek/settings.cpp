#include "pagepeek.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace pagepeek {
namespace {

std::mutex settingsLock;
MoreText moreInForce = makeMoreText(DefaultMore);

bool writeAll(int fd, const void* buffer, size_t n) {
    const auto* at = static_cast<const char*>(buffer);
    while (n > 0) {
        ssize_t put = write(fd, at, n);
        if (put <= 0) return false;
        at += put;
        n -= static_cast<size_t>(put);
    }
    return true;
}

void syncDirectory() {
    int dir = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) return;
    fsync(dir);
    close(dir);
}

} // namespace

MoreText makeMoreText(const char* text) {
    MoreText more{};
    const char* from = text ? text : "";
    std::memcpy(more.text, from, strnlen(from, MaxMore));
    return more;
}

MoreText currentMoreText() {
    std::lock_guard<std::mutex> hold(settingsLock);
    return moreInForce;
}

void setCurrentMoreText(const MoreText& more) {
    std::lock_guard<std::mutex> hold(settingsLock);
    moreInForce = more;
}

MoreText loadSettingsFile() {
    unsigned char bytes[MoreField - 1];
    size_t got = 0;
    int fd = open(SettingsFile, O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        while (got < sizeof bytes) {
            ssize_t n = read(fd, bytes + got, sizeof bytes - got);
            if (n <= 0) break;
            got += static_cast<size_t>(n);
        }
        close(fd);
    }
    // The text runs up to the first control or non-ASCII byte.
    MoreText more{};
    size_t length = 0;
    while (length < got && bytes[length] >= 0x20 && bytes[length] < 0x80) {
        more.text[length] = static_cast<char>(bytes[length]);
        ++length;
    }
    return length > 0 ? more : makeMoreText(DefaultMore);
}

bool saveSettingsFile(const MoreText& more) {
    MoreText field = makeMoreText(more.text); // zero after the terminator
    // Written beside and renamed over, so a reader sees the old or the new file, never a part.
    const char* temp = "pagepeek.dat.new";
    bool ok = false;
    int fd = open(temp, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd >= 0) {
        ok = flock(fd, LOCK_EX | LOCK_NB) == 0 && writeAll(fd, field.text, MoreField) &&
             fsync(fd) == 0;
        ok = close(fd) == 0 && ok;
        ok = ok && rename(temp, SettingsFile) == 0;
        if (ok) syncDirectory();
    }
    // A failed save leaves the previous file whole.
    if (!ok) unlink(temp);
    return ok;
}

void formatStatus(char* out, size_t size, const char* more, uint64_t position, uint64_t total) {
    // 64 bits keep the percentage right for files far beyond 20 MB.
    const uint64_t percent = total ? position * 100 / total : 0;
    std::snprintf(out, size, "%s (%" PRIu64 "/%" PRIu64 ", %" PRIu64 "%%)", more, position, total,
                  percent);
}

} // namespace pagepeek
