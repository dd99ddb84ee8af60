#include "server/sysop/main_window.h"

#include <cstdio>
#include <iterator>

#include "server/areas/area_tree.h"
#include "server/base/product.h"
#include "server/connections/telnet_listener.h"
#include "server/modems/telephony.h"
#include "server/plugins/plugin_registry.h"
#include "server/preferences/preferences.h"
#include "server/sessions/session_list.h"
#include "server/sessions/session_threads.h"
#include "server/sysop/app_state.h"
#include "server/sysop/area_editor.h"
#include "server/sysop/config_dialogs.h"
#include "server/sysop/connections_dialog.h"
#include "server/sysop/main_window_resources.h"
#include "server/sysop/plugin_dialogs.h"
#include "server/sysop/tray.h"
#include "server/sysop/user_editor.h"
#include "server/users/user_db.h"

namespace {

struct SecuritySwitch {
    UINT command;
    bool (*get)();
    bool (*set)(bool);
};

const SecuritySwitch securitySwitches[] = {
    {CmdAllowNewAccounts, getAllowNewAccounts, setAllowNewAccounts},
    {CmdParanoidLogging, getParanoidLogging, setParanoidLogging},
    {CmdPluginsChangeAccess, getPluginsMayChangeAccess, setPluginsMayChangeAccess},
    {CmdUnrevealingLogin, getUnrevealingLogin, setUnrevealingLogin},
};

void showSecurityCheck(HWND window, const SecuritySwitch& s) {
    ovCheckMenuItem(ovGetMenu(window), s.command,
                    MF_BYCOMMAND | (s.get() ? MF_CHECKED : MF_UNCHECKED));
}

bool toggleSecuritySwitch(HWND window, UINT command) {
    for (const SecuritySwitch& s : securitySwitches) {
        if (s.command != command) continue;
        (void)s.set(!s.get()); // the setter saves osvbpref.dat at once
        showSecurityCheck(window, s);
        return true;
    }
    return false;
}

// ---- Telnet listener notice: modeless, so the server keeps running underneath -------------
constexpr int ListenerNoticeId = 130;
constexpr UINT CmdShowListenerNotice = 40990; // the window's own, never on a menu
constexpr int IdcNoticeText = 1000;

const OvControlTemplate listenerNoticeControls[] = {
    {IdcNoticeText, OV_STATIC, "", 10, 8, 200, 32, 0, 0},
    {IDOK, OV_DEFBUTTON, "OK", 85, 46, 50, 14, OV_TABSTOP, 0},
};
const OvDialogTemplate listenerNoticeTemplate = {
    ListenerNoticeId,
    "Telnet",
    220,
    66,
    OV_DS_CAPTION | OV_DS_SYSMENU,
    nullptr,
    0,
    listenerNoticeControls,
    static_cast<int>(std::size(listenerNoticeControls)),
};

INT_PTR listenerNoticeProc(HWND dlg, UINT msg, WPARAM, LPARAM) {
    if (msg == WM_COMMAND || msg == WM_CLOSE) {
        ovDestroyWindow(dlg);
        return TRUE;
    }
    return msg == WM_INITDIALOG ? TRUE : FALSE;
}

// In front of the main window, and the main window's title keeps saying it once the notice is
// gone: Telnet stays down until the next start.
void showListenerNotice(HWND owner) {
    char title[96];
    std::snprintf(title, sizeof title, "%s - Telnet: not listening on port %u", ProductName,
                  unsigned(getTelnetPort()));
    ovSetWindowText(owner, title);
    HWND notice = ovCreateDialog(&listenerNoticeTemplate, owner, listenerNoticeProc, 0);
    if (!notice) return;
    char text[256];
    std::snprintf(text, sizeof text,
                  "Telnet callers cannot connect: port %u could not be opened. Choose "
                  "\"Telnet...\" from the \"Configure\" menu to pick another port.",
                  unsigned(getTelnetPort()));
    ovSetDlgItemText(notice, IdcNoticeText, text);
    ovSetForegroundWindow(notice);
}

// ---- About box ----------------------------------------------------------------------------
constexpr int IdcAboutVersion = 1000;

const OvControlTemplate aboutControls[] = {
    {OV_NOID, OV_BITMAP, "", 6, 6, 181, 47, 0, SplashBitmapId},
    {IdcAboutVersion, OV_STATIC, "", 6, 60, 181, 8, OV_CENTER, 0},
    {IDOK, OV_DEFBUTTON, "OK", 72, 74, 50, 14, OV_TABSTOP, 0},
};
const OvDialogTemplate aboutTemplate = {
    AboutDialogId,
    "About Ossivane BBS...",
    193,
    94,
    OV_DS_CAPTION | OV_DS_SYSMENU | OV_DS_MODALFRAME | OV_DS_CENTER,
    nullptr,
    0,
    aboutControls,
    static_cast<int>(std::size(aboutControls)),
};

INT_PTR aboutProc(HWND dlg, UINT msg, WPARAM, LPARAM) {
    switch (msg) {
    case WM_INITDIALOG:
        ovSetDlgItemText(dlg, IdcAboutVersion, VersionText);
        return TRUE;
    case WM_COMMAND:
    case WM_CLOSE:
        ovEndDialog(dlg, 0);
        return TRUE;
    default:
        return FALSE;
    }
}

// ---- The main window ------------------------------------------------------------------------
void startMainWindow(HWND window) {
    publishMainWindow(window);
    registerAppMessages();
    const bool telnetDown = getUseTcp() && !startListening(window, wmSocket.load());
    if (getUseTapi()) startAcceptingCalls(modemCallSession);
    addTrayIcon();
    char tip[TrayTipSize];
    formatUserCountTip(tip, 0, getMaxUsers());
    setTrayTip(tip);
    for (const SecuritySwitch& s : securitySwitches)
        showSecurityCheck(window, s);
    initUserEditor();
    loadUserList();
    resetAreaEditor();
    populateAreaTree(0);
    initPluginDialogs();
    loadAllPlugins(&nextMenuCommandId);
    openBoardToCallers(); // SSH and web callers waited for the plug-ins
    ovSetForegroundWindow(window);
    // Posted, so that the notice opens once the main window shows, in front of it.
    if (telnetDown) ovPostMessage(window, WM_COMMAND, CmdShowListenerNotice, 0);
}

void shutDownMainWindow(HWND window) {
    shutBoardToCallers();
    disconnectAll();
    unloadAllPlugins();
    removeTrayIcon();
    shutdownWinsock();
    shutdownTelephony();
    freeAreaTree();
    ovEndDialog(window, 0);
}

void bringToFront(HWND window) {
    ovShowWindow(window, SW_SHOWNORMAL);
    ovSetForegroundWindow(window);
}

// Menu commands and the editors' controls. False for ids nobody handles.
bool handleCommand(HWND window, UINT id, UINT code) {
    const bool clicked = code == BN_CLICKED;
    const bool selChanged = code == LBN_SELCHANGE;
    switch (id) {
    case CmdExit:
        ovPostMessage(window, WM_CLOSE, 0, 0);
        return true;
    case CmdGeneralOptions:
        showGeneralDialog();
        return true;
    case CmdModems:
        showModemDialog();
        return true;
    case CmdTelnet:
        showTelnetDialog();
        return true;
    case CmdResponseStrings:
        showResponseStringsDialog();
        return true;
    case CmdHide:
        ovShowWindow(window, SW_HIDE);
        return true;
    case CmdActiveConnections:
        showConnectionsDialog();
        return true;
    case CmdAbout:
        showAboutBox(window);
        return true;
    case CmdShowListenerNotice:
        showListenerNotice(window);
        return true;
    case IdcNewSubArea:
        if (clicked) newSubArea();
        return true;
    case IdcDeleteArea:
        if (clicked) deleteSelectedArea();
        return true;
    case IdcSaveArea:
        if (clicked) saveSelectedArea();
        return true;
    case IdcCancelArea:
        if (clicked) showSelectedArea();
        return true;
    case IdcEditDescription:
        if (clicked) editSelectedDescription();
        return true;
    case IdcAddToArea:
        if (clicked) addSelectedPluginToArea();
        return true;
    case IdcRemoveExtension:
        if (clicked) removeSelectedExtension();
        return true;
    case IdcEditExtension:
        if (clicked) editSelectedExtension();
        return true;
    case IdcPluginList:
        if (selChanged) refreshPluginButtons();
        return true;
    case IdcInstallPlugin:
        if (clicked) installPluginFromDialog();
        return true;
    case IdcUninstallPlugin:
        if (clicked) uninstallSelectedPlugin();
        return true;
    case IdcConfigurePlugin:
        if (clicked) configureSelectedPlugin();
        return true;
    case IdcUserList:
        if (selChanged) showSelectedUser();
        return true;
    case IdcNewUser:
        if (clicked) newUserFromEditor();
        return true;
    case IdcDeleteUser:
        if (clicked) deleteSelectedUser();
        return true;
    case IdcSaveUser:
        if (clicked) saveSelectedUser();
        return true;
    case IdcCancelUser:
        if (clicked) showSelectedUser();
        return true;
    default:
        return toggleSecuritySwitch(window, id);
    }
}

bool isRegistered(UINT msg, const std::atomic<UINT>& registered) {
    return msg != 0 && msg == registered.load();
}

} // namespace

