#include "server/plugins/plugin_file.h"

#include "server/base/file_helpers.h"
#include "server/base/record_codec.h"

#include <cstring>
#include <unistd.h>

namespace {

constexpr uint8_t Signature[4] = {0x0D, 0x0A, 0x1A, 0x00};
constexpr uint32_t HeaderSize = 8;

void encodeHeader(uint8_t out[HeaderSize], uint32_t nextId) {
    std::memcpy(out, Signature, 4);
    storeLe32(out + 4, nextId);
}

// Where the next record goes: after the last whole record, so that a torn tail left by an
// interrupted append is overwritten instead of shifting every later record.
bool seekToAppendPosition(FileHandle f) {
    uint64_t size = 0;
    if (!fileSize(f, size) || size < HeaderSize) return false;
    uint64_t records = (size - HeaderSize) / PluginRecordSize;
    uint64_t pos = HeaderSize + records * PluginRecordSize;
    if (pos >= 0xFFFFFFFFu - PluginRecordSize) return false;
    return seekTo(f, static_cast<uint32_t>(pos));
}

} // namespace

// The fields below, in file order, fill the record exactly.
static_assert(2 * 4 + sizeof(PluginRecord::path) + sizeof(PluginRecord::name) == PluginRecordSize);

void encodePluginRecord(const PluginRecord& rec, uint8_t out[PluginRecordSize]) {
    RecordWriter w(out, PluginRecordSize);
    w.u32(rec.id);
    w.u32(rec.sessionCapable);
    w.text(rec.path, sizeof rec.path);
    w.text(rec.name, sizeof rec.name);
}

void decodePluginRecord(const uint8_t in[PluginRecordSize], PluginRecord& rec) {
    RecordReader r(in, PluginRecordSize);
    rec.id = r.u32();
    rec.sessionCapable = r.u32();
    r.text(rec.path, sizeof rec.path);
    r.text(rec.name, sizeof rec.name);
}

bool makeStoredPluginPath(const char* fullPath, char out[256]) {
    if (!fullPath || !*fullPath) return false;
    const char* stored = fullPath;
    char cwd[256];
    if (getcwd(cwd, sizeof cwd - 1)) { // the working directory counts only up to 254 characters
        size_t n = std::strlen(cwd);
        if (n > 0 && cwd[n - 1] == '/') --n; // the root directory
        if (std::strncmp(fullPath, cwd, n) == 0 && fullPath[n] == '/' && fullPath[n + 1] != 0)
            stored = fullPath + n + 1;
    }
    if (std::strlen(stored) > 255) return false;
    std::strcpy(out, stored);
    return true;
}

bool appendPluginRecord(PluginRecord& rec) {
    FileHandle f = openForUpdate(PluginFileName, FileAccess::Private);
    if (f == InvalidFile) return false;
    uint8_t header[HeaderSize];
    uint32_t nextId = 0;
    uint64_t size = 0;
    // Only a file too short for a header starts the ids again; a header that is there but cannot
    // be read (an I/O error) would hand out an id already in use.
    bool ok = fileSize(f, size);
    if (ok && size >= HeaderSize) {
        ok = readExactly(f, header, HeaderSize);
        if (ok) nextId = loadLe32(header + 4);
    }
    // The removed marker can never be handed out as an id.
    ok = ok && nextId != RemovedPluginId;
    if (ok) {
        rec.id = nextId;
        encodeHeader(header, nextId + 1);
        ok = seekTo(f, 0) && writeExactly(f, header, HeaderSize);
    }
    if (ok) {
        uint8_t buf[PluginRecordSize];
        encodePluginRecord(rec, buf);
        ok = seekToAppendPosition(f) && writeExactly(f, buf, PluginRecordSize);
    }
    closeFile(f);
    return ok;
}

bool markPluginRecordRemoved(uint32_t id) {
    if (id == RemovedPluginId) return false;
    FileHandle f = openForUpdate(PluginFileName, FileAccess::Private);
    if (f == InvalidFile) return false;
    uint8_t buf[PluginRecordSize];
    bool ok = readExactly(f, buf, HeaderSize);
    bool found = false;
    while (ok && !found && readExactly(f, buf, PluginRecordSize))
        found = loadLe32(buf) == id;
    if (found) {
        std::memset(buf, 0, PluginRecordSize);
        storeLe32(buf, RemovedPluginId);
        ok = seekRelative(f, -static_cast<int32_t>(PluginRecordSize)) &&
             writeExactly(f, buf, PluginRecordSize);
    }
    closeFile(f);
    return ok && found;
}

bool readPluginRecords(void (*fn)(const PluginRecord& rec, void* arg), void* arg) {
    FileHandle f = openForRead(PluginFileName);
    if (f == InvalidFile) return false;
    uint8_t buf[PluginRecordSize];
    if (readExactly(f, buf, HeaderSize)) {
        PluginRecord rec;
        while (readExactly(f, buf, PluginRecordSize)) {
            decodePluginRecord(buf, rec);
            fn(rec, arg);
        }
    }
    closeFile(f);
    return true;
}
