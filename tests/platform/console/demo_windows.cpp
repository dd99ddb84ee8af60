// Demo windows for the console's tests, written against the runtime as the server's own are;
// the main window is the server's own template with a procedure of its own.
#include "demo_windows.h"

#include "server/sysop/main_window_resources.h"

#include <cstdarg>
#include <cstdio>
#include <string>

namespace {

DemoOptions demo;
HWND demoMain = nullptr;
UINT trayMessage = 0;
UINT taskbarCreated = 0;

void report(const char* fmt, ...) {
    char line[512];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(line, sizeof line, fmt, ap);
    va_end(ap);
    if (demo.reporter) demo.reporter(std::string("EVENT ") + line);
}

std::string itemText(HWND dlg, int id) {
    char buf[256] = {};
    ovGetDlgItemText(dlg, id, buf, sizeof buf);
    return buf;
}

constexpr DWORD kTab = OV_TABSTOP;

// ---- General preferences: check boxes, digits-only and capitals fields, a note on OK -------
const OvControlTemplate kGeneralControls[] = {
    {1050, OV_CHECKBOX, "Use TCP", 10, 8, 80, 10, kTab, 0},
    {1056, OV_CHECKBOX, "Use TAPI", 10, 20, 80, 10, kTab, 0},
    {1065, OV_CHECKBOX, "Unrevealing login screens (no ID)", 10, 32, 150, 10, kTab, 0},
    {OV_NOID, OV_STATIC, "Max. # of simultaneous users:", 10, 51, 110, 8, 0, 0},
    {1057, OV_EDIT, "", 125, 49, 30, 12, kTab | OV_NUMBER, 0},
    {OV_NOID, OV_STATIC, "Idle timeout value (minutes):", 10, 67, 110, 8, 0, 0},
    {1058, OV_EDIT, "", 125, 65, 30, 12, kTab | OV_NUMBER, 0},
    {OV_NOID, OV_GROUPBOX, "Input characters", 7, 84, 186, 32, 0, 0},
    {OV_NOID, OV_STATIC, "\"Yes\"", 14, 99, 20, 8, 0, 0},
    {1059, OV_EDIT, "", 36, 97, 14, 12, kTab | OV_UPPERCASE, 0},
    {OV_NOID, OV_STATIC, "\"No\"", 58, 99, 16, 8, 0, 0},
    {1060, OV_EDIT, "", 76, 97, 14, 12, kTab | OV_UPPERCASE, 0},
    {OV_NOID, OV_STATIC, "\"Quit\"", 98, 99, 22, 8, 0, 0},
    {1061, OV_EDIT, "", 122, 97, 14, 12, kTab | OV_UPPERCASE, 0},
    {OV_NOID, OV_STATIC, "\"Back\"", 144, 99, 24, 8, 0, 0},
    {1062, OV_EDIT, "", 170, 97, 14, 12, kTab | OV_UPPERCASE, 0},
    {1052, OV_BUTTON, "Restore all defaults", 7, 124, 80, 14, kTab, 0},
    {IDOK, OV_DEFBUTTON, "OK", 100, 124, 45, 14, kTab, 0},
    {IDCANCEL, OV_BUTTON, "Cancel", 148, 124, 45, 14, kTab, 0},
};
const OvDialogTemplate kGeneralTemplate = {
    121,
    "General preferences",
    200,
    144,
    OV_DS_CAPTION | OV_DS_SYSMENU | OV_DS_MODALFRAME,
    nullptr,
    0,
    kGeneralControls,
    int(sizeof kGeneralControls / sizeof kGeneralControls[0])};

void generalDefaults(HWND dlg) {
    ovCheckDlgButton(dlg, 1050, BST_CHECKED);
    ovCheckDlgButton(dlg, 1056, BST_CHECKED);
    ovCheckDlgButton(dlg, 1065, BST_UNCHECKED);
    ovSetDlgItemText(dlg, 1057, "5");
    ovSetDlgItemText(dlg, 1058, "5");
    ovSetDlgItemText(dlg, 1059, "Y");
    ovSetDlgItemText(dlg, 1060, "N");
    ovSetDlgItemText(dlg, 1061, "Q");
    ovSetDlgItemText(dlg, 1062, "\\");
}

INT_PTR generalProc(HWND dlg, UINT msg, WPARAM wParam, LPARAM) {
    switch (msg) {
    case WM_INITDIALOG:
        generalDefaults(dlg);
        for (int id = 1059; id <= 1062; ++id)
            ovLimitText(dlg, id, 1);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case 1052:
            generalDefaults(dlg);
            return TRUE;
        case IDOK: {
            report("general ok tcp=%u users=%s yes=%s", ovIsDlgButtonChecked(dlg, 1050),
                   itemText(dlg, 1057).c_str(), itemText(dlg, 1059).c_str());
            int r = ovMessageBox(dlg, "Changes will take effect the next time the BBS is started.",
                                 "Note", MB_OK | MB_ICONINFORMATION);
            report("note answered %d", r);
            ovEndDialog(dlg, 1);
            return TRUE;
        }
        case IDCANCEL:
            report("general cancel");
            ovEndDialog(dlg, 0);
            return TRUE;
        default:
            return FALSE;
        }
    case WM_CLOSE:
        ovEndDialog(dlg, 0);
        return TRUE;
    default:
        return FALSE;
    }
}

