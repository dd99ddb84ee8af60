// A small host for testing plug-ins from outside: loads a built plug-in with dlopen, lends it
// HostServices over a real loopback socket and a fake account, and runs BBSSession on a thread
// of its own while the test plays the caller on the other end of the socket.
#pragma once

#include "ovbbs.h"
#include "support/test_support.h"

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace plugtest {

// The caller's account as the services see it.
struct FakeAccount {
    std::mutex lock;
    std::string loginName = "alice";
    std::string args;
    DWORD ansi = 0;
    DWORD utf8 = 0;
    DWORD uploadKb = 0;
    DWORD downloadKb = 0;
    DWORD accessLevel = 10;
    bool refuseGets = false;  // getValue fails (the session cannot be read)
    bool refuseSaves = false; // setValue fails and changes nothing (the account cannot be saved)
    int saves = 0;
};

// HostServices whose session handle is a CallerLink* (below).
HostServices testServices(DWORD version = BBS_HOST_VERSION);

// One loaded plug-in library with its seven entry points.
class PluginLibrary {
public:
    explicit PluginLibrary(const std::string& fileName); // from ovtest::binDir()
    ~PluginLibrary();
    PluginLibrary(const PluginLibrary&) = delete;
    PluginLibrary& operator=(const PluginLibrary&) = delete;
    bool loaded() const;
    std::string path;
    void* handle = nullptr;
    BBSRegisterProc reg = nullptr;
    BBSUnregisterProc unreg = nullptr;
    BBSStartupProc startup = nullptr;
    BBSShutdownProc shutdown = nullptr;
    BBSWndProcProc wndProc = nullptr;
    BBSSessionProc session = nullptr;
    BBSConfigureProc configure = nullptr;
    // BBSStartup with the test services, no window and no menu.
    bool start(DWORD version = BBS_HOST_VERSION);
};

// One running BBSSession. The plug-in's side of the socket belongs to the services, the
// other side to the test (`caller`).
class CallerLink {
public:
    CallerLink(BBSSessionProc proc, FakeAccount& account);
    ~CallerLink();
    CallerLink(const CallerLink&) = delete;
    CallerLink& operator=(const CallerLink&) = delete;

    // Waits for BBSSession to return and closes the plug-in's side; then `caller` reads to close.
    void finish();
    bool finished() const { return done.load(); }
    // Everything the plug-in sent after what was already read, once the session is over.
    std::string restAfterFinish();

    ovtest::LoopbackClient caller;
    FakeAccount& account;
    int serverFd = -1;
    BOOL result = -1;
    DWORD endSession = 99;

private:
    std::atomic<bool> done{false};
    std::thread thread;
};

// The names of the symbols a shared library exports (defined, global, in .dynsym).
std::vector<std::string> exportedSymbols(const std::string& path);

} // namespace plugtest
