// The one listening Telnet socket. It has no thread of its own: the UI runtime watches it and
// posts a message (WM_SOCKET) to a window (the main one), whose handler accepts one caller per
// message.
// Also starts and stops the process's socket layer (on Linux: SIGPIPE ignored).
#pragma once

#include "ovtypes.h"

[[nodiscard]] bool initWinsock();
// Binds INADDR_ANY:telnetPort and has `window` sent `message` when a caller waits; true if
// already listening. A port that cannot be taken is told on standard error.
[[nodiscard]] bool startListening(HWND window, UINT message);
// Accepts one caller as a blocking socket with keep-alive and out-of-band data inline.
[[nodiscard]] bool acceptCaller(int* out);
void stopListening();
void shutdownWinsock();
bool isListening();
