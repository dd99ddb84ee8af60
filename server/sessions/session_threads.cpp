#include "server/sessions/session_threads.h"

#include <unistd.h>

#include <atomic>

#include "server/base/caller_threads.h"
#include "server/connections/serial_connection.h"
#include "server/connections/tcp_connection.h"

namespace {
std::atomic<uint32_t> running{0};
}

void telnetSessionThread(int socketFd, const SessionStart& start) {
    if (socketFd < 0) return;
    TelnetConnection connection(socketFd);
    runSession(connection, start);
}

void modemSessionThread(int commHandle, const SessionStart& start) {
    if (commHandle < 0) return;
    SerialConnection connection(commHandle);
    runSession(connection, start);
}

void modemCallSession(int commHandle) {
    modemSessionThread(commHandle);
}

void startTelnetSession(int socketFd, const SessionStart& start) {
    if (socketFd < 0) return;
    running.fetch_add(1);
    if (!startCallerThread([socketFd, start] {
            telnetSessionThread(socketFd, start);
            running.fetch_sub(1);
        })) {
        // No thread for this caller: drop the line rather than leak the descriptor.
        running.fetch_sub(1);
        ::close(socketFd);
    }
}

uint32_t runningSessionThreads() {
    return running.load();
}