void showAboutBox(HWND owner) {
    (void)ovDialogBox(&aboutTemplate, owner, aboutProc, 0);
}

INT_PTR mainDialogProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
    const bool own = msg == WM_INITDIALOG || msg == WM_CLOSE || isRegistered(msg, wmSocket) ||
                     isRegistered(msg, wmToolTray);
    // Plug-ins see everything else first, even the window's own commands.
    if (!own && offerToPlugins(window, msg, wParam, lParam)) return TRUE;

    switch (msg) {
    case WM_INITDIALOG:
        startMainWindow(window);
        return TRUE;
    case WM_CLOSE:
        shutDownMainWindow(window);
        return TRUE;
    case WM_COMMAND:
        (void)handleCommand(window, LOWORD(wParam), HIWORD(wParam));
        return TRUE;
    case WM_NOTIFY: {
        const auto* hdr = reinterpret_cast<const NMHDR*>(lParam);
        if (hdr && hdr->idFrom == IdcAreaTree && hdr->code == TVN_SELCHANGED) showSelectedArea();
        return TRUE;
    }
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == SC_MINIMIZE) {
            ovShowWindow(window, SW_HIDE);
            return TRUE;
        }
        return (wParam & 0xFFF0) == SC_MAXIMIZE ? TRUE : FALSE;
    default:
        break;
    }
    if (isRegistered(msg, wmTaskbarCreated)) {
        restoreTrayIcon();
        return TRUE;
    }
    if (isRegistered(msg, wmToolTray)) {
        if (static_cast<UINT>(lParam) == WM_LBUTTONDBLCLK) bringToFront(window);
        return TRUE;
    }
    if (isRegistered(msg, wmSocket)) {
        int socketFd = -1;
        if (acceptCaller(&socketFd)) startTelnetSession(socketFd);
        return TRUE;
    }
    return FALSE;
}
