// One detached thread per caller: it builds the connection on its own stack from the handle,
// runs the session and destroys the connection, which closes the socket or hangs up.
#pragma once

#include <cstdint>

#include "server/sessions/session.h"

// Negative handles mean "no caller" and return at once (0 is a valid descriptor here).
void telnetSessionThread(int socketFd, const SessionStart& start = {});
void modemSessionThread(int commHandle, const SessionStart& start = {});
// The modem module's call handler: a connected call's session, with the usual stages.
void modemCallSession(int commHandle);

// Starts telnetSessionThread on a caller thread (server/base/caller_threads.h); closes the
// socket if none can start.
void startTelnetSession(int socketFd, const SessionStart& start = {});
// Threads started by startTelnetSession that have not finished yet.
uint32_t runningSessionThreads();