// ---- Modem configuration: the drop-down combo with typing ------------------------------------
const OvControlTemplate kModemControls[] = {
    {OV_NOID, OV_STATIC, "TAPI data modem devices found:", 10, 10, 110, 8, 0, 0},
    {1062, OV_STATIC, "2", 122, 10, 20, 8, 0, 0},
    {1056, OV_CHECKBOX, "Accept calls from TAPI (use modems)", 10, 24, 150, 10, kTab, 0},
    {OV_NOID, OV_STATIC, "Minimum BPS accepted:", 10, 44, 80, 8, 0, 0},
    {1064, OV_COMBOBOX, "", 92, 42, 60, 80, kTab | OV_NUMBER, 0},
    {IDOK, OV_DEFBUTTON, "OK", 52, 66, 50, 14, kTab, 0},
    {IDCANCEL, OV_BUTTON, "Cancel", 106, 66, 50, 14, kTab, 0},
};
const OvDialogTemplate kModemTemplate = {124,
                                         "Modem configuration",
                                         166,
                                         88,
                                         OV_DS_CAPTION | OV_DS_SYSMENU | OV_DS_MODALFRAME,
                                         nullptr,
                                         0,
                                         kModemControls,
                                         int(sizeof kModemControls / sizeof kModemControls[0])};

INT_PTR modemProc(HWND dlg, UINT msg, WPARAM wParam, LPARAM) {
    static const char* const rates[] = {"300",   "1200",  "2400",  "9600",   "14400",
                                        "19200", "28800", "33600", "53000",  "54600",
                                        "56000", "57600", "64000", "115200", "128000"};
    switch (msg) {
    case WM_INITDIALOG:
        for (const char* r : rates)
            ovComboAddString(dlg, 1064, r);
        ovSetDlgItemText(dlg, 1064, "2400");
        ovCheckDlgButton(dlg, 1056, BST_CHECKED);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case 1056:
            ovEnableDlgItem(dlg, 1064, ovIsDlgButtonChecked(dlg, 1056) == BST_CHECKED);
            return TRUE;
        case IDOK:
            report("modem ok tapi=%u bps=%s", ovIsDlgButtonChecked(dlg, 1056),
                   itemText(dlg, 1064).c_str());
            ovEndDialog(dlg, 1);
            return TRUE;
        case IDCANCEL:
            ovEndDialog(dlg, 0);
            return TRUE;
        default:
            return FALSE;
        }
    case WM_CLOSE:
        ovEndDialog(dlg, 0);
        return TRUE;
    default:
        return FALSE;
    }
}

