#include "bench/bench_data.h"

#include "server/areas/area_tree.h"
#include "server/base/record_codec.h"
#include "server/users/user_db.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

bool writeWhole(const char* name, const std::vector<uint8_t>& bytes) {
    FILE* f = std::fopen(name, "wb");
    if (!f) return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

bool writeAreas(const std::vector<AreaRecord>& areas) {
    (void)::mkdir(AreaDirectory, 0755);
    std::vector<uint8_t> bytes(areas.size() * AreaRecordSize);
    for (size_t i = 0; i < areas.size(); ++i)
        encodeAreaRecord(areas[i], bytes.data() + i * AreaRecordSize);
    return writeWhole(AreaFile, bytes);
}

bool writeDescription(uint32_t id, uint32_t depth) {
    char name[64], text[512];
    std::snprintf(name, sizeof name, "area/%08x.txt", id);
    std::snprintf(text, sizeof text,
                  "Area %u, level %u of the benchmark tree. Callers walk in and out of it one "
                  "key at a time; this text fills a few lines of the panel.\r\n",
                  id, depth);
    FILE* f = std::fopen(name, "wb");
    if (!f) return false;
    bool ok = std::fputs(text, f) >= 0;
    return std::fclose(f) == 0 && ok;
}

} // namespace

bool writeUserFile(uint32_t count, std::string (*nameOf)(uint32_t), bool (*ansiOf)(uint32_t),
                   const char* password) {
    std::vector<uint8_t> bytes(UserFileHeaderSize + size_t(count) * UserRecordSize);
    const uint8_t magic[4] = {0x0D, 0x0A, 0x1A, 0x00};
    std::memcpy(bytes.data(), magic, 4);
    storeLe32(bytes.data() + 4, count);
    for (uint32_t i = 0; i < count; ++i) {
        UserRecord rec;
        rec.id = i;
        std::snprintf(rec.loginName, sizeof rec.loginName, "%s", nameOf(i).c_str());
        std::snprintf(rec.password, sizeof rec.password, "%s", password);
        std::snprintf(rec.realName, sizeof rec.realName, "Bench caller %u", i);
        rec.userFlags = ansiOf(i) ? AnsiTerminalFlag : 0;
        rec.firstLogin = rec.lastLogin = 133000000000000000ull;
        encodeUserRecord(rec, bytes.data() + UserFileHeaderSize + size_t(i) * UserRecordSize);
    }
    return writeWhole("bbsusers.dat", bytes);
}

uint32_t writeAreaTree(uint32_t levels, uint32_t fanOut, bool descriptions) {
    if (fanOut > MaxAreaChildren) fanOut = MaxAreaChildren;
    std::vector<AreaRecord> areas(1);
    std::snprintf(areas[0].title, sizeof areas[0].title, "Main hall");
    std::vector<uint32_t> depthOf(1, 0);
    // Breadth first, so ids ascend as the file wants them.
    for (size_t parent = 0; parent < areas.size(); ++parent) {
        if (depthOf[parent] >= levels) continue;
        for (uint32_t k = 0; k < fanOut && areas.size() < MaxAreas; ++k) {
            AreaRecord child;
            child.id = static_cast<uint32_t>(areas.size());
            child.parentId = static_cast<uint32_t>(parent);
            std::snprintf(child.title, sizeof child.title, "Room %u (level %u)", child.id,
                          depthOf[parent] + 1);
            AreaRecord& p = areas[parent];
            p.childIds[p.childCount++] = child.id;
            areas.push_back(child);
            depthOf.push_back(depthOf[parent] + 1);
        }
    }
    if (!writeAreas(areas)) return 0;
    if (descriptions)
        for (size_t i = 0; i < areas.size(); ++i)
            if (!writeDescription(static_cast<uint32_t>(i), depthOf[i])) return 0;
    return static_cast<uint32_t>(areas.size());
}

bool writeFlatAreas(uint32_t count) {
    std::vector<AreaRecord> areas(count);
    for (uint32_t i = 0; i < count; ++i) {
        areas[i].id = i;
        areas[i].parentId = i == 0 ? 0 : (i - 1) / MaxAreaChildren;
        std::snprintf(areas[i].title, sizeof areas[i].title, "Area %u", i);
    }
    // Each area lists its children, so the file is a real tree of nine-way fan-out.
    for (uint32_t i = 1; i < count; ++i) {
        AreaRecord& p = areas[areas[i].parentId];
        if (p.childCount < MaxAreaChildren) p.childIds[p.childCount++] = i;
    }
    return writeAreas(areas);
}
