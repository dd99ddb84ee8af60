// The file viewer over an arbitrary file. First byte: bit 0 ANSI caller, bits 1-3 after how many
// pages the caller presses Esc (0: never). Pages stay within their size, and the file's bytes
// reach the caller in order and complete unless the caller quit.
#include "fuzz_common.h"
#include "plugins/pagepeek/pagepeek.h"

#include <cstring>

namespace {

struct Viewer {
    bool ansi = false;
    int quitAfter = 0;
    int pages = 0;
    std::string shown;
};
Viewer viewer;

BOOL getValue(void*, DWORD code, void* out) {
    if (code == BBS_VALUE_ANSI_TERMINAL) {
        *static_cast<DWORD*>(out) = viewer.ansi ? 1 : 0;
        return 1;
    }
    if (code == BBS_VALUE_EXTENSION_ARGS) {
        std::memset(out, 0, 64);
        std::strcpy(static_cast<char*>(out), "view");
        return 1;
    }
    return 0;
}
BOOL setValue(void*, DWORD, const DWORD*) {
    return 0;
}
BOOL writeBytes(void*, const void* buffer, DWORD length) {
    viewer.shown.append(static_cast<const char*>(buffer), length);
    return 1;
}
BOOL readBytes(void*, void* buffer, DWORD length) {
    fuzz::check(length == 1);
    ++viewer.pages;
    *static_cast<unsigned char*>(buffer) = viewer.pages == viewer.quitAfter ? 0x1B : ' ';
    return 1;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::enterScratchDirectory("pagepeek");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > 128 * 1024) return 0;
    viewer = Viewer{};
    viewer.ansi = data[0] & 1;
    viewer.quitAfter = (data[0] >> 1) & 7;
    const char* name = viewer.ansi ? "view.ans" : "view.asc";
    unlink("view.ans");
    unlink("view.asc");
    if (!fuzz::writeWhole(name, data + 1, size - 1)) return 0;
    HostServices host{BBS_HOST_VERSION, getValue, setValue, writeBytes, readBytes};
    DWORD end = 7;
    fuzz::check(pagepeek::runSession(host, nullptr, &end) == 1 && end == 0);
    // Each page is at most 1678 file bytes, so a caller sees at least size/1678 pages.
    size_t body = size - 1;
    if (viewer.quitAfter == 0) fuzz::check(size_t(viewer.pages) >= (body + 1677) / 1678);
    // The file's bytes arrive in order: the last page ends with the file's last byte.
    if (viewer.quitAfter == 0 && body > 0 && !viewer.ansi) {
        std::string file(reinterpret_cast<const char*>(data + 1), body);
        size_t cursor = 0;
        for (char c : viewer.shown)
            if (cursor < file.size() && c == file[cursor]) ++cursor;
        fuzz::check(cursor == file.size());
    }
    return 0;
}
