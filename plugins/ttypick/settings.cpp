#include "ttypick.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <mutex>

namespace ttypick {
namespace {

std::mutex settingsLock;
Settings settingsInForce = defaultSettings();

constexpr const char* Defaults[TextCount] = {
    "You are currently using",
    "text only",
    "ANSI escapes",
    "Select from these terminal types:",
    "Plain text only",
    "ANSI escapes and DOS extended characters",
    "Which do you wish to use?",
};

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

void syncDirectory() {
    int dir = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) return;
    fsync(dir);
    close(dir);
}

} // namespace

const char* defaultText(size_t index) {
    return index < TextCount ? Defaults[index] : "";
}

Settings defaultSettings() {
    Settings s{};
    for (size_t i = 0; i < TextCount; ++i)
        setText(s.texts[i], Defaults[i]);
    s.textKey = DefaultTextKey;
    s.ansiKey = DefaultAnsiKey;
    return s;
}

void setText(char (&field)[TextField], const char* text) {
    std::memset(field, 0, TextField);
    std::strncpy(field, text ? text : "", MaxText);
}

char effectiveTextKey(const Settings& settings) {
    return settings.textKey ? settings.textKey : DefaultTextKey;
}

char effectiveAnsiKey(const Settings& settings) {
    return settings.ansiKey ? settings.ansiKey : DefaultAnsiKey;
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
    bool exact = readAll(fd, bytes, SettingsSize) && read(fd, bytes + SettingsSize, 1) == 0;
    close(fd);
    if (!exact) return defaultSettings();
    Settings s{};
    for (size_t i = 0; i < TextCount; ++i) {
        std::memcpy(s.texts[i], bytes + i * TextField, TextField);
        s.texts[i][MaxText] = '\0'; // a damaged file may lack terminators
    }
    s.textKey = static_cast<char>(bytes[TextCount * TextField]);
    s.ansiKey = static_cast<char>(bytes[TextCount * TextField + 1]);
    return s;
}

bool saveSettingsFile(const Settings& settings) {
    unsigned char bytes[SettingsSize];
    for (size_t i = 0; i < TextCount; ++i)
        std::memcpy(bytes + i * TextField, settings.texts[i], TextField);
    bytes[TextCount * TextField] = static_cast<unsigned char>(settings.textKey);
    bytes[TextCount * TextField + 1] = static_cast<unsigned char>(settings.ansiKey);

    // Written beside and renamed over, so a reader sees the old or the new file, never a part.
    const char* temp = "ttypick.dat.new";
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

} // namespace ttypick
