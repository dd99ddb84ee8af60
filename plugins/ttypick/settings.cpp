#include "ovplugin.h"
#include "ttypick.h"

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
    // One byte more than the record tells a longer file from an exact one.
    if (ovReadFile(SettingsFile, bytes, sizeof bytes) != static_cast<ssize_t>(SettingsSize))
        return defaultSettings();
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

    // A reader sees the old or the new file, never a part; after a failure the defaults apply.
    const bool ok = ovSaveFileAtomically(SettingsFile, bytes, SettingsSize);
    if (!ok) unlink(SettingsFile);
    return ok;
}

} // namespace ttypick
