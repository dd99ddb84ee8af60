// The Telnet listener and the caller sessions on the UI runtime's loop, without the sysop's
// main window: a hidden window takes WM_SOCKET and starts a session thread per caller.
// Used by tests and by hosts that run without a console.
#pragma once

// Starts the UI thread on first use (it lives until the process ends), opens the hidden window
// as mainWindow, adds the tray icon and, if useTcp, starts listening on telnetPort.
// True when the host is up and listening.
[[nodiscard]] bool startHeadlessHost();
// As on closing the main window: every caller dropped, the tray icon removed, the listener
// stopped, the window destroyed. Session threads end on their own.
void stopHeadlessHost();
