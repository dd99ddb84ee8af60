#include "server/areas/area_tree.h"

#include "server/base/record_codec.h"

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <memory>
#include <new>

namespace {

// Records per read or write of the area file: a full tree is written in 16 calls.
constexpr uint32_t RecordsPerChunk = 1024;

std::recursive_mutex areaMutex;
// Plain pointers: nothing is freed behind the back of a session thread during exit.
AreaRecord* areaTable[MaxAreas];

template <size_t N> void terminate(char (&text)[N]) {
    text[N - 1] = '\0';
}

// Nobody may index past the nine entries, whatever a damaged file or a caller says.
void makeSafe(AreaRecord& rec) {
    rec.childCount = std::min<uint16_t>(rec.childCount, MaxAreaChildren);
    rec.extensionCount = std::min<uint16_t>(rec.extensionCount, MaxAreaExtensions);
    terminate(rec.title);
    for (uint32_t i = 0; i < MaxAreaExtensions; ++i) {
        terminate(rec.extensionNames[i]);
        terminate(rec.extensionArgs[i]);
    }
}

AreaRecord blankArea(uint32_t id) {
    AreaRecord rec;
    rec.id = id;
    rec.maxAccess = 0;
    rec.title[0] = '\0';
    return rec;
}

std::unique_ptr<uint8_t[]> chunkBuffer() {
    return std::unique_ptr<uint8_t[]>(new (std::nothrow) uint8_t[RecordsPerChunk * AreaRecordSize]);
}

// Fills the (empty) table from the file; false only when the file cannot be opened.
bool readAreaFile() {
    FileHandle file = openForRead(AreaFile);
    if (file == InvalidFile) return false;
    uint64_t size = 0;
    if (!fileSize(file, size)) size = 0;
    uint64_t count = size / AreaRecordSize; // a partial last record is ignored
    auto chunk = chunkBuffer();
    bool going = chunk != nullptr;
    for (uint64_t done = 0; going && done < count;) {
        uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(count - done, RecordsPerChunk));
        if (!readExactly(file, chunk.get(), n * static_cast<uint32_t>(AreaRecordSize))) break;
        for (uint32_t i = 0; going && i < n; ++i) {
            AreaRecord rec;
            decodeAreaRecord(chunk.get() + i * AreaRecordSize, rec);
            if (rec.id >= MaxAreas || areaTable[rec.id]) continue; // the first one read wins
            makeSafe(rec);
            areaTable[rec.id] = new (std::nothrow) AreaRecord(rec);
            going = areaTable[rec.id] != nullptr;
        }
        done += n;
    }
    closeFile(file);
    return true;
}

} // namespace

std::recursive_mutex& areaLock() {
    return areaMutex;
}

void encodeAreaRecord(const AreaRecord& rec, uint8_t out[AreaRecordSize]) {
    RecordWriter w(out, AreaRecordSize);
    w.u32(rec.id);
    w.u32(rec.parentId);
    w.u16(rec.minAccess);
    w.u16(rec.maxAccess);
    w.u16(rec.childCount);
    w.u16(rec.extensionCount);
    for (uint32_t id : rec.childIds)
        w.u32(id);
    for (uint32_t id : rec.extensionPluginIds)
        w.u32(id);
    w.text(rec.title, sizeof rec.title);
    for (const auto& name : rec.extensionNames)
        w.text(name, sizeof name);
    for (const auto& args : rec.extensionArgs)
        w.text(args, sizeof args);
}

void decodeAreaRecord(const uint8_t in[AreaRecordSize], AreaRecord& rec) {
    RecordReader r(in, AreaRecordSize);
    rec.id = r.u32();
    rec.parentId = r.u32();
    rec.minAccess = r.u16();
    rec.maxAccess = r.u16();
    rec.childCount = r.u16();
    rec.extensionCount = r.u16();
    for (uint32_t& id : rec.childIds)
        id = r.u32();
    for (uint32_t& id : rec.extensionPluginIds)
        id = r.u32();
    r.text(rec.title, sizeof rec.title);
    for (auto& name : rec.extensionNames)
        r.text(name, sizeof name);
    for (auto& args : rec.extensionArgs)
        r.text(args, sizeof args);
}

bool loadAreaTree() {
    std::lock_guard<std::recursive_mutex> hold(areaMutex);
    freeAreaTree();
    std::error_code ignored;
    std::filesystem::create_directory(AreaDirectory, ignored);
    // A backup left behind means a save was cut short: the backup is the last whole tree.
    if (fileExists(AreaBackupFile)) (void)replaceFile(AreaBackupFile, AreaFile);
    if (readAreaFile()) return true;
    areaTable[0] = new (std::nothrow) AreaRecord();
    return areaTable[0] && saveAreaTree();
}

bool getArea(uint32_t id, AreaRecord& out) {
    std::lock_guard<std::recursive_mutex> hold(areaMutex);
    if (id >= MaxAreas || !areaTable[id]) return false;
    out = *areaTable[id];
    return true;
}

