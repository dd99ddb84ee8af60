// The built ovhost as a child process in a working directory of its own (in memory where the
// machine has /dev/shm, since the event log is written through to the disk), with its console
// and SSH on free loopback ports, and what /proc tells about it: descriptors, threads, memory, CPU.
#pragma once

#include "support/test_support.h"

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>

class OvhostProcess {
public:
    OvhostProcess();
    ~OvhostProcess(); // kills a server still running and removes the directory

    const std::string& dir() const { return dir_; }
    // Writes osvbpref.dat there: defaults, a free Telnet port, no modems, paranoid logging,
    // then whatever `adjust` sets (it runs with the directory as the working directory).
    void prepare(uint32_t maxUsers, uint32_t idleMs, const std::function<void()>& adjust = {});
    // Starts ovhost (waiting for another instance on this machine to end first) and waits
    // until the console is up and a caller gets the login prompt. `fileLimit` > 0 lowers its
    // descriptor limit.
    [[nodiscard]] bool start(int fileLimit = 0);
    // SIGTERM and the exit status (-1 when it did not end within the bound).
    int stop();

    uint16_t telnetPort() const { return telnetPort_; }
    uint16_t sshPort() const { return sshPort_; } // OVHOST_SSH
    uint16_t webPort() const { return webPort_; } // the caller page (OVHOST_WEB)
    bool running() const { return pid_ > 0; }
    // GET on the console with the access token; the whole reply (status line first).
    std::string consoleGet(const std::string& path);
    // Connects and reads up to the login prompt; empty client on failure.
    ovtest::LoopbackClient callIn();

    int descriptors() const;
    int threads() const;
    long rssKb() const;
    long cpuTicks() const;
    std::string output(); // what it printed so far on stdout and stderr
    std::string log() const { return ovtest::readFile(dir_ + "/bbslog.txt"); }

private:
    std::string dir_;
    std::string previous_;
    pid_t pid_ = -1;
    int out_ = -1;
    std::string seen_;
    uint16_t telnetPort_ = 0;
    uint16_t consolePort_ = 0;
    uint16_t sshPort_ = 0;
    uint16_t webPort_ = 0;
    std::string token_;
    bool readUntil(const std::string& needle, std::chrono::milliseconds bound);
    bool launch(int fileLimit);
};

// Counts the log entries of one kind ("CONNECT", "DISCONNECT", "LOGIN FAILURE", ...).
int countLogEntries(const std::string& log, const std::string& kind);
