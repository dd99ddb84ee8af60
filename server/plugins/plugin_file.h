// plugins.dat: an 8-byte header (signature, nextPluginId) and 520-byte records that are only
// ever appended or marked removed. Callers hold the plug-in lock.
#pragma once

#include "server/plugins/plugin_registry.h"

#include <cstdint>

// Stored form of a library path: relative when it lies beneath the working directory (whole
// path components), else as given; false when the result would not fit 255 characters.
[[nodiscard]] bool makeStoredPluginPath(const char* fullPath, char out[256]);
// Gives rec the next id and appends it; the id stays used even if the append fails.
[[nodiscard]] bool appendPluginRecord(PluginRecord& rec);
// Overwrites the record with this id by the removed marker and zeros.
[[nodiscard]] bool markPluginRecordRemoved(uint32_t id);
// Every whole record in file order, removed ones included; false when the file cannot be read.
[[nodiscard]] bool readPluginRecords(void (*fn)(const PluginRecord& rec, void* arg), void* arg);
