// The area tree: a table of up to 16384 areas indexed by id, kept whole in "area/bbs_area.dat".
// Every change rewrites the file through a backup, so a failed write never loses the previous
// tree. Callers work on copies; every operation holds the area lock for its whole duration.
#pragma once

#include "server/base/file_helpers.h"

#include <cstddef>
#include <cstdint>
#include <mutex>

constexpr uint32_t MaxAreas = 16384;
constexpr uint32_t MaxAreaChildren = 9;
constexpr uint32_t MaxAreaExtensions = 9;
constexpr size_t AreaRecordSize = 984;
constexpr const char* AreaDirectory = "area";
constexpr const char* AreaFile = "area/bbs_area.dat";
constexpr const char* AreaBackupFile = "area/bbs_area.bak";

// A default-constructed record is the template for a new area: "New area", access 0 to 65535.
struct AreaRecord {
    uint32_t id = 0; // its slot in the table; 0 is the root
    uint32_t parentId = 0;
    uint16_t minAccess = 0;
    uint16_t maxAccess = 65535;
    uint16_t childCount = 0;             // valid entries of childIds, at most 9
    uint16_t extensionCount = 0;         // valid entries of the extension arrays, at most 9
    uint32_t childIds[9] = {};           // menu keys '1' to '9'
    uint32_t extensionPluginIds[9] = {}; // menu keys 'A' to 'I'
    char title[32] = "New area";
    char extensionNames[9][32] = {};
    char extensionArgs[9][64] = {};
};

void encodeAreaRecord(const AreaRecord& rec, uint8_t out[AreaRecordSize]);
void decodeAreaRecord(const uint8_t in[AreaRecordSize], AreaRecord& rec);

// Creates "area" and reads the file; without a file, creates the root and saves it.
[[nodiscard]] bool loadAreaTree();
[[nodiscard]] bool getArea(uint32_t id, AreaRecord& out);
// Replaces an existing area and saves; false when the slot is empty or the save failed.
[[nodiscard]] bool putArea(uint32_t id, const AreaRecord& rec);
// Creates a sub-area in the lowest free slot; false when the parent is missing or full, or when
// the save failed (the new area then stays in memory).
[[nodiscard]] bool addSubArea(uint32_t parentId, AreaRecord& out);
// Unlinks an area from its parent and blanks its slot, which is never handed out again.
[[nodiscard]] bool deleteArea(uint32_t id);
// Takes plug-in `pluginId`'s entries out of every area and saves the tree once; false when the
// save failed (the entries are then gone in memory only).
[[nodiscard]] bool removePluginEntries(uint32_t pluginId);
[[nodiscard]] bool saveAreaTree();
void freeAreaTree();

// Moves `target` aside to `backup` and creates it anew; InvalidFile leaves `target` untouched.
[[nodiscard]] FileHandle beginSafeReplace(const char* target, const char* backup);
// Closes the file; keeps it and drops the backup when `ok`, else puts the previous file back.
// True when the new file is in place.
[[nodiscard]] bool endSafeReplace(FileHandle file, const char* target, const char* backup, bool ok);

std::recursive_mutex& areaLock();
