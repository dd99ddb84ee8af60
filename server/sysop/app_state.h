// Process-wide handles that the main window publishes for the sysop's windows, the tray and the
// start-up: the window itself and the registered message ids. All are atomics, so any thread
// may read them while the UI thread sets them.
#pragma once

#include <atomic>

#include "ovui.h"
#include "server/plugins/plugin_registry.h"

inline std::atomic<HWND> mainWindow{};
inline std::atomic<UINT> wmSocket{0};
inline std::atomic<UINT> wmToolTray{0};
inline std::atomic<UINT> wmTaskbarCreated{0};

// The main window as it opens (or nullptr as it closes); plug-ins get it too.
inline void publishMainWindow(HWND window) {
    mainWindow = window;
    setPluginHostWindow(window);
}

// Registers "TaskbarCreated", "WM_TOOLTRAY" and "WM_SOCKET", in that order.
inline void registerAppMessages() {
    wmTaskbarCreated = ovRegisterWindowMessage("TaskbarCreated");
    wmToolTray = ovRegisterWindowMessage("WM_TOOLTRAY");
    wmSocket = ovRegisterWindowMessage("WM_SOCKET");
}
