// The installed plug-ins (plugins.dat) and the loaded ones (a list, newest first, under one
// recursive lock). Everything except BBSSession is called on the main window's thread.
#pragma once

#include "ovbbs.h"
#include "server/base/list_sink.h"

#include <cstddef>
#include <cstdint>

constexpr const char* PluginFileName = "plugins.dat";
constexpr size_t PluginRecordSize = 520;
constexpr uint32_t RemovedPluginId = 0xFFFFFFFF;
constexpr UINT FirstPluginMenuCommandId = 41000;

struct PluginRecord {
    uint32_t id = RemovedPluginId;
    uint32_t sessionCapable = 0;
    char path[256] = {};
    char name[256] = {};
};
void encodePluginRecord(const PluginRecord& rec, uint8_t out[PluginRecordSize]);
void decodePluginRecord(const uint8_t in[PluginRecordSize], PluginRecord& rec);

struct PluginEntryPoints {
    void* library = nullptr;
    BBSRegisterProc bbsRegister = nullptr;
    BBSUnregisterProc bbsUnregister = nullptr;
    BBSStartupProc bbsStartup = nullptr;
    BBSShutdownProc bbsShutdown = nullptr;
    BBSWndProcProc bbsWndProc = nullptr;
    BBSSessionProc bbsSession = nullptr;
    BBSConfigureProc bbsConfigure = nullptr;
};

struct PluginSessionContext;

struct LoadedPlugin {
    PluginEntryPoints entry;
    PluginRecord record;
    PluginSessionContext* sessions = nullptr; // callers inside BBSSession
    bool retired = false; // left the list at server stop while a caller was still inside
    LoadedPlugin* prev = nullptr;
    LoadedPlugin* next = nullptr;
};

// The process-wide menu command counter handed to every BBSStartup; it only grows.
extern UINT nextMenuCommandId;

// The main window's "Installed plug-ins" list, filled in by the window; may be left unset.
void setPluginListSink(const ListSink* sink);

// The main window handed to the plug-ins (set as it opens and closes), and whether the modem and
// Telnet layers came up at start-up (BBSStartup reports them together with the preferences).
void setPluginHostWindow(HWND window);
void setPluginLinesReady(bool telephonyReady, bool telnetReady);

void loadAllPlugins(UINT* nextMenuCommandId);
[[nodiscard]] bool startPlugin(const PluginRecord& rec, UINT* nextMenuCommandId);
[[nodiscard]] bool installPlugin(const char* fullPath, UINT* nextMenuCommandId);
[[nodiscard]] bool uninstallPlugin(uint32_t id);
[[nodiscard]] bool unloadPlugin(uint32_t id, bool force);
// Server stop: waits (bounded) for callers still inside a plug-in before releasing it, and
// removes also a plug-in whose BBSShutdown refuses. Call it without holding the plug-in lock.
void unloadAllPlugins();
bool offerToPlugins(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
[[nodiscard]] bool configurePlugin(uint32_t id);
bool getPluginInfo(uint32_t id, bool& sessionCapable, char name[256]);
