#include "server/sysop/user_editor.h"

#include "server/base/product.h"
#include "server/base/time_text.h"
#include "server/sysop/app_state.h"
#include "server/sysop/main_window_resources.h"
#include "server/sysop/number_field.h"
#include "server/sysop/ui_thread.h"
#include "server/users/user_db.h"
#include "server/users/user_list.h"

#include <cstdio>
#include <cstring>
#include <iterator>
#include <new>
#include <string>

namespace {

constexpr int NewUserDialogId = 119;
constexpr int IdcNewLoginName = 1048;

// The name typed into dialog 119, kept until newUserFromEditor uses it.
char newLoginName[32];

const OvControlTemplate newUserControls[] = {
    {IdcNewLoginName, OV_EDIT, "", 7, 7, 130, 12, OV_TABSTOP, 0},
    {IDOK, OV_DEFBUTTON, "OK", 143, 6, 40, 14, OV_TABSTOP, 0},
};

const OvDialogTemplate newUserTemplate = {
    NewUserDialogId,
    "Enter new login name (2 to 31 characters)",
    190,
    27,
    OV_DS_CAPTION | OV_DS_SYSMENU | OV_DS_MODALFRAME | OV_DS_CENTER,
    nullptr,
    0,
    newUserControls,
    static_cast<int>(std::size(newUserControls)),
};

INT_PTR newUserDialogProc(HWND dlg, UINT msg, WPARAM wParam, LPARAM) {
    switch (msg) {
    case WM_INITDIALOG:
        ovSetFocus(dlg, IdcNewLoginName);
        return FALSE; // the focus is set
    case WM_COMMAND:
        // Only OK ends it: Esc must not throw away what the sysop typed.
        if (LOWORD(wParam) == IDOK && HIWORD(wParam) == BN_CLICKED) {
            ovGetDlgItemText(dlg, IdcNewLoginName, newLoginName, sizeof newLoginName);
            ovEndDialog(dlg, 1);
        }
        return TRUE;
    case WM_CLOSE:
        ovEndDialog(dlg, 0);
        return TRUE;
    default:
        return FALSE;
    }
}

HWND window() {
    return mainWindow.load();
}

// The user whose record the fields show, and the fields the editor saves as they were shown.
struct ShownUser {
    std::string password, access, realName;
    bool utf8 = false;
    bool operator==(const ShownUser&) const = default;
};
std::string currentUser;
ShownUser loadedUser;

std::string fieldText(int id) {
    char text[256] = {};
    ovGetDlgItemText(window(), id, text, sizeof text);
    return text;
}

ShownUser shownUser() {
    return {fieldText(IdcUserPassword), fieldText(IdcUserAccess), fieldText(IdcUserRealName),
            ovIsDlgButtonChecked(window(), IdcUserUtf8) == BST_CHECKED};
}

// The selected entry's name, cut to 31 characters; false without a selection.
bool selectedName(char name[32]) {
    int sel = ovListGetCurSel(window(), IdcUserList);
    return sel >= 0 && ovListGetText(window(), IdcUserList, sel, name, 32) >= 0;
}

void setNumber(int id, uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%u", value);
    ovSetDlgItemText(window(), id, text);
}

void setTime(int id, uint64_t time) {
    char text[32];
    formatTime(text, time);
    ovSetDlgItemText(window(), id, text);
}

void addEntry(const char* name, uint32_t id) {
    int index = ovListAddString(window(), IdcUserList, name);
    if (index >= 0) ovListSetItemData(window(), IdcUserList, index, LPARAM(id));
}

void removeEntry(const char* name) {
    int index = ovListFindStringExact(window(), IdcUserList, -1, name);
    if (index >= 0) ovListDeleteString(window(), IdcUserList, index);
}

// Accounts are also made and removed on session threads.
const ListSink userListSink{
    [](const char* name, uint32_t id) {
        runOnUiThread([n = std::string(name), id] { addEntry(n.c_str(), id); });
    },
    [](const char* name) { runOnUiThread([n = std::string(name)] { removeEntry(n.c_str()); }); },
};

} // namespace

void initUserEditor() {
    currentUser.clear();
    loadedUser = ShownUser{};
    setUserListSink(&userListSink);
}

