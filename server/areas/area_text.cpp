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

// Linux editors end lines with a lone LF; callers' terminals and the panel's layout want CR LF.
// Takes buffer (NUL at length) and returns it, or a new copy with a CR before each lone LF.
char* withCrLf(char* buffer, uint32_t length) {
    uint32_t lone = 0;
    for (uint32_t i = 0; i < length; ++i)
        if (buffer[i] == '\n' && (i == 0 || buffer[i - 1] != '\r')) ++lone;
    if (lone == 0) return buffer;
    char* copy = new (std::nothrow) char[length + lone + 1];
    if (copy) {
        uint32_t n = 0;
        for (uint32_t i = 0; i < length; ++i) {
            if (buffer[i] == '\n' && (i == 0 || buffer[i - 1] != '\r')) copy[n++] = '\r';
            copy[n++] = buffer[i];
        }
        copy[n] = '\0';
    }
    delete[] buffer;
    return copy;
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
    text = withCrLf(buffer, length);
    return text != nullptr;
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
