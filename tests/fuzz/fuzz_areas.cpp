// Arbitrary "area/bbs_area.dat" and a description "area/00000000.txt" (input split at
// "\n--\n"): the tree loads with sane links, and the description stays inside its panel.
#include "fuzz_common.h"
#include "ovui.h"
#include "server/areas/area_text.h"
#include "server/areas/area_tree.h"

#include <cstring>
#include <sys/stat.h>

// The description editor is never started here.
extern "C" BOOL ovStartProcess(const char*, const char*) {
    return 0;
}
extern "C" int ovMessageBox(HWND, const char*, const char*, UINT) {
    return 0;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::enterScratchDirectory("areas");
    mkdir("area", 0755);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 256 * 1024) return 0;
    std::string tree, text;
    fuzz::splitInput(data, size, tree, text);
    unlink(AreaBackupFile);
    if (!fuzz::writeWhole(AreaFile, reinterpret_cast<const uint8_t*>(tree.data()), tree.size()) ||
        !fuzz::writeWhole("area/00000000.txt", reinterpret_cast<const uint8_t*>(text.data()),
                          text.size()))
        return 0;
    // A file without a record 0 leaves the tree without a root, which is allowed.
    fuzz::check(loadAreaTree());
    uint32_t seen = 0;
    for (uint32_t id = 0; id < MaxAreas && seen < 64; ++id) {
        AreaRecord a;
        if (!getArea(id, a)) continue;
        ++seen;
        fuzz::check(a.childCount <= MaxAreaChildren && a.extensionCount <= MaxAreaExtensions);
        fuzz::check(std::memchr(a.title, 0, sizeof a.title) != nullptr);
        for (uint32_t e = 0; e < a.extensionCount; ++e)
            fuzz::check(std::memchr(a.extensionNames[e], 0, 32) != nullptr &&
                        std::memchr(a.extensionArgs[e], 0, 64) != nullptr);
    }
    char screen[22 * 80];
    std::memset(screen, ' ', sizeof screen);
    layoutAreaDescription(screen, 0);
    for (int row = 0; row < 22; ++row)
        for (int col = 0; col < 80; ++col) {
            unsigned char c = static_cast<unsigned char>(screen[row * 80 + col]);
            bool panel = row >= 1 && row <= 20 && col < 42;
            fuzz::check(panel ? c < 0x80 : c == ' ');
        }
    for (AreaTextKind kind : {AreaTextKind::Txt, AreaTextKind::Asc, AreaTextKind::Ans}) {
        char* loaded = nullptr;
        if (loadAreaText(0, kind, loaded)) {
            // At most the file's bytes and a CR before each of its lone LFs.
            size_t lineFeeds = 0;
            for (char c : text)
                lineFeeds += c == '\n' ? 1 : 0;
            fuzz::check(loaded != nullptr && std::strlen(loaded) <= text.size() + lineFeeds);
            delete[] loaded;
        }
    }
    if (size > 0 && (data[0] & 1)) {
        AreaRecord sub;
        if (addSubArea(0, sub)) fuzz::check(deleteArea(sub.id));
    }
    freeAreaTree();
    return 0;
}