// ---- Active connections: the report list view with its two small images ----------------------
const OvControlTemplate kConnControls[] = {
    {1006, OV_LISTVIEW, "", 5, 5, 300, 90, kTab | OV_SINGLESEL | OV_NOSORTHEADER, 0},
    {IDOK, OV_DEFBUTTON, "OK", 5, 100, 50, 14, kTab, 0},
    {1005, OV_BUTTON, "Refresh", 60, 100, 50, 14, kTab, 0},
    {1007, OV_BUTTON, "Disconnect", 255, 100, 50, 14, kTab, 0},
};
const OvDialogTemplate kConnTemplate = {111,
                                        "Active connections",
                                        310,
                                        120,
                                        OV_DS_CAPTION | OV_DS_SYSMENU | OV_DS_MODALFRAME,
                                        nullptr,
                                        0,
                                        kConnControls,
                                        int(sizeof kConnControls / sizeof kConnControls[0])};

void fillConnections(HWND dlg) {
    ovListViewDeleteAll(dlg, 1006);
    struct Row {
        int image;
        const char *since, *login, *name;
    } rows[] = {{1, "21:40 on 07 Dec 2026", "alice", "Telnet from 127.0.0.1:40312"},
                {0, "21:12 on 07 Dec 2026", "", "Unknown modem device"}};
    for (int i = 0; i < 2; ++i) {
        ovListViewInsertItem(dlg, 1006, i, "", rows[i].image);
        ovListViewSetItemText(dlg, 1006, i, 1, rows[i].since);
        ovListViewSetItemText(dlg, 1006, i, 2, rows[i].login);
        ovListViewSetItemText(dlg, 1006, i, 3, rows[i].name);
    }
}

INT_PTR connProc(HWND dlg, UINT msg, WPARAM wParam, LPARAM) {
    switch (msg) {
    case WM_INITDIALOG: {
        const int icons[] = {112, 113};
        ovListViewSetImages(dlg, 1006, icons, 2);
        ovListViewInsertColumn(dlg, 1006, 0, "", 20);
        ovListViewInsertColumn(dlg, 1006, 1, "Online since", 120);
        ovListViewInsertColumn(dlg, 1006, 2, "User's login", 80);
        ovListViewInsertColumn(dlg, 1006, 3, "Connection name", 220);
        fillConnections(dlg);
        return TRUE;
    }
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
            ovEndDialog(dlg, 1);
            return TRUE;
        case 1005:
            fillConnections(dlg);
            return TRUE;
        case 1007: {
            int row = ovListViewGetSelected(dlg, 1006);
            report("disconnect row=%d", row);
            if (row >= 0) ovListViewDeleteItem(dlg, 1006, row);
            return TRUE;
        }
        default:
            return FALSE;
        }
    case WM_CLOSE:
        ovEndDialog(dlg, 0);
        return TRUE;
    default:
        return FALSE;
    }
}

// ---- About: a bitmap and the version ----------------------------------------------------------
const OvControlTemplate kAboutControls[] = {
    {OV_NOID, OV_BITMAP, "", 6, 6, 181, 47, 0, 106},
    {1000, OV_STATIC, "", 6, 60, 181, 8, OV_CENTER, 0},
    {IDOK, OV_DEFBUTTON, "OK", 72, 74, 50, 14, kTab, 0},
};
const OvDialogTemplate kAboutTemplate = {107,
                                         "About Ossivane BBS...",
                                         193,
                                         94,
                                         OV_DS_CAPTION | OV_DS_SYSMENU | OV_DS_MODALFRAME,
                                         nullptr,
                                         0,
                                         kAboutControls,
                                         3};

INT_PTR aboutProc(HWND dlg, UINT msg, WPARAM, LPARAM) {
    if (msg == WM_INITDIALOG) {
        ovSetDlgItemText(dlg, 1000, "Version 1.00b1, build 311 (14 Apr 99)");
        return TRUE;
    }
    if (msg == WM_COMMAND || msg == WM_CLOSE) {
        ovEndDialog(dlg, 0);
        return TRUE;
    }
    return FALSE;
}

