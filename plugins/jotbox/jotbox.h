// The memo plug-in's internals: its two caller texts, the settings file jotbox.dat (two fixed
// 80-byte fields) and the memo file jotbox.txt. Sessions read the texts as a consistent copy, so
// a configuration dialog replacing them is never seen half-written.
#pragma once

#include "ovbbs.h"

#include <cstddef>

namespace jotbox {

constexpr size_t TextField = 80;          // bytes per text in jotbox.dat
constexpr size_t MaxText = TextField - 2; // characters per text
constexpr size_t SettingsSize = 2 * TextField;
constexpr size_t MaxMemo = 79;
constexpr const char* SettingsFile = "jotbox.dat";
constexpr const char* MemoFile = "jotbox.txt";
constexpr const char* DefaultInstructions =
    "Enter a one-line memo to the sysop, or Ctrl-C to cancel.";
constexpr const char* DefaultSuccess = "The message has been recorded.";

struct Settings {
    char instructions[TextField];
    char successMessage[TextField];
};

Settings defaultSettings();
// Copies `text` into a field, cut to MaxText characters.
void setText(char (&field)[TextField], const char* text);

// The texts in force, as a copy taken under the settings lock.
Settings currentSettings();
void setCurrentSettings(const Settings& settings);

// Reads jotbox.dat; exactly 160 bytes or the defaults.
Settings loadSettingsFile();
// Replaces jotbox.dat atomically; on failure deletes it so the defaults apply next time.
[[nodiscard]] bool saveSettingsFile(const Settings& settings);

// Appends one memo line to jotbox.txt, waiting a bounded time for another writer to finish.
[[nodiscard]] bool appendMemo(const char* loginName, const char* memo);
// Deletes jotbox.txt once no memo is being appended.
void clearMemos();

// The memo dialogue with one caller.
BOOL runSession(const HostServices& host, void* session, DWORD* endSession);

} // namespace jotbox
