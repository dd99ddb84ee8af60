// The one listening Telnet socket. It has no thread of its own: the UI runtime watches it and
// posts WM_SOCKET to the main window, whose handler accepts one caller per message.
// Also starts and stops the process's socket layer (on Linux: SIGPIPE ignored).
#pragma once

[[nodiscard]] bool initWinsock();
// Binds INADDR_ANY:telnetPort and watches it for the main window; true if already listening.
// A port that cannot be taken is told on standard error.
bool startListening();
// Accepts one caller as a blocking socket with keep-alive and out-of-band data inline.
[[nodiscard]] bool acceptCaller(int* out);
void stopListening();
void shutdownWinsock();
bool isListening();
