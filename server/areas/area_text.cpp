#include "server/areas/area_text.h"

#include "server/areas/area_tree.h"
#include "server/base/file_helpers.h"

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <new>

namespace {

constexpr int PanelFirstRow = 1;
constexpr int PanelEndRow = 21;
constexpr int PanelColumns = 42;
constexpr int ScreenColumns = 80;

const char* extensionOf(AreaTextKind kind) {
    switch (kind) {
    case AreaTextKind::Asc:
        return "asc";
    case AreaTextKind::Ans:
        return "ans";
    case AreaTextKind::Txt:
        break;
    }
    return "txt";
}

} // namespace

bool loadAreaText(uint32_t id, AreaTextKind kind, char*& text) {
    text = nullptr;
    std::lock_guard<std::recursive_mutex> hold(areaLock());
    char name[64];
    std::snprintf(name, sizeof name, "%s/%08x.%s", AreaDirectory, id, extensionOf(kind));
    FileHandle file = openForRead(name);
    if (file == InvalidFile) return false;
    uint64_t size = 0;
    if (!fileSize(file, size) || size == 0) {
        closeFile(file);
        return false;
    }
    bool whole = size <= MaxAreaTextBytes;
    uint32_t length = static_cast<uint32_t>(std::min<uint64_t>(size, MaxAreaTextBytes));
    char* buffer = new (std::nothrow) char[length + 1];
    bool ok = buffer && readExactly(file, buffer, length);
    closeFile(file);
    if (!ok) {
        delete[] buffer;
        return false;
    }
    // The end-of-file mark only counts where the file really ends.
    if (whole && buffer[length - 1] == 0x1A) --length;
    buffer[length] = '\0';
    text = buffer;
    return true;
}

void layoutAreaDescription(char screen[22 * 80], uint32_t id) {
    char* text = nullptr;
    if (!loadAreaText(id, AreaTextKind::Txt, text)) return;
    int row = PanelFirstRow;
    int column = 0;
    for (const char* p = text; *p; ++p) {
        if (column == PanelColumns) {
            ++row;
            column = 0;
        }
        if (row == PanelEndRow) break;
        unsigned char c = static_cast<unsigned char>(*p);
        if (c == '\r') {
            ++row;
            column = 0;
            if (p[1] == '\n') ++p;
        } else {
            screen[row * ScreenColumns + column] = (c >= 0x20 && c <= 0x7E) ? *p : ' ';
            ++column;
        }
    }
    delete[] text;
}
