// The door plug-in's exports: registration, the "Door log" command on the "&Window" menu, the
// dialog that lists the doors, and the door session.
#define OVBBS_PLUGIN
#include "doorway.h"
#include "ovplugin.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <mutex>

namespace {

using namespace doorway;

constexpr int IdList = 1000;
constexpr int IdName = 1001;
constexpr int IdCommand = 1002;
constexpr int IdDirectory = 1003;
constexpr int IdMinutes = 1004;
constexpr int IdDropFile = 1005;
constexpr int IdSingle = 1006;
constexpr int IdNew = 1010;
constexpr int IdRemove = 1011;
constexpr const char* Caption = "Doors";
const char* const dropFileChoices[] = {"None", "DOOR32.SYS", "DOOR.SYS"};

const OvControlTemplate configControls[] = {
    {IdList, OV_LISTVIEW, "", 7, 7, 386, 92, OV_SINGLESEL | OV_NOSORTHEADER | OV_TABSTOP, 0},
    {OV_NOID, OV_STATIC, "Name", 7, 109, 80, 8, 0, 0},
    {IdName, OV_EDIT, "", 92, 107, 120, 12, OV_TABSTOP, 0},
    {OV_NOID, OV_STATIC, "Command line", 7, 125, 80, 8, 0, 0},
    {IdCommand, OV_EDIT, "", 92, 123, 301, 12, OV_TABSTOP, 0},
    {OV_NOID, OV_STATIC, "Working directory", 7, 141, 80, 8, 0, 0},
    {IdDirectory, OV_EDIT, "", 92, 139, 301, 12, OV_TABSTOP, 0},
    {OV_NOID, OV_STATIC, "Time limit (minutes)", 7, 157, 80, 8, 0, 0},
    {IdMinutes, OV_EDIT, "", 92, 155, 40, 12, OV_NUMBER | OV_TABSTOP, 0},
    {OV_NOID, OV_STATIC, "Drop file", 150, 157, 40, 8, 0, 0},
    {IdDropFile, OV_COMBOBOX, "", 192, 155, 80, 60, OV_TABSTOP, 0},
    {IdSingle, OV_CHECKBOX, "One caller at a time", 285, 156, 108, 10, OV_TABSTOP, 0},
    {OV_NOID, OV_STATIC,
     "%D drop file, %S the caller's directory, %L login name, %N node, %T minutes left", 7, 173,
     386, 8, 0, 0},
    {IdNew, OV_BUTTON, "New door", 7, 190, 60, 14, OV_TABSTOP, 0},
    {IdRemove, OV_BUTTON, "Remove door", 73, 190, 60, 14, OV_TABSTOP, 0},
    {IDOK, OV_DEFBUTTON, "OK", 287, 190, 50, 14, OV_TABSTOP, 0},
    {IDCANCEL, OV_BUTTON, "Cancel", 343, 190, 50, 14, OV_TABSTOP, 0},
};

const OvDialogTemplate configDialog = {
    101,
    Caption,
    400,
    211,
    OV_DS_CAPTION | OV_DS_SYSMENU | OV_DS_MODALFRAME | OV_DS_CENTER,
    nullptr,
    0,
    configControls,
    static_cast<int>(sizeof configControls / sizeof configControls[0]),
};

// The dialog's working copy; only the UI thread touches it, and only while the dialog is open.
struct Editing {
    std::vector<Door> doors;
    int selected = -1;
    bool filling = false; // fields being set from a door, not typed
};
Editing editing;

// Commands added to the main menu, one per start-up; only the UI thread touches them.
struct MenuCommand {
    HMENU menu;
    UINT logId;
};
std::vector<MenuCommand> menuCommands;

std::mutex hostLock;
HostServicesEx host{};
bool hostExtended = false;

void showRow(HWND dlg, int row, const Door& d) {
    char minutes[16];
    std::snprintf(minutes, sizeof minutes, "%u", minutesOf(d.timeLimitSeconds));
    ovListViewSetItemText(dlg, IdList, row, 0, d.name);
    ovListViewSetItemText(dlg, IdList, row, 1, d.command);
    ovListViewSetItemText(dlg, IdList, row, 2, d.directory[0] ? d.directory : "(own)");
    ovListViewSetItemText(dlg, IdList, row, 3, d.timeLimitSeconds ? minutes : "none");
    ovListViewSetItemText(dlg, IdList, row, 4, dropFileChoices[static_cast<int>(d.dropFile)]);
    ovListViewSetItemText(dlg, IdList, row, 5, d.singleCaller ? "one" : "several");
}

void enableFields(HWND dlg, bool on) {
    for (int id : {IdName, IdCommand, IdDirectory, IdMinutes, IdDropFile, IdSingle, IdRemove})
        ovEnableDlgItem(dlg, id, on ? TRUE : FALSE);
}

void showFields(HWND dlg) {
    editing.filling = true;
    const bool any = editing.selected >= 0;
    const Door d = any ? editing.doors[static_cast<size_t>(editing.selected)] : Door{};
    ovSetDlgItemText(dlg, IdName, d.name);
    ovSetDlgItemText(dlg, IdCommand, d.command);
    ovSetDlgItemText(dlg, IdDirectory, d.directory);
    ovSetDlgItemInt(dlg, IdMinutes, minutesOf(d.timeLimitSeconds), FALSE);
    ovComboSetCurSel(dlg, IdDropFile, static_cast<int>(d.dropFile));
    ovCheckDlgButton(dlg, IdSingle, d.singleCaller ? BST_CHECKED : BST_UNCHECKED);
    enableFields(dlg, any);
    editing.filling = false;
}

// What the sysop typed, into the selected door and its row.
void takeFields(HWND dlg) {
    if (editing.filling || editing.selected < 0) return;
    Door& d = editing.doors[static_cast<size_t>(editing.selected)];
    char text[PathField] = {};
    ovGetDlgItemText(dlg, IdName, text, static_cast<int>(NameField));
    setField(d.name, NameField, text);
    ovGetDlgItemText(dlg, IdCommand, text, static_cast<int>(PathField));
    setField(d.command, PathField, text);
    ovGetDlgItemText(dlg, IdDirectory, text, static_cast<int>(PathField));
    setField(d.directory, PathField, text);
    BOOL number = FALSE;
    const UINT minutes = ovGetDlgItemInt(dlg, IdMinutes, &number, FALSE);
    // Edited in minutes; the file keeps seconds, so an unchanged limit stays as it was.
    if (!number)
        d.timeLimitSeconds = 0;
    else if (minutes != minutesOf(d.timeLimitSeconds))
        d.timeLimitSeconds = minutes * 60;
    const int kind = ovComboGetCurSel(dlg, IdDropFile);
    d.dropFile = kind > 0 && kind <= 2 ? static_cast<DropFile>(kind) : DropFile::None;
    d.singleCaller = ovIsDlgButtonChecked(dlg, IdSingle) == BST_CHECKED;
    showRow(dlg, editing.selected, d);
}

void select(HWND dlg, int row) {
    editing.selected = row;
    ovListViewSetSelected(dlg, IdList, row);
    showFields(dlg);
}

void addRow(HWND dlg, int row, const Door& d) {
    ovListViewInsertItem(dlg, IdList, row, d.name, -1);
    showRow(dlg, row, d);
}

// Every door needs a name of its own and a command; the first that lacks one is selected.
bool checkDoors(HWND dlg) {
    for (size_t i = 0; i < editing.doors.size(); ++i) {
        const Door& d = editing.doors[i];
        const char* problem = nullptr;
        if (d.name[0] == '\0' || d.command[0] == '\0')
            problem = "Every door needs a name and a command line.";
        for (size_t j = 0; j < i && !problem; ++j)
            if (sameName(editing.doors[j].name, d.name))
                problem = "Two doors have the same name. Callers choose a door by its name.";
        if (problem) {
            select(dlg, static_cast<int>(i));
            ovMessageBox(dlg, problem, Caption, MB_OK | MB_ICONWARNING);
            return false;
        }
    }
    return true;
}

INT_PTR configProc(HWND dlg, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG: {
        editing = Editing{currentDoors(), -1, false};
        static const char* const headers[] = {"Name",    "Command line", "Directory",
                                              "Minutes", "Drop file",    "Callers"};
        static const int widths[] = {110, 260, 120, 60, 80, 70};
        for (int i = 0; i < 6; ++i)
            ovListViewInsertColumn(dlg, IdList, i, headers[i], widths[i]);
        for (const char* choice : dropFileChoices)
            ovComboAddString(dlg, IdDropFile, choice);
        ovLimitText(dlg, IdName, static_cast<int>(NameField - 1));
        ovLimitText(dlg, IdCommand, static_cast<int>(PathField - 1));
        ovLimitText(dlg, IdDirectory, static_cast<int>(PathField - 1));
        ovLimitText(dlg, IdMinutes, 5);
        for (size_t i = 0; i < editing.doors.size(); ++i)
            addRow(dlg, static_cast<int>(i), editing.doors[i]);
        select(dlg, editing.doors.empty() ? -1 : 0);
        return TRUE;
    }
    case WM_NOTIFY: {
        const auto* change = reinterpret_cast<const NMLISTVIEW*>(lParam);
        if (change && change->hdr.idFrom == IdList && change->hdr.code == LVN_ITEMCHANGED &&
            (change->uNewState & LVIS_SELECTED) && change->iItem != editing.selected) {
            editing.selected = change->iItem;
            showFields(dlg);
        }
        return FALSE;
    }
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IdName:
        case IdCommand:
        case IdDirectory:
        case IdMinutes:
        case IdDropFile:
        case IdSingle:
            takeFields(dlg);
            return TRUE;
        case IdNew:
            if (editing.doors.size() >= MaxDoors) {
                ovMessageBox(dlg, "The list holds 64 doors at most.", Caption, MB_OK);
                return TRUE;
            } else {
                Door d;
                setField(d.name, NameField, "New door");
                editing.doors.push_back(d);
                const int row = static_cast<int>(editing.doors.size()) - 1;
                addRow(dlg, row, d);
                select(dlg, row);
                ovSetFocus(dlg, IdName);
            }
            return TRUE;
        case IdRemove:
            if (editing.selected >= 0) {
                const int row = editing.selected;
                editing.doors.erase(editing.doors.begin() + row);
                editing.selected = -1;
                ovListViewDeleteItem(dlg, IdList, row);
                const int count = static_cast<int>(editing.doors.size());
                select(dlg, row < count ? row : count - 1);
            }
            return TRUE;
        case IDOK:
            if (!checkDoors(dlg)) return TRUE;
            // In force from the next caller on, also when the file cannot be written.
            setCurrentDoors(editing.doors);
            if (!saveSettingsFile(editing.doors))
                ovMessageBox(dlg, "The doors could not be saved to doorway.dat.", Caption,
                             MB_OK | MB_ICONERROR);
            ovEndDialog(dlg, IDOK);
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
    if (name) std::strcpy(name, "Doors");
    if (sessionCapable) *sessionCapable = 1;
    return 1;
}

BOOL BBSUnregister(HWND) {
    return 1; // the door list and the log stay for a later install
}

BOOL BBSStartup(HWND mainWindow, HMENU mainMenu, BOOL, BOOL, UINT* nextMenuCommandId,
                const HostServices* services) {
    if (!services || (services->version >> 16) != 1) return 0;
    setCurrentDoors(loadSettingsFile());
    // A host that lends more than the first four services says how long its record is.
    DWORD size = 0;
    const bool extended = services->getValue &&
                          services->getValue(nullptr, BBS_VALUE_SERVICES_SIZE, &size) &&
                          BBS_HOST_HAS(size, readAvailable);
    {
        std::lock_guard<std::mutex> hold(hostLock);
        host = HostServicesEx{};
        if (extended)
            host = *reinterpret_cast<const HostServicesEx*>(services);
        else
            host.base = *services;
        hostExtended = extended;
    }
    if (nextMenuCommandId && mainMenu) {
        MenuCommand added{ovFindWindowMenu(mainMenu), *nextMenuCommandId};
        *nextMenuCommandId += 1;
        if (added.menu) {
            ovAppendMenu(added.menu, MF_STRING, added.logId, "&Door log...");
            menuCommands.push_back(added);
            ovDrawMenuBar(mainWindow);
        }
    }
    return 1;
}

BOOL BBSShutdown(HWND mainWindow) {
    if (!menuCommands.empty()) {
        const MenuCommand last = menuCommands.back();
        menuCommands.pop_back();
        ovDeleteMenu(last.menu, last.logId, MF_BYCOMMAND);
        ovDrawMenuBar(mainWindow);
    }
    return 1;
}

BOOL BBSWndProc(HWND, UINT message, WPARAM wParam, LPARAM) {
    if (message != WM_COMMAND) return 0;
    for (const MenuCommand& c : menuCommands) {
        if (LOWORD(wParam) != c.logId) continue;
        // Before the first door the log is made empty, so that the sysop sees an empty log.
        int fd = open(LogFile, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (fd >= 0) close(fd);
        char command[64];
        std::snprintf(command, sizeof command, "notepad %s", LogFile);
        (void)ovStartProcess(command, nullptr);
        return 1;
    }
    return 0;
}

BOOL BBSSession(void* session, DWORD, DWORD userId, DWORD* endSession) {
    HostServicesEx services;
    bool extended;
    {
        std::lock_guard<std::mutex> hold(hostLock);
        services = host;
        extended = hostExtended;
    }
    if (!services.base.write || !services.base.read || !services.base.getValue) {
        if (endSession) *endSession = 0;
        return 0;
    }
    return runSession(services, extended, session, userId, endSession);
}

BOOL BBSConfigure(HWND mainWindow) {
    ovDialogBox(&configDialog, mainWindow, configProc, 0);
    editing = Editing{};
    return 1;
}

} // extern "C"
