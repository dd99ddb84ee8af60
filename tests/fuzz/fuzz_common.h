// Shared pieces of the fuzz targets: a private scratch directory and a hard check.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace fuzz {

inline void check(bool ok) {
    if (!ok) std::abort();
}

// Every target works in its own temporary directory, so the files it writes stay apart; in
// memory where possible, since the data files are written through to the disk.
inline void enterScratchDirectory(const char* name) {
    const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::string dir = std::string(base) + "/ovfuzz-" + name + "-XXXXXX";
    if (!mkdtemp(dir.data()) || chdir(dir.c_str()) != 0) std::abort();
}

inline bool writeWhole(const char* name, const uint8_t* data, size_t n) {
    FILE* f = std::fopen(name, "wb");
    if (!f) return false;
    bool ok = std::fwrite(data, 1, n, f) == n;
    return std::fclose(f) == 0 && ok;
}

// Splits the input at its first "\n--\n": the first part and the rest.
inline void splitInput(const uint8_t* data, size_t size, std::string& first, std::string& rest) {
    std::string all(reinterpret_cast<const char*>(data), size);
    size_t at = all.find("\n--\n");
    if (at == std::string::npos) {
        first = all;
        rest.clear();
    } else {
        first = all.substr(0, at);
        rest = all.substr(at + 4);
    }
}

} // namespace fuzz
