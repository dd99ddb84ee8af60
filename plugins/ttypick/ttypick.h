// The terminal type plug-in's internals: its nine settings (seven texts and two keys) kept in
// ttypick.dat (562 bytes), and the choice dialogue. Sessions work on a consistent copy of the
// settings, so a configuration dialog replacing them is never seen half-written.
#pragma once

#include "ovbbs.h"

#include <cstddef>

namespace ttypick {

constexpr size_t TextField = 80; // bytes per text in ttypick.dat
constexpr size_t MaxText = TextField - 2;
constexpr size_t TextCount = 7;
constexpr size_t SettingsSize = TextCount * TextField + 2;
constexpr char DefaultTextKey = 'T';
constexpr char DefaultAnsiKey = 'A';
constexpr const char* SettingsFile = "ttypick.dat";

// Indexes of the texts, in file order.
enum Text : size_t {
    CurrentlyUsing,
    TextTypeName,
    AnsiTypeName,
    SelectText,
    TextOption,
    AnsiOption,
    Question,
};

struct Settings {
    char texts[TextCount][TextField];
    char textKey; // 0 (an empty field) stands for DefaultTextKey
    char ansiKey; // 0 stands for DefaultAnsiKey
};

const char* defaultText(size_t index);
Settings defaultSettings();
void setText(char (&field)[TextField], const char* text);
// The keys a caller presses: an empty key means its default.
char effectiveTextKey(const Settings& settings);
char effectiveAnsiKey(const Settings& settings);

Settings currentSettings();
void setCurrentSettings(const Settings& settings);
Settings loadSettingsFile();
// Replaces ttypick.dat atomically; on failure deletes it so the defaults apply next time.
[[nodiscard]] bool saveSettingsFile(const Settings& settings);

// The terminal type dialogue; for an instance whose argument is "charset", the choice between
// the DOS character set and UTF-8 instead.
BOOL runSession(const HostServices& host, void* session, DWORD* endSession);

} // namespace ttypick
