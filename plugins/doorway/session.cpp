#include "doorway.h"
#include "ovplugin.h"

#include <ftw.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>

namespace doorway {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr const char* DoorPath = "/usr/local/bin:/usr/bin:/bin:/usr/local/games:/usr/games";
constexpr size_t Chunk = 4096;
constexpr auto LongestWait = milliseconds(500); // also how soon an exit is seen whose
                                                // terminal a left-behind child keeps open
constexpr auto RetryWait = milliseconds(20);    // keys the door has not taken yet
constexpr unsigned LogWaitMs = 5000;

enum class End { Exited, CallerGone, TimeLimit, Idle };

const char* endText(End end) {
    switch (end) {
    case End::Exited:
        return "ended";
    case End::CallerGone:
        return "ended: the caller hung up or was dropped";
    case End::TimeLimit:
        return "ended: time limit";
    case End::Idle:
        return "ended: idle time-out";
    }
    return "ended";
}

// Runs of each door in this process, so that a single-caller door can turn a second one away.
std::mutex runningLock;
std::vector<std::pair<std::string, int>> running;

class Claim {
public:
    // False when the door takes one caller at a time and another is inside.
    bool take(const Door& door) {
        std::lock_guard<std::mutex> hold(runningLock);
        for (auto& run : running) {
            if (!sameName(run.first.c_str(), door.name)) continue;
            if (door.singleCaller && run.second > 0) return false;
            ++run.second;
            name_ = run.first;
            return true;
        }
        running.emplace_back(door.name, 1);
        name_ = door.name;
        return true;
    }
    ~Claim() {
        if (name_.empty()) return;
        std::lock_guard<std::mutex> hold(runningLock);
        for (auto& run : running)
            if (run.first == name_) --run.second;
    }

private:
    std::string name_;
};

struct Caller {
    const HostServicesEx& host;
    void* session;
    bool gone = false;

