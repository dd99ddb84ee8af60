// Loads arbitrary "osvbpref.dat" files: the record is taken only whole, every text comes back
// terminated, and a save writes the loaded bytes back unchanged.
#include "fuzz_common.h"
#include "server/preferences/preferences.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

bool writeWhole(const char* name, const uint8_t* data, size_t n) {
    FILE* f = std::fopen(name, "wb");
    if (!f) return false;
    bool ok = std::fwrite(data, 1, n, f) == n;
    return std::fclose(f) == 0 && ok;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::enterScratchDirectory("prefs");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 8192 || !writeWhole(PreferencesFileName, data, size)) return 0;
    bool loaded = loadPreferences();
    check(loaded == (size >= PreferencesSize));
    uint8_t image[PreferencesSize];
    copyPreferences(image);
    if (loaded) {
        check(std::memcmp(image, data, PreferencesSize) == 0);
        check(getMaxUsers() == (uint32_t(data[32]) | uint32_t(data[33]) << 8 |
                                uint32_t(data[34]) << 16 | uint32_t(data[35]) << 24));
    }
    for (int i = 0; i < PrefTextCount; ++i) {
        char out[PrefTextSize + 1];
        out[PrefTextSize] = 'G'; // guard: never written
        getPrefText(static_cast<PrefText>(i), out);
        check(std::memchr(out, 0, PrefTextSize) != nullptr && out[PrefTextSize] == 'G');
    }
    (void)getParanoidLogging();
    (void)getTelnetPort();
    (void)getLoginRetries();
    if (loaded && (data[0] & 1)) {
        check(savePreferences());
        FILE* f = std::fopen(PreferencesFileName, "rb");
        check(f != nullptr);
        uint8_t back[PreferencesSize + 1];
        size_t n = std::fread(back, 1, sizeof back, f);
        std::fclose(f);
        check(n == PreferencesSize && std::memcmp(back, data, PreferencesSize) == 0);
    }
    return 0;
}
