#include "jotbox.h"
#include "ovplugin.h"

#include <cstring>
#include <mutex>

namespace jotbox {
namespace {

std::mutex settingsLock;
Settings settingsInForce = defaultSettings();

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
    // One byte more than the record tells a longer file from an exact one.
    if (ovReadFile(SettingsFile, bytes, sizeof bytes) != static_cast<ssize_t>(SettingsSize))
        return defaultSettings();
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

    // A reader sees the old or the new file, never a part; after a failure the defaults apply.
    const bool ok = ovSaveFileAtomically(SettingsFile, bytes, SettingsSize);
    if (!ok) unlink(SettingsFile);
    return ok;
}

} // namespace jotbox