    bool say(const char* text) {
        if (!gone && !ovCallerWriteText(&host.base, session, text)) gone = true;
        return !gone;
    }
    bool send(const char* bytes, size_t n) {
        if (!gone && n > 0 && !ovCallerWrite(&host.base, session, bytes, n)) gone = true;
        return !gone;
    }
};

std::string currentDirectory() {
    char here[PATH_MAX];
    return getcwd(here, sizeof here) ? std::string(here) : std::string(".");
}

bool isDirectory(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// A directory of its own for each run, beneath the server's working directory.
std::string makeScratch(uint32_t node) {
    (void)mkdir(ScratchRoot, 0700);
    char name[64];
    std::snprintf(name, sizeof name, "%s/node%u-XXXXXX", ScratchRoot, node);
    if (!mkdtemp(name)) return std::string();
    return currentDirectory() + "/" + name;
}

void removeScratch(const std::string& path) {
    if (path.empty()) return;
    // Depth first and without following links: only what lies inside goes.
    (void)nftw(
        path.c_str(),
        [](const char* file, const struct stat*, int, FTW*) {
            (void)remove(file);
            return 0;
        },
        16, FTW_DEPTH | FTW_PHYS);
}

bool writeFile(const std::string& path, const std::string& text) {
    FILE* f = std::fopen(path.c_str(), "wbe");
    if (!f) return false;
    bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    return std::fclose(f) == 0 && ok;
}

CallerFacts factsOf(const HostServicesEx& host, bool extended, void* session, DWORD userId) {
    CallerFacts f;
    char login[32] = {};
    if (host.base.getValue(session, BBS_VALUE_LOGIN_NAME, login)) f.loginName = login;
    DWORD v = 0;
    if (host.base.getValue(session, BBS_VALUE_ANSI_TERMINAL, &v)) f.ansi = v != 0;
    if (host.base.getValue(session, BBS_VALUE_ACCESS_LEVEL, &v)) f.accessLevel = v;
    if (host.base.getValue(session, BBS_VALUE_UPLOAD_KB, &v)) f.uploadKb = v;
    if (host.base.getValue(session, BBS_VALUE_DOWNLOAD_KB, &v)) f.downloadKb = v;
    f.userId = userId;
    if (extended) {
        if (host.base.getValue(session, BBS_VALUE_NODE, &v)) f.node = v;
        char real[256] = {};
        if (host.base.getValue(session, BBS_VALUE_REAL_NAME, real)) f.realName = real;
    }
    return f;
}

// Takes the LF (or NUL) of a CR LF pair out: the terminal turns CR into a line end already.
size_t dropLfAfterCr(char* keys, size_t n, bool& afterCr) {
    size_t kept = 0;
    for (size_t i = 0; i < n; ++i) {
        const bool skip = (keys[i] == '\n' || keys[i] == '\0') && afterCr;
        afterCr = keys[i] == '\r';
        if (!skip) keys[kept++] = keys[i];
    }
    return kept;
}

// Passes the door's output on until the door's terminal closes or has nothing more for now;
// false when the terminal has closed.
bool forwardOutput(DoorProcess& door, Caller& caller, bool ansi, EscapeFilter& filter) {
    char bytes[Chunk];
    char plain[Chunk];
    for (;;) {
        ssize_t n = read(door.master, bytes, sizeof bytes);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
        if (n <= 0) return false; // EIO: nobody holds the door's side any more
        if (ansi)
            caller.send(bytes, static_cast<size_t>(n));
        else
            caller.send(plain, filter.filter(bytes, static_cast<size_t>(n), plain));
        if (caller.gone) return true;
    }
}

End bridge(const HostServicesEx& host, void* session, DoorProcess& door, Caller& caller, bool ansi,
           uint32_t limitSeconds, uint32_t idleMs) {
    const auto start = Clock::now();
    const auto limit = start + std::chrono::seconds(limitSeconds);
    auto lastKey = start;
    EscapeFilter filter;
    std::string keys; // typed, not yet taken by the door's terminal
    bool afterCr = false;
    for (;;) {
        const bool open = forwardOutput(door, caller, ansi, filter);
        if (caller.gone) return End::CallerGone;
        if (!open || doorExited(door)) {
            // What it wrote just before it went is still to be passed on.
            (void)forwardOutput(door, caller, ansi, filter);
            return caller.gone ? End::CallerGone : End::Exited;
        }
        const auto now = Clock::now();
        if (limitSeconds && now >= limit) return End::TimeLimit;
        if (idleMs && now >= lastKey + milliseconds(idleMs)) return End::Idle;

        auto wait = keys.empty() ? LongestWait : RetryWait;
        if (limitSeconds)
            wait = std::min(wait, std::chrono::duration_cast<milliseconds>(limit - now));
        if (idleMs)
            wait = std::min(wait, std::chrono::duration_cast<milliseconds>(
                                      lastKey + milliseconds(idleMs) - now));
        char typed[Chunk];
        DWORD got = 0;
        // A door that takes no keys gets no more than one chunk held for it; until it takes
        // some, only its terminal is watched.
        if (keys.size() >= Chunk) {
            pollfd terminal{door.master, POLLIN | POLLOUT, 0};
            (void)poll(&terminal, 1, static_cast<int>(wait.count()));
        } else if (!host.readAvailable(session, typed, static_cast<DWORD>(Chunk - keys.size()),
                                       static_cast<DWORD>(wait.count()), door.master, &got)) {
            return End::CallerGone;
        }
        if (got > 0) {
            lastKey = Clock::now();
            keys.append(typed, dropLfAfterCr(typed, got, afterCr));
        }
        if (!keys.empty()) {
            ssize_t n = write(door.master, keys.data(), keys.size());
            if (n > 0) keys.erase(0, static_cast<size_t>(n));
        }
    }
}

std::vector<std::string> doorEnvironment(bool ansi, const std::string& scratch) {
    return {std::string("TERM=") + (ansi ? "ansi" : "dumb"), "LINES=" + decimal(ScreenRows),
            "COLUMNS=" + decimal(ScreenColumns), std::string("PATH=") + DoorPath,
            "HOME=" + scratch};
}

// Everything between choosing the door and its end; the door's name is already known.
BOOL runDoor(const HostServicesEx& host, void* session, const Door& door, const CallerFacts& facts,
             uint32_t idleMs, Caller& caller) {
    char line[PathField + 160];
    const char* who = facts.loginName.c_str();
    const std::string scratch = makeScratch(facts.node);
    std::string directory = door.directory[0] == '\0'  ? scratch
                            : door.directory[0] == '/' ? std::string(door.directory)
                                                       : currentDirectory() + "/" + door.directory;
    std::string drop = scratch;
    std::vector<std::string> words;
    std::string path;
    std::string problem;
    if (scratch.empty()) {
        problem = "cannot make a directory in " + std::string(ScratchRoot) + " (" +
                  std::strerror(errno) + ")";
    } else if (door.dropFile != DropFile::None) {
        drop = scratch + "/" + dropFileName(door.dropFile);
        const std::string text =
            door.dropFile == DropFile::Door32 ? door32Sys(facts) : doorSys(facts);
        if (!writeFile(drop, text)) problem = "cannot write " + drop;
    }
    if (problem.empty() && !expandCommand(door.command, facts, drop, scratch, words))
        problem = "the command line is empty or has an open quote";
    if (problem.empty() && !isDirectory(directory)) problem = "there is no directory " + directory;
    if (problem.empty() && (path = findProgram(words[0], directory, DoorPath)).empty())
        problem = "there is no program " + words[0];

    DoorProcess process;
    int error = 0;
    if (problem.empty() &&
        !startDoor(path, words, doorEnvironment(facts.ansi, scratch), directory, process, error))
        problem = "cannot start " + path + " (" + std::strerror(error) + ")";
    if (!problem.empty()) {
        removeScratch(scratch);
        std::snprintf(line, sizeof line, "%s: %s", door.name, problem.c_str());
        logLine(who, line);
        std::snprintf(line, sizeof line,
                      "\r\nThe door \"%s\" cannot be opened just now. The sysop has been "
                      "told.\r\n",
                      door.name);
        caller.say(line);
        return caller.gone ? 0 : 1;
    }

    std::snprintf(line, sizeof line, "%s: started (%s)", door.name, door.command);
    logLine(who, line);
    const End end =
        bridge(host, session, process, caller, facts.ansi, door.timeLimitSeconds, idleMs);
    endDoor(process, GraceMs);
    removeScratch(scratch);
    std::snprintf(line, sizeof line, "%s: %s", door.name, endText(end));
    logLine(who, line);

    // A door cut off may leave colours or a scrolling region behind.
    if (facts.ansi) caller.say("\x1b[0m\x1b[r");
    if (end == End::TimeLimit) {
        std::snprintf(line, sizeof line, "\r\n\r\nYour time in %s is up.\r\n", door.name);
        caller.say(line);
    } else if (end == End::Idle) {
        caller.say("\r\n\r\nYou have been idle too long.\r\n");
        caller.gone = true; // the board's idle time-out ends the call, as anywhere else
    } else {
        caller.say("\r\n");
    }
    return caller.gone ? 0 : 1;
}

} // namespace

size_t EscapeFilter::filter(const char* in, size_t n, char* out) {
    size_t kept = 0;
    for (size_t i = 0; i < n; ++i) {
        const unsigned char c = static_cast<unsigned char>(in[i]);
        switch (state_) {
        case 0: // text
            if (c == 0x1B)
                state_ = 1;
            else
                out[kept++] = static_cast<char>(c);
            break;
        case 1: // after ESC
            if (c == '[')
                state_ = 2;
            else if (c == ']')
                state_ = 3;
            else if (c < 0x20 || c > 0x2F) // intermediates keep the sequence going
                state_ = 0;
            break;
        case 2: // control sequence: up to its final byte
            if (c >= 0x40 && c <= 0x7E) state_ = 0;
            break;
        default: // operating system command: up to BEL or ESC
            if (c == 0x07) state_ = 0;
            if (c == 0x1B) state_ = 1;
            break;
        }
    }
    return kept;
}

void logLine(const char* loginName, const char* text) {
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::time_t t = std::time(nullptr);
    std::tm local{};
    localtime_r(&t, &local);
    char line[PathField * 2];
    int n = std::snprintf(line, sizeof line, "%02d:%02d on %02d %s %04d  [%s]  %s\r\n",
                          local.tm_hour, local.tm_min, local.tm_mday, months[local.tm_mon % 12],
                          local.tm_year + 1900, loginName, text);
    if (n <= 0) return;
    size_t length = static_cast<size_t>(n) < sizeof line ? static_cast<size_t>(n) : sizeof line - 1;
    (void)ovAppendLocked(LogFile, line, length, LogWaitMs);
}

BOOL runSession(const HostServicesEx& host, bool extended, void* session, DWORD userId,
                DWORD* endSession) {
    Caller caller{host, session};
    char args[64] = {};
    BOOL result = 1;
    if (!host.base.getValue(session, BBS_VALUE_EXTENSION_ARGS, args)) {
        // Nothing to go on; the caller is back in the area.
    } else if (!extended) {
        logLine("-", "doors need a server that lends readAvailable");
        caller.say("\r\nDoors need a newer version of the server.\r\n");
    } else {
        args[sizeof args - 1] = '\0';
        CallerFacts facts = factsOf(host, extended, session, userId);
        DWORD idleMs = 0;
        (void)host.base.getValue(session, BBS_VALUE_IDLE_TIMEOUT, &idleMs);
        const Door* door = nullptr;
        const std::vector<Door> doors = currentDoors();
        for (const Door& d : doors)
            if (!door && sameName(d.name, args)) door = &d;
        char line[160];
        Claim claim;
        if (!door) {
            std::snprintf(line, sizeof line, "no door called \"%s\"", args);
            logLine(facts.loginName.c_str(), line);
            std::snprintf(line, sizeof line, "\r\nThere is no door called \"%s\" here.\r\n", args);
            caller.say(line);
        } else if (!claim.take(*door)) {
            std::snprintf(line, sizeof line,
                          "\r\n%s is in use by another caller. Please try again later.\r\n",
                          door->name);
            caller.say(line);
        } else {
            if (door->timeLimitSeconds) {
                facts.secondsLeft = door->timeLimitSeconds;
                facts.minutesLeft = minutesOf(door->timeLimitSeconds);
            }
            result = runDoor(host, session, *door, facts, idleMs, caller);
        }
    }
    if (caller.gone) result = 0;
    if (endSession) *endSession = caller.gone ? 1 : 0;
    return result;
}

} // namespace doorway