namespace {

void loadSelectedUser() {
    HWND w = window();
    char name[32];
    UserRecord rec;
    if (selectedName(name) && findUser(rec, name)) {
        currentUser = name;
        ovSetDlgItemText(w, IdcUserLogin, rec.loginName);
        // Write-only: the box never holds the stored password (nothing for the console to show).
        ovSetDlgItemText(w, IdcUserPassword, "");
        setNumber(IdcUserAccess, rec.accessLevel);
        ovSetDlgItemText(w, IdcUserRealName, rec.realName);
        setTime(IdcUserFirstLogin, rec.firstLogin);
        setTime(IdcUserLastLogin, rec.lastLogin);
        setNumber(IdcUserUploadKb, rec.uploadKb);
        setNumber(IdcUserDownloadKb, rec.downloadKb);
        ovCheckDlgButton(w, IdcUserUtf8,
                         (rec.userFlags & Utf8TerminalFlag) ? BST_CHECKED : BST_UNCHECKED);
        ovEnableDlgItem(w, IdcDeleteUser, TRUE);
        loadedUser = shownUser();
        return;
    }
    currentUser.clear();
    for (int id : {IdcUserLogin, IdcUserPassword, IdcUserAccess, IdcUserRealName, IdcUserFirstLogin,
                   IdcUserLastLogin, IdcUserUploadKb, IdcUserDownloadKb})
        ovSetDlgItemText(w, id, "");
    ovCheckDlgButton(w, IdcUserUtf8, BST_UNCHECKED);
    ovEnableDlgItem(w, IdcDeleteUser, FALSE);
    loadedUser = shownUser();
}

// Saves the fields into the record of `name`; false when a field was refused or the user is
// gone, the fields then staying as typed.
bool saveUser(const char* name) {
    HWND w = window();
    uint32_t access = 0;
    if (!numberField(w, IdcUserAccess, "Access", 0, 65535, access)) return false; // nothing saved
    // An empty box keeps the password; anything typed replaces it whole.
    char password[sizeof UserRecord::password] = {};
    ovGetDlgItemText(w, IdcUserPassword, password, 31);
    char realName[sizeof UserRecord::realName] = {};
    ovGetDlgItemText(w, IdcUserRealName, realName, 255);
    const bool utf8 = ovIsDlgButtonChecked(w, IdcUserUtf8) == BST_CHECKED;
    // Changed under the user lock on a fresh read, so what a session writes meanwhile in the
    // other fields (login count, times, a plug-in's value) survives.
    UserRecord written;
    bool saved = changeUser(
        name,
        [&](UserRecord& rec) {
            if (password[0] != '\0') std::memcpy(rec.password, password, sizeof rec.password);
            std::memcpy(rec.realName, realName, sizeof rec.realName);
            rec.accessLevel = uint16_t(access);
            // Only this bit: the terminal type and the other flags stay as sessions left them.
            if (utf8)
                rec.userFlags = uint16_t(rec.userFlags | Utf8TerminalFlag);
            else
                rec.userFlags = uint16_t(rec.userFlags & ~Utf8TerminalFlag);
        },
        written);
    if (!saved) return false; // silent by design: the fields stay as typed
    loadedUser = shownUser();
    return true;
}

} // namespace

void showSelectedUser() {
    char name[32] = {};
    bool selected = selectedName(name);
    if (!currentUser.empty() && (!selected || currentUser != name) && userHasUnsavedEdits()) {
        const std::string question = "Save the changes to the user " + currentUser + "?";
        int answer =
            ovMessageBox(window(), question.c_str(), ProductName, MB_YESNOCANCEL | MB_ICONWARNING);
        bool stay = answer != IDYES && answer != IDNO;
        if (answer == IDYES && !saveUser(currentUser.c_str())) stay = true;
        if (stay) {
            // The list goes back to the user whose edits stay (setting it reports nothing).
            int index = ovListFindStringExact(window(), IdcUserList, -1, currentUser.c_str());
            if (index >= 0) {
                ovListSetCurSel(window(), IdcUserList, index);
                return;
            }
        }
    }
    loadSelectedUser();
}

bool userHasUnsavedEdits() {
    return !currentUser.empty() && !(shownUser() == loadedUser);
}

void saveSelectedUser() {
    char name[32];
    if (selectedName(name)) (void)saveUser(name);
}

void deleteSelectedUser() {
    char name[32];
    if (!selectedName(name)) return;
    const std::string question = std::string("Delete the user ") + name + "?";
    if (ovMessageBox(window(), question.c_str(), ProductName, MB_YESNO | MB_ICONWARNING) != IDYES)
        return;
    if (!deleteUser(name)) return; // on success the list entry goes with it
    currentUser.clear();           // its edits go with it
    loadSelectedUser();
}

void newUserFromEditor() {
    std::memset(newLoginName, 0, sizeof newLoginName);
    if (ovDialogBox(&newUserTemplate, window(), newUserDialogProc, 0) != 1) return;
    UserRecord rec;
    if (!addUser(rec, newLoginName)) return; // refused names are not reported
    int index = ovListFindStringExact(window(), IdcUserList, -1, rec.loginName);
    ovListSetCurSel(window(), IdcUserList, index);
    showSelectedUser();
}
