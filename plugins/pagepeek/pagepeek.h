// The file viewer plug-in's internals: the "More" text kept in pagepeek.dat (a 64-byte field)
// and the paging dialogue. Sessions take a copy of the text under a lock, so a configuration
// dialog replacing it is never seen half-written.
#pragma once

#include "ovbbs.h"

#include <cstddef>
#include <cstdint>

namespace pagepeek {

constexpr size_t MoreField = 64;
constexpr size_t MaxMore = MoreField - 2;
constexpr const char* DefaultMore = "MORE";
constexpr const char* SettingsFile = "pagepeek.dat";

struct MoreText {
    char text[MoreField];
};

MoreText makeMoreText(const char* text); // cut to MaxMore characters
MoreText currentMoreText();
void setCurrentMoreText(const MoreText& more);
// Reads pagepeek.dat; its leading printable characters, or "MORE".
MoreText loadSettingsFile();
// Replaces pagepeek.dat atomically with the 64-byte field.
[[nodiscard]] bool saveSettingsFile(const MoreText& more);

// Formats the status text "<more> (<position>/<total>, <percent>%)"; 64-bit throughout.
void formatStatus(char* out, size_t size, const char* more, uint64_t position, uint64_t total);

BOOL runSession(const HostServices& host, void* session, DWORD* endSession);

} // namespace pagepeek