bool putArea(uint32_t id, const AreaRecord& rec) {
    std::lock_guard<std::recursive_mutex> hold(areaMutex);
    if (id >= MaxAreas || !areaTable[id]) return false;
    AreaRecord& slot = *areaTable[id];
    slot = rec;
    slot.id = id; // an area's id never changes
    makeSafe(slot);
    return saveAreaTree();
}

bool addSubArea(uint32_t parentId, AreaRecord& out) {
    std::lock_guard<std::recursive_mutex> hold(areaMutex);
    if (parentId >= MaxAreas || !areaTable[parentId]) return false;
    AreaRecord& parent = *areaTable[parentId];
    if (parent.childCount >= MaxAreaChildren) return false;
    uint32_t id = 0;
    while (id < MaxAreas && areaTable[id])
        ++id;
    if (id == MaxAreas) return false;
    areaTable[id] = new (std::nothrow) AreaRecord();
    if (!areaTable[id]) return false;
    areaTable[id]->id = id;
    areaTable[id]->parentId = parentId;
    out = *areaTable[id];
    parent.childIds[parent.childCount++] = id;
    return saveAreaTree();
}

bool deleteArea(uint32_t id) {
    std::lock_guard<std::recursive_mutex> hold(areaMutex);
    AreaRecord area, parent;
    // The root is never deleted, also when a damaged file lists it as someone's sub-area.
    if (id == 0 || !getArea(id, area) || !getArea(area.parentId, parent)) return false;
    uint32_t* found = std::find(parent.childIds, parent.childIds + parent.childCount, id);
    if (found == parent.childIds + parent.childCount) return false;
    std::copy(found + 1, parent.childIds + parent.childCount, found);
    --parent.childCount;
    if (!putArea(parent.id, parent)) return false;
    (void)putArea(id, blankArea(id)); // the unlink is saved; a later save writes the blank
    return true;
}

bool removePluginEntries(uint32_t pluginId) {
    std::lock_guard<std::recursive_mutex> hold(areaMutex);
    bool changed = false;
    for (AreaRecord* area : areaTable) {
        if (!area) continue;
        uint16_t kept = 0;
        for (uint16_t i = 0; i < area->extensionCount; ++i) {
            if (area->extensionPluginIds[i] == pluginId) continue;
            if (kept != i) {
                area->extensionPluginIds[kept] = area->extensionPluginIds[i];
                std::copy(std::begin(area->extensionNames[i]), std::end(area->extensionNames[i]),
                          area->extensionNames[kept]);
                std::copy(std::begin(area->extensionArgs[i]), std::end(area->extensionArgs[i]),
                          area->extensionArgs[kept]);
            }
            ++kept;
        }
        for (uint16_t i = kept; i < area->extensionCount; ++i) {
            area->extensionPluginIds[i] = 0;
            std::fill(std::begin(area->extensionNames[i]), std::end(area->extensionNames[i]), '\0');
            std::fill(std::begin(area->extensionArgs[i]), std::end(area->extensionArgs[i]), '\0');
        }
        changed = changed || kept != area->extensionCount;
        area->extensionCount = kept;
    }
    return !changed || saveAreaTree();
}

bool saveAreaTree() {
    std::lock_guard<std::recursive_mutex> hold(areaMutex);
    FileHandle file = beginSafeReplace(AreaFile, AreaBackupFile);
    if (file == InvalidFile) return false;
    auto chunk = chunkBuffer();
    bool ok = chunk != nullptr;
    uint32_t used = 0;
    auto flush = [&] {
        ok = writeExactly(file, chunk.get(), used * static_cast<uint32_t>(AreaRecordSize));
        used = 0;
    };
    for (uint32_t id = 0; ok && id < MaxAreas; ++id) {
        if (!areaTable[id]) continue;
        encodeAreaRecord(*areaTable[id], chunk.get() + used * AreaRecordSize);
        if (++used == RecordsPerChunk) flush();
    }
    if (ok && used > 0) flush();
    return endSafeReplace(file, AreaFile, AreaBackupFile, ok);
}

void freeAreaTree() {
    std::lock_guard<std::recursive_mutex> hold(areaMutex);
    for (auto& slot : areaTable) {
        delete slot;
        slot = nullptr;
    }
}

FileHandle beginSafeReplace(const char* target, const char* backup) {
    (void)deleteFile(backup); // a backup may not exist yet
    bool movedAside = false;
    if (fileExists(target)) {
        // Without a backup the previous file must not be truncated.
        if (!replaceFile(target, backup)) return InvalidFile;
        movedAside = true;
    }
    FileHandle file = openForWrite(target);
    if (file == InvalidFile && movedAside) (void)replaceFile(backup, target);
    return file;
}

bool endSafeReplace(FileHandle file, const char* target, const char* backup, bool ok) {
    if (file == InvalidFile) return false; // beginSafeReplace already left things as they were
    closeFile(file);
    if (ok) {
        (void)deleteFile(backup);
        return true;
    }
    // Put the previous file back; when there was none, leave no partial file either.
    if (fileExists(backup))
        (void)replaceFile(backup, target);
    else
        (void)deleteFile(target);
    return false;
}
