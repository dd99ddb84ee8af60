// One detached thread per caller: it builds the connection on its own stack from the handle,
// runs the session and destroys the connection, which closes the socket or hangs up.
#pragma once

#include <cstdint>

// Negative handles mean "no caller" and return at once (0 is a valid descriptor here).
void telnetSessionThread(int socketFd);
// Defined in modem_session_thread.cpp, built once server/connections/serial_connection.h exists.
void modemSessionThread(int commHandle);

// Starts telnetSessionThread on a new detached thread; closes the socket if none can start.
void startTelnetSession(int socketFd);
// Threads started by startTelnetSession that have not finished yet.
uint32_t runningSessionThreads();
