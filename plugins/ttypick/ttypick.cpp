// The terminal type plug-in's exports: registration, the configuration dialog and the choice
// session. It adds nothing to the main window.
#define OVBBS_PLUGIN
#include "ttypick.h"
#include "ovui.h"

#include <cstring>
#include <mutex>

namespace {

using namespace ttypick;

constexpr int IdFirstText = 1001; // 1001..1007 in file order
constexpr int IdTextKey = 1008;
constexpr int IdAnsiKey = 1009;
constexpr int IdDefaults = 1000;

// Each string's row: its default text as the label, the edit beside it.
const OvControlTemplate configControls[] = {
    {OV_NOID, OV_GROUPBOX, "Strings", 7, 7, 346, 134, 0, 0},
    {OV_NOID, OV_STATIC, "\"You are currently using\"", 14, 22, 176, 8, 0, 0},
    {1001, OV_EDIT, "", 194, 20, 152, 12, OV_TABSTOP, 0},
    {OV_NOID, OV_STATIC, "\"text only\"", 14, 38, 176, 8, 0, 0},
    {1002, OV_EDIT, "", 194, 36, 152, 12, OV_TABSTOP, 0},
    {OV_NOID, OV_STATIC, "\"ANSI escapes\"", 14, 54, 176, 8, 0, 0},
    {1003, OV_EDIT, "", 194, 52, 152, 12, OV_TABSTOP, 0},
    {OV_NOID, OV_STATIC, "\"Select from these terminal types:\"", 14, 70, 176, 8, 0, 0},
    {1004, OV_EDIT, "", 194, 68, 152, 12, OV_TABSTOP, 0},
    {OV_NOID, OV_STATIC, "\"Plain text only\"", 14, 86, 176, 8, 0, 0},
    {1005, OV_EDIT, "", 194, 84, 152, 12, OV_TABSTOP, 0},
    {OV_NOID, OV_STATIC, "\"ANSI escapes and DOS extended characters\"", 14, 102, 176, 8, 0, 0},
    {1006, OV_EDIT, "", 194, 100, 152, 12, OV_TABSTOP, 0},
    {OV_NOID, OV_STATIC, "\"Which do you wish to use?\"", 14, 118, 176, 8, 0, 0},
    {1007, OV_EDIT, "", 194, 116, 152, 12, OV_TABSTOP, 0},
    {OV_NOID, OV_GROUPBOX, "Characters", 7, 147, 346, 34, 0, 0},
    {OV_NOID, OV_STATIC, "\"Text\" initial", 14, 162, 60, 8, 0, 0},
    {IdTextKey, OV_EDIT, "", 76, 160, 20, 12, OV_UPPERCASE | OV_TABSTOP, 0},
    {OV_NOID, OV_STATIC, "\"ANSI\" initial", 110, 162, 60, 8, 0, 0},
    {IdAnsiKey, OV_EDIT, "", 172, 160, 20, 12, OV_UPPERCASE | OV_TABSTOP, 0},
    {IDOK, OV_DEFBUTTON, "OK", 166, 189, 50, 14, OV_TABSTOP, 0},
    {IdDefaults, OV_BUTTON, "Reset defaults", 222, 189, 75, 14, OV_TABSTOP, 0},
    {IDCANCEL, OV_BUTTON, "Cancel", 303, 189, 50, 14, OV_TABSTOP, 0},
};

const OvDialogTemplate configDialog = {
    101,
    "Configuration",
    360,
    210,
    OV_DS_CAPTION | OV_DS_SYSMENU | OV_DS_MODALFRAME | OV_DS_CENTER,
    nullptr,
    0,
    configControls,
    static_cast<int>(sizeof configControls / sizeof configControls[0]),
};

std::mutex hostLock;
HostServices host{};

void showSettings(HWND dlg, const Settings& s) {
    for (size_t i = 0; i < TextCount; ++i)
        ovSetDlgItemText(dlg, IdFirstText + static_cast<int>(i), s.texts[i]);
    const char textKey[2] = {s.textKey, '\0'};
    const char ansiKey[2] = {s.ansiKey, '\0'};
    ovSetDlgItemText(dlg, IdTextKey, textKey);
    ovSetDlgItemText(dlg, IdAnsiKey, ansiKey);
}

Settings readSettings(HWND dlg) {
    Settings s{};
    char text[TextField] = {};
    for (size_t i = 0; i < TextCount; ++i) {
        text[0] = '\0';
        ovGetDlgItemText(dlg, IdFirstText + static_cast<int>(i), text,
                         static_cast<int>(MaxText + 1));
        setText(s.texts[i], text);
    }
    // An empty field stores the key 0, which the session reads as the default key.
    text[0] = '\0';
    ovGetDlgItemText(dlg, IdTextKey, text, sizeof text);
    s.textKey = text[0];
    text[0] = '\0';
    ovGetDlgItemText(dlg, IdAnsiKey, text, sizeof text);
    s.ansiKey = text[0];
    return s;
}

INT_PTR configProc(HWND dlg, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        for (size_t i = 0; i < TextCount; ++i)
            ovLimitText(dlg, IdFirstText + static_cast<int>(i), static_cast<int>(MaxText));
        ovLimitText(dlg, IdTextKey, 1);
        ovLimitText(dlg, IdAnsiKey, 1);
        showSettings(dlg, currentSettings());
        return TRUE;
    case WM_COMMAND:
        if (HIWORD(wParam) != BN_CLICKED) return FALSE;
        switch (LOWORD(wParam)) {
        case IDOK: {
            Settings s = readSettings(dlg);
            setCurrentSettings(s);
            (void)saveSettingsFile(s);
            ovEndDialog(dlg, IDOK);
            return TRUE;
        }
        case IdDefaults:
            showSettings(dlg, defaultSettings());
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

// Uninstalling and unloading leave nothing to undo; ttypick.dat stays for a later install.
BOOL nothingToUndo() {
    return 1;
}

} // namespace

extern "C" {

BOOL BBSRegister(HWND, char* name, DWORD* sessionCapable) {
    if (name) std::strcpy(name, "Set terminal type");
    if (sessionCapable) *sessionCapable = 1;
    return 1;
}

BOOL BBSUnregister(HWND) {
    return nothingToUndo();
}

BOOL BBSStartup(HWND, HMENU, BOOL, BOOL, UINT*, const HostServices* services) {
    if (!services) return 0;
    if (services->version == BBS_HOST_VERSION) {
        std::lock_guard<std::mutex> hold(hostLock);
        host = *services;
    }
    setCurrentSettings(loadSettingsFile());
    return (services->version >> 16) == 1 ? 1 : 0;
}

BOOL BBSShutdown(HWND) {
    return nothingToUndo();
}

BOOL BBSWndProc(HWND, UINT, WPARAM, LPARAM) {
    return 0;
}

BOOL BBSSession(void* session, DWORD, DWORD, DWORD* endSession) {
    HostServices services;
    {
        std::lock_guard<std::mutex> hold(hostLock);
        services = host;
    }
    if (!services.write || !services.read || !services.getValue || !services.setValue) {
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
