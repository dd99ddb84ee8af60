#include "doorway.h"
#include "ovplugin.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <mutex>

namespace doorway {
namespace {

// doorway.dat: the signature, the door count, then fixed records (offsets below).
const char Signature[4] = {'\r', '\n', '\x1a', '\0'};
constexpr size_t AtCommand = NameField;
constexpr size_t AtDirectory = AtCommand + PathField;
constexpr size_t AtLimit = AtDirectory + PathField;
constexpr size_t AtDropFile = AtLimit + 4;
constexpr size_t AtFlags = AtDropFile + 4; // bit 0: one caller at a time; 4 bytes reserved after
constexpr uint32_t SingleCallerFlag = 1;

std::mutex settingsLock;
std::vector<Door> doorsInForce;

void putLe32(std::string& out, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

uint32_t le32(const std::string& in, size_t at) {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i)
        v |= static_cast<uint32_t>(static_cast<uint8_t>(in[at + i])) << (8 * i);
    return v;
}

// A damaged file may lack terminators; every text stays within its field.
void takeField(char* field, size_t size, const std::string& in, size_t at) {
    std::memcpy(field, in.data() + at, size);
    field[size - 1] = '\0';
}

} // namespace

void setField(char* field, size_t size, const char* text) {
    std::memset(field, 0, size);
    if (text) std::memcpy(field, text, strnlen(text, size - 1));
}

bool sameName(const char* a, const char* b) {
    auto trim = [](const char*& from, const char*& to) {
        while (*from == ' ')
            ++from;
        to = from + std::strlen(from);
        while (to > from && to[-1] == ' ')
            --to;
    };
    const char* endA;
    const char* endB;
    trim(a, endA);
    trim(b, endB);
    if (endA - a != endB - b || a == endA) return false;
    for (; a < endA; ++a, ++b) {
        char x = *a >= 'a' && *a <= 'z' ? static_cast<char>(*a - 32) : *a;
        char y = *b >= 'a' && *b <= 'z' ? static_cast<char>(*b - 32) : *b;
        if (x != y) return false;
    }
    return true;
}

std::vector<Door> sampleDoors() {
    static const char* const games[][2] = {{"Hangman", "/usr/games/hangman"},
                                           {"Robots", "/usr/games/robots"}};
    std::vector<Door> doors;
    for (const auto& game : games) {
        if (access(game[1], X_OK) != 0) continue;
        Door d;
        setField(d.name, sizeof d.name, game[0]);
        setField(d.command, sizeof d.command, game[1]);
        d.timeLimitSeconds = 30 * 60;
        doors.push_back(d);
    }
    return doors;
}

std::vector<Door> currentDoors() {
    std::lock_guard<std::mutex> hold(settingsLock);
    return doorsInForce;
}

void setCurrentDoors(const std::vector<Door>& doors) {
    std::lock_guard<std::mutex> hold(settingsLock);
    doorsInForce = doors;
}

std::string encodeDoors(const std::vector<Door>& doors) {
    const size_t count = doors.size() < MaxDoors ? doors.size() : MaxDoors;
    std::string out(HeaderSize + count * RecordSize, '\0');
    std::memcpy(out.data(), Signature, sizeof Signature);
    putLe32(out, 4, static_cast<uint32_t>(count));
    for (size_t i = 0; i < count; ++i) {
        const Door& d = doors[i];
        const size_t at = HeaderSize + i * RecordSize;
        Door clean; // zero after every terminator
        setField(clean.name, NameField, d.name);
        setField(clean.command, PathField, d.command);
        setField(clean.directory, PathField, d.directory);
        std::memcpy(out.data() + at, clean.name, NameField);
        std::memcpy(out.data() + at + AtCommand, clean.command, PathField);
        std::memcpy(out.data() + at + AtDirectory, clean.directory, PathField);
        putLe32(out, at + AtLimit, d.timeLimitSeconds);
        putLe32(out, at + AtDropFile, static_cast<uint32_t>(d.dropFile));
        putLe32(out, at + AtFlags, d.singleCaller ? SingleCallerFlag : 0);
    }
    return out;
}

std::vector<Door> decodeDoors(const std::string& bytes) {
    std::vector<Door> doors;
    if (bytes.size() < HeaderSize || std::memcmp(bytes.data(), Signature, 4) != 0) return doors;
    const size_t stated = le32(bytes, 4);
    const size_t whole = (bytes.size() - HeaderSize) / RecordSize;
    const size_t count = std::min({stated, whole, MaxDoors});
    for (size_t i = 0; i < count; ++i) {
        const size_t at = HeaderSize + i * RecordSize;
        Door d;
        takeField(d.name, NameField, bytes, at);
        takeField(d.command, PathField, bytes, at + AtCommand);
        takeField(d.directory, PathField, bytes, at + AtDirectory);
        d.timeLimitSeconds = le32(bytes, at + AtLimit);
        const uint32_t kind = le32(bytes, at + AtDropFile);
        d.dropFile = kind <= static_cast<uint32_t>(DropFile::DoorSys) ? static_cast<DropFile>(kind)
                                                                      : DropFile::None;
        d.singleCaller = (le32(bytes, at + AtFlags) & SingleCallerFlag) != 0;
        doors.push_back(d);
    }
    return doors;
}

std::vector<Door> loadSettingsFile() {
    std::string bytes(HeaderSize + MaxDoors * RecordSize + 1, '\0');
    const ssize_t got = ovReadFile(SettingsFile, bytes.data(), bytes.size());
    if (got < 0) return sampleDoors();
    bytes.resize(static_cast<size_t>(got));
    return decodeDoors(bytes);
}

bool saveSettingsFile(const std::vector<Door>& doors) {
    const std::string bytes = encodeDoors(doors);
    return ovSaveFileAtomically(SettingsFile, bytes.data(), bytes.size());
}

} // namespace doorway
