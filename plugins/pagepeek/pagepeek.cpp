// The file viewer plug-in's exports: registration, the "More" text dialog and the viewer
// session. It adds nothing to the main window.
#define OVBBS_PLUGIN
#include "pagepeek.h"
#include "ovui.h"

#include <unistd.h>

#include <cstring>
#include <mutex>

namespace {

using namespace pagepeek;

constexpr int IdMore = 1000;

const OvControlTemplate configControls[] = {
    {OV_NOID, OV_STATIC, "\"More\" string", 7, 9, 60, 8, 0, 0},
    {IdMore, OV_EDIT, "", 70, 7, 150, 12, OV_TABSTOP, 0},
    {IDOK, OV_DEFBUTTON, "OK", 114, 28, 50, 14, OV_TABSTOP, 0},
    {IDCANCEL, OV_BUTTON, "Cancel", 170, 28, 50, 14, OV_TABSTOP, 0},
};

const OvDialogTemplate configDialog = {
    101,
    "Configuration",
    227,
    49,
    OV_DS_CAPTION | OV_DS_SYSMENU | OV_DS_MODALFRAME | OV_DS_CENTER,
    nullptr,
    0,
    configControls,
    static_cast<int>(sizeof configControls / sizeof configControls[0]),
};

std::mutex hostLock;
HostServices host{};

INT_PTR configProc(HWND dlg, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        ovLimitText(dlg, IdMore, static_cast<int>(MaxMore));
        ovSetDlgItemText(dlg, IdMore, currentMoreText().text);
        return TRUE;
    case WM_COMMAND:
        if (HIWORD(wParam) != BN_CLICKED) return FALSE;
        if (LOWORD(wParam) == IDOK) {
            char text[MoreField] = {};
            ovGetDlgItemText(dlg, IdMore, text, static_cast<int>(MaxMore + 1));
            const MoreText more = makeMoreText(text);
            setCurrentMoreText(more);
            (void)saveSettingsFile(more); // not reported; the old file stays whole
            ovEndDialog(dlg, IDOK);
            return TRUE;
        }
        if (LOWORD(wParam) == IDCANCEL) {
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
    if (name) std::strcpy(name, "View a file");
    if (sessionCapable) *sessionCapable = 1;
    return 1;
}

BOOL BBSUnregister(HWND) {
    unlink(SettingsFile);
    return 1;
}

BOOL BBSStartup(HWND, HMENU, BOOL, BOOL, UINT*, const HostServices* services) {
    if (!services) return 0;
    if (services->version == BBS_HOST_VERSION) {
        std::lock_guard<std::mutex> hold(hostLock);
        host = *services;
    }
    setCurrentMoreText(loadSettingsFile());
    return (services->version >> 16) == 1 ? 1 : 0;
}

BOOL BBSShutdown(HWND) {
    return 1;
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
