// The memo plug-in's exports: registration, the two "&Window" menu commands, the configuration
// dialog and the memo session.
#define OVBBS_PLUGIN
#include "jotbox.h"
#include "ovplugin.h"
#include "ovui.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <unistd.h>
#include <vector>

namespace {

using namespace jotbox;

constexpr int IdInstructions = 1001;
constexpr int IdSuccess = 1002;
constexpr int IdDefaults = 1000;

const OvControlTemplate configControls[] = {
    {OV_NOID, OV_STATIC, "\"Instructions\" string", 7, 7, 246, 8, 0, 0},
    {IdInstructions, OV_EDIT, "", 7, 17, 246, 12, OV_TABSTOP, 0},
    {OV_NOID, OV_STATIC, "\"Success\" message", 7, 36, 246, 8, 0, 0},
    {IdSuccess, OV_EDIT, "", 7, 46, 246, 12, OV_TABSTOP, 0},
    {IDOK, OV_DEFBUTTON, "OK", 89, 68, 50, 14, OV_TABSTOP, 0},
    {IdDefaults, OV_BUTTON, "Defaults", 146, 68, 50, 14, OV_TABSTOP, 0},
    {IDCANCEL, OV_BUTTON, "Cancel", 203, 68, 50, 14, OV_TABSTOP, 0},
};

const OvDialogTemplate configDialog = {
    101,
    "Configuration",
    260,
    89,
    OV_DS_CAPTION | OV_DS_SYSMENU | OV_DS_MODALFRAME | OV_DS_CENTER,
    nullptr,
    0,
    configControls,
    static_cast<int>(sizeof configControls / sizeof configControls[0]),
};

// Commands added to the main menu, one pair per start-up (the same library may be installed
// twice); only the UI thread touches them.
struct MenuCommands {
    HMENU menu;
    UINT readId;
    UINT clearId;
};
std::vector<MenuCommands> menuCommands;

// The host's services, copied at start-up; sessions take a copy under the lock.
std::mutex hostLock;
HostServices host{};

// Notices posted but not yet shown; their code is in this library, which must stay mapped.
std::atomic<int> pendingNotices{0};

void showNoMemos(void* owner) {
    ovMessageBox(static_cast<HWND>(owner), "There are no messages from users.", "Memo to sysop",
                 MB_OK | MB_ICONINFORMATION);
    --pendingNotices;
}

void showUnreadable(void* owner) {
    ovMessageBox(static_cast<HWND>(owner), "Unable to open jotbox.txt.", "Memo to sysop",
                 MB_OK | MB_ICONERROR);
    --pendingNotices;
}

// Shown later from the loop: a modal box inside BBSWndProc would hold up callers entering
// plug-ins until the sysop answered it.
void postNotice(void (*show)(void*), HWND owner) {
    ++pendingNotices;
    if (!ovPostCall(show, owner)) --pendingNotices;
}

void showTexts(HWND dlg, const Settings& s) {
    ovSetDlgItemText(dlg, IdInstructions, s.instructions);
    ovSetDlgItemText(dlg, IdSuccess, s.successMessage);
}

Settings readTexts(HWND dlg) {
    char text[TextField];
    Settings s{};
    ovGetDlgItemText(dlg, IdInstructions, text, static_cast<int>(MaxText + 1));
    setText(s.instructions, text);
    ovGetDlgItemText(dlg, IdSuccess, text, static_cast<int>(MaxText + 1));
    setText(s.successMessage, text);
    return s;
}

INT_PTR configProc(HWND dlg, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        ovLimitText(dlg, IdInstructions, static_cast<int>(MaxText));
        ovLimitText(dlg, IdSuccess, static_cast<int>(MaxText));
        showTexts(dlg, currentSettings());
        return TRUE;
    case WM_COMMAND:
        if (HIWORD(wParam) != BN_CLICKED) return FALSE;
        switch (LOWORD(wParam)) {
        case IDOK: {
            // The new texts hold from the next caller on, even if the file cannot be written.
            Settings s = readTexts(dlg);
            setCurrentSettings(s);
            (void)saveSettingsFile(s);
            ovEndDialog(dlg, IDOK);
            return TRUE;
        }
        case IdDefaults:
            showTexts(dlg, defaultSettings());
            return TRUE;
        case IDCANCEL:
            ovEndDialog(dlg, IDCANCEL);
            return TRUE;
        }
        return FALSE;
    case WM_CLOSE:
        ovEndDialog(dlg, IDCANCEL);
        return TRUE;
    }
    return FALSE;
}

} // namespace

extern "C" {

BOOL BBSRegister(HWND, char* name, DWORD* sessionCapable) {
    if (name) std::strcpy(name, "Memo to sysop");
    if (sessionCapable) *sessionCapable = 1;
    return 1;
}

BOOL BBSUnregister(HWND) {
    clearMemos();
    return 1;
}

BOOL BBSStartup(HWND mainWindow, HMENU mainMenu, BOOL, BOOL, UINT* nextMenuCommandId,
                const HostServices* services) {
    setCurrentSettings(loadSettingsFile());
    if (!services) return 0;
    if (services->version == BBS_HOST_VERSION) {
        if (nextMenuCommandId) {
            MenuCommands added{ovFindWindowMenu(mainMenu), *nextMenuCommandId,
                               *nextMenuCommandId + 1};
            *nextMenuCommandId += 2;
            if (added.menu) {
                ovAppendMenu(added.menu, MF_STRING, added.readId, "&Read messages from users...");
                ovAppendMenu(added.menu, MF_STRING, added.clearId, "&Clear all messages");
                menuCommands.push_back(added);
            }
        }
        {
            std::lock_guard<std::mutex> hold(hostLock);
            host = *services;
        }
        ovDrawMenuBar(mainWindow);
    }
    return (services->version >> 16) == 1 ? 1 : 0;
}

BOOL BBSShutdown(HWND mainWindow) {
    // A notice still queued runs code of this library: it must not be unloaded yet.
    if (pendingNotices.load() != 0) return 0;
    if (!menuCommands.empty()) {
        MenuCommands last = menuCommands.back();
        menuCommands.pop_back();
        ovDeleteMenu(last.menu, last.readId, MF_BYCOMMAND);
        ovDeleteMenu(last.menu, last.clearId, MF_BYCOMMAND);
        ovDrawMenuBar(mainWindow);
    }
    return 1;
}

BOOL BBSWndProc(HWND window, UINT message, WPARAM wParam, LPARAM) {
    if (message != WM_COMMAND) return 0;
    const UINT id = LOWORD(wParam);
    for (const MenuCommands& c : menuCommands) {
        if (id == c.readId) {
            // The editor opens only a file that exists: without memos there is none.
            char command[64];
            std::snprintf(command, sizeof command, "notepad %s", MemoFile);
            if (!ovStartProcess(command, nullptr))
                postNotice(access(MemoFile, F_OK) == 0 ? showUnreadable : showNoMemos, window);
            return 1;
        }
        if (id == c.clearId) {
            clearMemos();
            return 1;
        }
    }
    return 0;
}

BOOL BBSSession(void* session, DWORD, DWORD, DWORD* endSession) {
    HostServices services;
    {
        std::lock_guard<std::mutex> hold(hostLock);
        services = host;
    }
    if (!services.write || !services.read || !services.getValue) {
        if (endSession) *endSession = 0;
        return 0;
    }
    return runSession(services, session, endSession);
}

BOOL BBSConfigure(HWND mainWindow) {
    ovDialogBox(&configDialog, mainWindow, configProc, 0);
    return 1;
}

} // extern "C"
