#include "server/base/file_helpers.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

mode_t modeFor(FileAccess access) {
    return access == FileAccess::Private ? 0600 : 0644;
}

// Opens with an exclusive lock taken without waiting; truncation happens only once the lock is
// held, so a refused second opener never damages the holder's file.
FileHandle openExclusive(const char* name, bool truncate, FileAccess access,
                         bool writeThrough = true) {
    int fd =
        ::open(name, O_RDWR | O_CREAT | (writeThrough ? O_DSYNC : 0) | O_CLOEXEC, modeFor(access));
    if (fd < 0) return InvalidFile;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0 || (truncate && ftruncate(fd, 0) != 0)) {
        ::close(fd);
        return InvalidFile;
    }
    return fd;
}

std::string directoryOf(const char* path) {
    const char* slash = std::strrchr(path, '/');
    if (!slash) return ".";
    if (slash == path) return "/";
    return std::string(path, static_cast<size_t>(slash - path));
}

bool syncDirectoryOf(const char* path) {
    int dir = ::open(directoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) return false;
    bool ok = fsync(dir) == 0;
    ::close(dir);
    return ok;
}

} // namespace

FileHandle openForRead(const char* name) {
    int fd = ::open(name, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return InvalidFile;
    struct stat st;
    if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        ::close(fd);
        return InvalidFile;
    }
    posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    return fd;
}

FileHandle openForWrite(const char* name, FileAccess access) {
    return openExclusive(name, true, access);
}

FileHandle openForUpdate(const char* name, FileAccess access) {
    return openExclusive(name, false, access);
}

FileHandle openForGroupedUpdate(const char* name, FileAccess access) {
    return openExclusive(name, false, access, false);
}

void unlockFile(FileHandle file) {
    if (file != InvalidFile) (void)flock(file, LOCK_UN);
}

FileHandle openForUpdateWaiting(const char* name, uint32_t waitMs, FileAccess access) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    for (;;) {
        FileHandle f = openForUpdate(name, access);
        if (f != InvalidFile || errno != EWOULDBLOCK) return f;
        if (std::chrono::steady_clock::now() >= deadline) return InvalidFile;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

bool readExactly(FileHandle file, void* buffer, uint32_t n) {
    auto* p = static_cast<char*>(buffer);
    uint32_t done = 0;
    while (done < n) {
        ssize_t r = ::read(file, p + done, n - done);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        done += static_cast<uint32_t>(r);
    }
    return true;
}

bool writeExactly(FileHandle file, const void* buffer, uint32_t n) {
    const auto* p = static_cast<const char*>(buffer);
    uint32_t done = 0;
    while (done < n) {
        ssize_t w = ::write(file, p + done, n - done);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        done += static_cast<uint32_t>(w);
    }
    return true;
}

bool seekRelative(FileHandle file, int32_t offset) {
    return lseek(file, offset, SEEK_CUR) != static_cast<off_t>(-1);
}

bool seekTo(FileHandle file, uint32_t position) {
    if (position == 0xFFFFFFFFu) return lseek(file, 0, SEEK_END) != static_cast<off_t>(-1);
    return lseek(file, static_cast<off_t>(position), SEEK_SET) != static_cast<off_t>(-1);
}

bool fileSize(FileHandle file, uint64_t& size) {
    struct stat st;
    if (fstat(file, &st) != 0) return false;
    size = static_cast<uint64_t>(st.st_size);
    return true;
}

bool fileStamp(FileHandle file, FileStamp& out) {
    struct stat st;
    if (fstat(file, &st) != 0) return false;
    out.device = static_cast<uint64_t>(st.st_dev);
    out.inode = static_cast<uint64_t>(st.st_ino);
    out.size = static_cast<uint64_t>(st.st_size);
    out.modifiedNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    out.changedNs = static_cast<int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
    return true;
}

void closeFile(FileHandle file) {
    if (file != InvalidFile) ::close(file);
}

bool replaceFile(const char* from, const char* to) {
    if (::rename(from, to) != 0) return false;
    return syncDirectoryOf(to);
}

bool writeFileAtomically(const char* name, const void* data, size_t n, FileAccess access) {
    std::string temp = std::string(name) + ".new";
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, modeFor(access));
    if (fd < 0) return false;
    bool ok = n <= UINT32_MAX && writeExactly(fd, data, static_cast<uint32_t>(n)) && fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    if (ok && replaceFile(temp.c_str(), name)) return true;
    ::unlink(temp.c_str());
    return false;
}

bool deleteFile(const char* name) {
    return ::unlink(name) == 0;
}

bool fileExists(const char* name) {
    struct stat st;
    return ::stat(name, &st) == 0;
}
