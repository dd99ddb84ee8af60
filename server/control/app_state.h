// Process-wide handles that the main window publishes for the listener, the tray and the session
// threads: the window itself, which platform layers started, and the registered message ids.
// All are atomics, so any thread may read them while the UI thread sets them.
#pragma once

#include <atomic>

#include "ovui.h"

inline std::atomic<HWND> mainWindow{};
inline std::atomic<bool> winsockReady{false};
inline std::atomic<bool> telephonyReady{false};
inline std::atomic<UINT> wmSocket{0};
inline std::atomic<UINT> wmToolTray{0};
inline std::atomic<UINT> wmTaskbarCreated{0};

// Registers "TaskbarCreated", "WM_TOOLTRAY" and "WM_SOCKET", in that order.
inline void registerAppMessages() {
    wmTaskbarCreated = ovRegisterWindowMessage("TaskbarCreated");
    wmToolTray = ovRegisterWindowMessage("WM_TOOLTRAY");
    wmSocket = ovRegisterWindowMessage("WM_SOCKET");
}
