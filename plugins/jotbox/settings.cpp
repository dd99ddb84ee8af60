#include "jotbox.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <mutex>

namespace jotbox {
namespace {

std::mutex settingsLock;
Settings settingsInForce = defaultSettings();

bool readAll(int fd, void* buffer, size_t n) {
    auto* at = static_cast<char*>(buffer);
    while (n > 0) {
        ssize_t got = read(fd, at, n);
        if (got <= 0) return false;
        at += got;
        n -= static_cast<size_t>(got);
    }
    return true;
}

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

// Makes a rename durable.
void syncDirectory() {
    int dir = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) return;
    fsync(dir);
    close(dir);
}

// A damaged file may lack terminators; keep each text within its limit.
void terminate(char (&field)[TextField]) {
    field[MaxText] = '\0';
}

} // namespace

Settings defaultSettings() {
    Settings s{};
    setText(s.instructions, DefaultInstructions);
    setText(s.successMessage, DefaultSuccess);
    return s;
}

void setText(char (&field)[TextField], const char* text) {
    std::memset(field, 0, TextField);
    std::strncpy(field, text ? text : "", MaxText);
}

Settings currentSettings() {
    std::lock_guard<std::mutex> hold(settingsLock);
    return settingsInForce;
}

void setCurrentSettings(const Settings& settings) {
    std::lock_guard<std::mutex> hold(settingsLock);
    settingsInForce = settings;
}

Settings loadSettingsFile() {
    unsigned char bytes[SettingsSize + 1];
    int fd = open(SettingsFile, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return defaultSettings();
    // One byte more than the record tells a longer file from an exact one.
    bool exact = readAll(fd, bytes, SettingsSize) && read(fd, bytes + SettingsSize, 1) == 0;
    close(fd);
    if (!exact) return defaultSettings();
    Settings s{};
    std::memcpy(s.instructions, bytes, TextField);
    std::memcpy(s.successMessage, bytes + TextField, TextField);
    terminate(s.instructions);
    terminate(s.successMessage);
    return s;
}

bool saveSettingsFile(const Settings& settings) {
    unsigned char bytes[SettingsSize];
    std::memcpy(bytes, settings.instructions, TextField);
    std::memcpy(bytes + TextField, settings.successMessage, TextField);

    // Written beside and renamed over, so a reader sees the old or the new file, never a part.
    const char* temp = "jotbox.dat.new";
    bool ok = false;
    int fd = open(temp, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd >= 0) {
        ok = flock(fd, LOCK_EX | LOCK_NB) == 0 && writeAll(fd, bytes, SettingsSize) &&
             fsync(fd) == 0;
        ok = close(fd) == 0 && ok;
        ok = ok && rename(temp, SettingsFile) == 0;
        if (ok) syncDirectory();
    }
    if (!ok) {
        unlink(temp);
        unlink(SettingsFile);
    }
    return ok;
}

} // namespace jotbox
