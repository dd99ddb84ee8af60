// doorway.dat as the plug-in's README gives it, built here byte by byte.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct DoorSpec {
    std::string name, command, directory;
    uint32_t seconds = 0;
    uint32_t dropFile = 0; // 1 DOOR32.SYS, 2 DOOR.SYS
    bool single = false;
};

inline void put32(std::string& out, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out += static_cast<char>((v >> (8 * i)) & 0xFF);
}

inline std::string field(const std::string& text, size_t size) {
    std::string bytes(size, '\0');
    bytes.replace(0, text.size(), text);
    return bytes;
}

inline std::string doorFile(const std::vector<DoorSpec>& doors) {
    std::string out("\r\n\x1a\0", 4);
    put32(out, static_cast<uint32_t>(doors.size()));
    for (const DoorSpec& d : doors) {
        out += field(d.name, 32) + field(d.command, 256) + field(d.directory, 256);
        put32(out, d.seconds);
        put32(out, d.dropFile);
        put32(out, d.single ? 1 : 0);
        put32(out, 0);
    }
    return out;
}