// ---- The main window's procedure --------------------------------------------------------------
void fillMain(HWND dlg) {
    // As the server shows its default preferences.
    ovCheckMenuItem(ovGetMenu(dlg), CmdAllowNewAccounts, MF_CHECKED);
    ovCheckMenuItem(ovGetMenu(dlg), CmdParanoidLogging, MF_CHECKED);
    HTREEITEM root = ovTreeInsertItem(dlg, 1020, 0, "Main lobby", 0);
    ovTreeInsertItem(dlg, 1020, root, "Files", 1);
    HTREEITEM games = ovTreeInsertItem(dlg, 1020, root, "Games", 2);
    ovTreeInsertItem(dlg, 1020, games, "Trivia night", 5);
    ovTreeInsertItem(dlg, 1020, root, "Messages", 3);
    ovTreeExpand(dlg, 1020, root, TRUE);
    for (const char* name : {"sysop", "guest", "alice", "bob"})
        ovListAddString(dlg, 1021, name);
    for (const char* name : {"Memo to sysop", "View a file", "Set terminal type"})
        ovListAddString(dlg, 1041, name);
    ovListAddString(dlg, 1027, "Memo to sysop");
}

void showUser(HWND dlg) {
    char name[64] = {};
    int sel = ovListGetCurSel(dlg, 1021);
    if (sel < 0 || ovListGetText(dlg, 1021, sel, name, sizeof name) < 0) return;
    ovSetDlgItemText(dlg, 1032, name);
    ovSetDlgItemText(dlg, 1035, "secret");
    ovSetDlgItemText(dlg, 1026, "10");
    ovSetDlgItemText(dlg, 1036, "");
    ovSetDlgItemText(dlg, 1033, "20:15 on 01 Dec 2026");
    ovSetDlgItemText(dlg, 1034, "21:40 on 07 Dec 2026");
    ovSetDlgItemText(dlg, 1037, "120");
    ovSetDlgItemText(dlg, 1040, "4096");
    ovEnableDlgItem(dlg, 1045, TRUE);
}

void installPlugin(HWND dlg) {
    char file[256] = {};
    OvOpenFileName ofn{};
    ofn.owner = dlg;
    ofn.title = "Install which plug-in?";
    ofn.filterDescription = "Plug-ins (shared libraries)";
    ofn.filterPattern = "*.so";
    ofn.defaultExtension = "so";
    ofn.file = file;
    ofn.fileSize = sizeof file;
    ofn.flags = OV_OFN_FILEMUSTEXIST | OV_OFN_PATHMUSTEXIST | OV_OFN_NOCHANGEDIR;
    ofn.initialDir = demo.workDir.empty() ? nullptr : demo.workDir.c_str();
    if (ovGetOpenFileName(&ofn))
        report("openfile chosen=%s", file);
    else
        report("openfile cancelled");
}

INT_PTR commandOfMain(HWND dlg, int id, int code) {
    report("command id=%d code=%d", id, code);
    switch (id) {
    case 40001:
        ovPostMessage(dlg, WM_CLOSE, 0, 0);
        break;
    case 40022:
        report("general result=%d", int(ovDialogBox(&kGeneralTemplate, dlg, generalProc, 0)));
        break;
    case 40019:
        ovDialogBox(&kModemTemplate, dlg, modemProc, 0);
        break;
    case 40018:
        ovDialogBox(&kConnTemplate, dlg, connProc, 0);
        break;
    case 40004:
        ovDialogBox(&kAboutTemplate, dlg, aboutProc, 0);
        break;
    case 40014:
        ovShowWindow(dlg, SW_HIDE);
        break;
    case 40007:
    case 40008:
    case 40023:
    case 40024: {
        HMENU menu = ovGetMenu(dlg);
        UINT was = ovGetMenuState(menu, UINT(id), MF_BYCOMMAND);
        ovCheckMenuItem(menu, UINT(id), (was & MF_CHECKED) ? MF_UNCHECKED : MF_CHECKED);
        break;
    }
    case 1021:
        if (code == LBN_SELCHANGE) showUser(dlg);
        break;
    case 1045:
        if (code == BN_CLICKED) {
            int r =
                ovMessageBox(dlg, "Delete this user?", "Ossivane BBS", MB_YESNO | MB_ICONQUESTION);
            report("delete answered %d", r);
        }
        break;
    case 1038:
        report("save area title=%s min=%s max=%s", itemText(dlg, 1022).c_str(),
               itemText(dlg, 1024).c_str(), itemText(dlg, 1025).c_str());
        break;
    case 1042:
        installPlugin(dlg);
        break;
    case 1050:
        report("editor started=%d",
               ovStartProcess("notepad desc.txt",
                              demo.workDir.empty() ? nullptr : demo.workDir.c_str()));
        break;
    default:
        break;
    }
    return TRUE;
}

