#include "doorway.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace doorway {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto Poll = std::chrono::milliseconds(10);
// After SIGKILL only the kernel is left to finish; this bounds a process stuck in the kernel.
constexpr auto KillWait = std::chrono::seconds(2);

// A member of the group that has not yet died (a zombie is dead, whoever is to reap it).
bool groupAlive(pid_t group) {
    if (kill(-group, 0) != 0 && errno == ESRCH) return false;
    DIR* proc = opendir("/proc");
    if (!proc) return true;
    bool alive = false;
    while (dirent* entry = readdir(proc)) {
        if (entry->d_name[0] < '0' || entry->d_name[0] > '9') continue;
        char path[300];
        std::snprintf(path, sizeof path, "/proc/%s/stat", entry->d_name);
        FILE* f = std::fopen(path, "re");
        if (!f) continue;
        char line[512] = {};
        const bool got = std::fgets(line, sizeof line, f) != nullptr;
        std::fclose(f);
        // "pid (name) state ppid pgrp ...": the name may hold spaces, so start after its ')'.
        const char* close = got ? std::strrchr(line, ')') : nullptr;
        char state = 0;
        int ppid = 0, pgrp = 0;
        if (close && std::sscanf(close + 1, " %c %d %d", &state, &ppid, &pgrp) == 3 &&
            pgrp == group && state != 'Z' && state != 'X') {
            alive = true;
            break;
        }
    }
    closedir(proc);
    return alive;
}

void drain(int master) {
    char sink[4096];
    while (master >= 0 && read(master, sink, sizeof sink) > 0) {
    }
}

bool reap(DoorProcess& door, int flags) {
    if (door.reaped) return true;
    for (;;) {
        pid_t got = waitpid(door.pid, &door.status, flags);
        if (got == door.pid || (got < 0 && errno == ECHILD)) {
            door.reaped = true;
            return true;
        }
        if (got < 0 && errno == EINTR) continue;
        return false;
    }
}

} // namespace

bool startDoor(const std::string& path, const std::vector<std::string>& words,
               const std::vector<std::string>& environment, const std::string& directory,
               DoorProcess& door, int& error) {
    door = DoorProcess{};
    int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char slave[128] = {};
    winsize size{};
    size.ws_row = ScreenRows;
    size.ws_col = ScreenColumns;
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0 ||
        ptsname_r(master, slave, sizeof slave) != 0 || ioctl(master, TIOCSWINSZ, &size) != 0 ||
        fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK) != 0) {
        error = errno;
        if (master >= 0) close(master);
        return false;
    }

    std::vector<char*> argv;
    for (const std::string& w : words)
        argv.push_back(const_cast<char*>(w.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (const std::string& e : environment)
        envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);

    // A new session whose controlling terminal is the door's own, with every signal as a new
    // program expects it (the server blocks some and ignores SIGPIPE) and no descriptor of ours.
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attr);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &all);
    posix_spawnattr_setflags(&attr,
                             POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    posix_spawn_file_actions_addopen(&actions, 0, slave, O_RDWR, 0);
    posix_spawn_file_actions_adddup2(&actions, 0, 1);
    posix_spawn_file_actions_adddup2(&actions, 0, 2);
    posix_spawn_file_actions_addchdir_np(&actions, directory.c_str());
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    pid_t pid = -1;
    error = posix_spawn(&pid, path.c_str(), &actions, &attr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (error != 0) {
        close(master);
        return false;
    }
    door.pid = pid;
    door.master = master;
    return true;
}

bool doorExited(DoorProcess& door) {
    return door.pid > 0 && reap(door, WNOHANG);
}

void endDoor(DoorProcess& door, unsigned graceMs) {
    if (door.pid > 0) {
        // Asked first, so that a game can save; SIGCONT wakes one that was stopped.
        if (!door.reaped || groupAlive(door.pid)) {
            kill(-door.pid, SIGHUP);
            kill(-door.pid, SIGCONT);
        }
        const auto deadline = Clock::now() + std::chrono::milliseconds(graceMs);
        for (;;) {
            // What a door writes while it winds up must not hold it up.
            drain(door.master);
            if (reap(door, WNOHANG) && !groupAlive(door.pid)) break;
            if (Clock::now() >= deadline) {
                kill(-door.pid, SIGKILL);
                reap(door, 0);
                const auto killDeadline = Clock::now() + KillWait;
                while (groupAlive(door.pid) && Clock::now() < killDeadline)
                    std::this_thread::sleep_for(Poll);
                break;
            }
            std::this_thread::sleep_for(Poll);
        }
        door.pid = -1;
    }
    if (door.master >= 0) close(door.master);
    door.master = -1;
}

} // namespace doorway
