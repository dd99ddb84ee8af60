// The door plug-in's internals: the doors kept in doorway.dat, the drop files and command lines
// made for one run, the door process on its pseudo-terminal, and the bridge to the caller.
// Sessions take a copy of the door list under a lock, so the dialog never shows them half of it.
#pragma once

#include "ovbbs.h"

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace doorway {

constexpr const char* SettingsFile = "doorway.dat";
constexpr const char* LogFile = "doorway.log";
constexpr const char* ScratchRoot = "doorway.run"; // per-caller directories live below it
constexpr size_t NameField = 32;
constexpr size_t PathField = 256;
constexpr size_t RecordSize = NameField + 2 * PathField + 16;
constexpr size_t HeaderSize = 8;
constexpr size_t MaxDoors = 64;
constexpr uint32_t NoTimeLimitMinutes = 1440; // what "time left" says for a door without limit
constexpr int ScreenRows = 24;
constexpr int ScreenColumns = 80;

enum class DropFile : uint32_t { None = 0, Door32 = 1, DoorSys = 2 };

struct Door {
    char name[NameField] = {};
    char command[PathField] = {};
    char directory[PathField] = {}; // empty: the caller's scratch directory
    uint32_t timeLimitSeconds = 0;  // 0: no limit of its own; the dialog works in minutes
    DropFile dropFile = DropFile::None;
    bool singleCaller = false;
};

void setField(char* field, size_t size, const char* text);
bool sameName(const char* a, const char* b); // ASCII letters folded, spaces around ignored

// The doors offered when doorway.dat is missing: the games of bsdgames found on this machine.
std::vector<Door> sampleDoors();
std::vector<Door> currentDoors();
void setCurrentDoors(const std::vector<Door>& doors);
// Reads doorway.dat: the samples when it is missing, whatever whole records a damaged one holds.
std::vector<Door> loadSettingsFile();
[[nodiscard]] bool saveSettingsFile(const std::vector<Door>& doors);
std::string encodeDoors(const std::vector<Door>& doors);
std::vector<Door> decodeDoors(const std::string& bytes);

// What one run knows about the caller, for drop files and substitutions.
struct CallerFacts {
    std::string loginName;
    std::string realName;
    uint32_t userId = 0;
    uint32_t node = 1;
    uint32_t accessLevel = 0;
    uint32_t uploadKb = 0;
    uint32_t downloadKb = 0;
    uint32_t secondsLeft = NoTimeLimitMinutes * 60;
    uint32_t minutesLeft = NoTimeLimitMinutes;
    bool ansi = false;
};

// Whole minutes, rounded up, as doors and the dialog count them.
inline uint32_t minutesOf(uint32_t seconds) {
    return seconds / 60 + (seconds % 60 ? 1 : 0);
}

std::string decimal(uint32_t v);
const char* dropFileName(DropFile kind); // "DOOR32.SYS", "DOOR.SYS" or ""
std::string door32Sys(const CallerFacts& facts);
std::string doorSys(const CallerFacts& facts);
// Splits a command line into words (double quotes group, a backslash inside them escapes the
// next character) and replaces %D (drop file path), %S (scratch directory), %L (login name),
// %N (node), %T (minutes left) and %% in each word. False for an unterminated quote or no words.
[[nodiscard]] bool expandCommand(const char* line, const CallerFacts& facts,
                                 const std::string& drop, const std::string& scratch,
                                 std::vector<std::string>& words);

// The door's program as the path to execute: as given when it holds a '/' (relative to the
// door's directory), else found along `searchPath`; empty when there is no such program.
std::string findProgram(const std::string& program, const std::string& directory,
                        const std::string& searchPath);

// A door process on a pseudo-terminal of its own, in its own session and process group.
struct DoorProcess {
    pid_t pid = -1;
    int master = -1; // non-blocking; close-on-exec
    bool reaped = false;
    int status = 0;
};
// Starts `path` with `words` as its arguments; false with errno-like `error` set when it could
// not be started (then nothing is left behind).
[[nodiscard]] bool startDoor(const std::string& path, const std::vector<std::string>& words,
                             const std::vector<std::string>& environment,
                             const std::string& directory, DoorProcess& door, int& error);
// True once the door's first process has exited (reaped here).
bool doorExited(DoorProcess& door);
// Ends the whole process group: SIGHUP, then SIGKILL after `graceMs`, and waits for the first
// process; closes the terminal. Safe to call again.
void endDoor(DoorProcess& door, unsigned graceMs);
constexpr unsigned GraceMs = 3000;

// Removes what escapes would do on a plain-text caller's screen; keeps the state across calls.
class EscapeFilter {
public:
    size_t filter(const char* in, size_t n, char* out); // out holds n bytes
private:
    int state_ = 0;
};

// Appends a line to doorway.log for the sysop.
void logLine(const char* loginName, const char* text);

// Runs one caller's door; the session of BBSSession.
BOOL runSession(const HostServicesEx& host, bool extended, void* session, DWORD userId,
                DWORD* endSession);

} // namespace doorway