INT_PTR mainProc(HWND dlg, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_INITDIALOG) {
        demoMain = dlg;
        taskbarCreated = ovRegisterWindowMessage("TaskbarCreated");
        trayMessage = ovRegisterWindowMessage("WM_TOOLTRAY");
        fillMain(dlg);
        OvNotifyIconData nid{};
        nid.hwnd = dlg;
        nid.id = 1;
        nid.flags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
        nid.callbackMessage = trayMessage;
        nid.iconLevel = 2;
        std::snprintf(nid.tip, sizeof nid.tip, "2 user(s) out of a maximum of 5");
        ovShellNotifyIcon(NIM_ADD, &nid);
        report("initdialog");
        return TRUE;
    }
    if (msg == taskbarCreated && taskbarCreated) {
        report("taskbarcreated");
        return TRUE;
    }
    if (msg == trayMessage && trayMessage) {
        if (lParam == WM_LBUTTONDBLCLK) {
            report("tray dblclk");
            ovShowWindow(dlg, SW_SHOWNORMAL);
            ovSetForegroundWindow(dlg);
        }
        return TRUE;
    }
    switch (msg) {
    case WM_COMMAND:
        return commandOfMain(dlg, LOWORD(wParam), HIWORD(wParam));
    case WM_NOTIFY: {
        const NMHDR* hdr = reinterpret_cast<const NMHDR*>(lParam);
        if (hdr && hdr->idFrom == 1020 && hdr->code == TVN_SELCHANGED) {
            const NMTREEVIEW* nm = reinterpret_cast<const NMTREEVIEW*>(lParam);
            char id[16], title[64] = {};
            std::snprintf(id, sizeof id, "%08lx", static_cast<unsigned long>(nm->itemNew.lParam));
            ovSetDlgItemText(dlg, 1023, id);
            ovTreeGetItemText(dlg, 1020, nm->itemNew.hItem, title, sizeof title);
            ovSetDlgItemText(dlg, 1022, title);
            ovSetDlgItemText(dlg, 1024, "0");
            ovSetDlgItemText(dlg, 1025, "65535");
            ovEnableDlgItem(dlg, 1031, nm->itemNew.lParam != 0);
            report("treesel area=%s", id);
        }
        return TRUE;
    }
    case WM_SYSCOMMAND:
        if (wParam == SC_MINIMIZE) {
            report("minimize");
            ovShowWindow(dlg, SW_HIDE);
            return TRUE;
        }
        return wParam == SC_MAXIMIZE;
    case WM_CLOSE: {
        report("close");
        OvNotifyIconData nid{};
        nid.hwnd = dlg;
        nid.id = 1;
        ovShellNotifyIcon(NIM_DELETE, &nid);
        ovEndDialog(dlg, 0);
        return TRUE;
    }
    default:
        return FALSE;
    }
}

} // namespace

INT_PTR runDemoMainWindow(const DemoOptions& options) {
    demo = options;
    return ovDialogBox(&mainDialogTemplate, nullptr, mainProc, 0);
}

HWND createDemoMainWindow(const DemoOptions& options) {
    demo = options;
    return ovCreateDialog(&mainDialogTemplate, nullptr, mainProc, 0);
}
