// Arbitrary "plugins.dat": every whole record comes back with terminated texts, an appended
// record is found last with a fresh id, and marking it removed leaves the others alone.
#include "fuzz_common.h"
#include "server/plugins/plugin_file.h"

#include <cstring>
#include <vector>

namespace {

void collect(const PluginRecord& rec, void* arg) {
    fuzz::check(std::memchr(rec.path, 0, sizeof rec.path) != nullptr &&
                std::memchr(rec.name, 0, sizeof rec.name) != nullptr);
    static_cast<std::vector<PluginRecord>*>(arg)->push_back(rec);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::enterScratchDirectory("plugins");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 64 * 1024 || !fuzz::writeWhole(PluginFileName, data, size)) return 0;
    std::vector<PluginRecord> before;
    fuzz::check(readPluginRecords(collect, &before));
    fuzz::check(before.size() == (size < 8 ? 0 : (size - 8) / PluginRecordSize));
    PluginRecord rec;
    std::strcpy(rec.path, "fuzz.so");
    std::strcpy(rec.name, "Fuzz");
    if (!appendPluginRecord(rec)) return 0;
    std::vector<PluginRecord> after;
    fuzz::check(readPluginRecords(collect, &after));
    fuzz::check(!after.empty() && after.back().id == rec.id &&
                std::strcmp(after.back().name, "Fuzz") == 0);
    fuzz::check(size < 8 || after.size() == before.size() + 1);
    bool unique = true;
    for (size_t i = 0; i + 1 < after.size(); ++i)
        unique = unique && after[i].id != rec.id;
    if (unique) {
        fuzz::check(markPluginRecordRemoved(rec.id));
        std::vector<PluginRecord> removed;
        fuzz::check(readPluginRecords(collect, &removed));
        fuzz::check(removed.size() == after.size() && removed.back().id == RemovedPluginId);
    }
    return 0;
}
