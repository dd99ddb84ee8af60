// ovhost: the Ossivane BBS server. One instance per machine; a second start brings the
// running server's main window to the front and prints its console address.
#include <pthread.h>
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "platform/console/console.h"
#include "server/base/caller_threads.h"
#include "server/control/resource_limits.h"
#include "server/control/single_instance.h"
#include "server/control/startup.h"

namespace {

constexpr auto CallerThreadsBound = std::chrono::seconds(5);

// The unit does not restart the server after this status: only the sysop can fix the setting.
constexpr int ExitRefusedSetting = 2;

// A service stop (SIGTERM), Ctrl+C and a closed terminal all run the normal shutdown order.
// SIGUSR1 only ends the watcher when the server has stopped on its own.
sigset_t watchedSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGHUP);
    sigaddset(&set, SIGUSR1);
    return set;
}

void watchSignals(sigset_t set) {
    for (;;) {
        int sig = 0;
        if (sigwait(&set, &sig) != 0) continue;
        if (sig == SIGUSR1) return;
        requestServerStop();
    }
}

bool tellRunningInstance() {
    std::string address;
    bool otherUser = false;
    if (!askRunningInstance(address, &otherUser)) return false;
    if (otherUser)
        std::printf("Ossivane BBS is already running as another user; only that user is told "
                    "its console address.\n");
    else if (address.empty())
        std::printf("Ossivane BBS is already running (without a console).\n");
    else
        std::printf("Ossivane BBS is already running. Console: %s\n", address.c_str());
    std::fflush(stdout);
    return true;
}

} // namespace

int main() {
    signal(SIGPIPE, SIG_IGN);
    raiseOpenFileLimit();
    // Blocked before any thread starts, so only the watcher ever takes these signals.
    sigset_t set = watchedSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);

    // A setting that would expose the console is a mistake to fix, not one to run on with.
    if (!consoleSettingAccepted()) return ExitRefusedSetting;
    if (tellRunningInstance()) return 0;
    if (!claimSingleInstance()) {
        // Another server took the name a moment ago.
        if (tellRunningInstance()) return 0;
        std::fprintf(stderr, "ovhost: cannot claim the single-instance name; starting anyway\n");
    }

    std::thread watcher(watchSignals, set);
    int result = runServer();
    // The shutdown dropped every caller; their threads still log DISCONNECT and remove a
    // half-made account. A thread stuck past the bound (a plug-in) is left to the exit.
    if (!waitForCallerThreads(CallerThreadsBound))
        std::fprintf(stderr, "ovhost: %u callers' threads had not finished at exit\n",
                     unsigned(runningCallerThreads()));
    pthread_kill(watcher.native_handle(), SIGUSR1);
    watcher.join();
    releaseSingleInstance();
    return result;
}
