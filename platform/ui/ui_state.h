// Inside the UI runtime: the state of every window, control and menu, guarded by one lock.
#pragma once

#include "ovui.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace ovui {

using Handle = uintptr_t;

// The runtime lock. Take it through Guard so that a procedure is never called while it is held.
extern std::recursive_mutex gLock;

class Guard {
public:
    Guard();
    ~Guard();
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;
};
bool lockHeldHere();

struct ListItem {
    std::string text;
    LPARAM data = 0;
};

struct TreeNode {
    HTREEITEM parent = 0;
    std::string text;
    LPARAM data = 0;
    bool expanded = false;
    std::vector<HTREEITEM> children;
};

struct ListViewColumn {
    std::string header;
    int widthPx = 0;
};

struct ListViewRow {
    std::vector<std::string> cells; // cell 0 is the item text
    int image = -1;
    LPARAM data = 0;
};

struct Control {
    Handle handle = 0;
    Handle dialog = 0;
    int id = 0;
    int kind = 0;
    std::string text;
    short x = 0, y = 0, cx = 0, cy = 0;
    DWORD style = 0;
    int resource = 0;
    bool enabled = true;
    bool visible = true;
    UINT checked = BST_UNCHECKED;
    int limit = 0;
    // List box and combo box.
    std::vector<ListItem> items;
    int curSel = -1;
    // Tree view.
    std::map<HTREEITEM, TreeNode> nodes;
    std::vector<HTREEITEM> roots;
    HTREEITEM treeSel = 0;
    // List view.
    std::vector<ListViewColumn> columns;
    std::vector<int> images;
    std::vector<ListViewRow> rows;
    int rowSel = -1;
};

enum class WindowKind { Dialog, MessageBox, OpenFile, Editor };

struct OpenFileState {
    OvOpenFileName* ofn = nullptr;
    std::string dir;
    struct Entry {
        std::string name;
        bool isDir = false;
    };
    std::vector<Entry> entries;
    std::string error;
};

struct EditorState {
    std::string file; // absolute
    std::string saved;
    std::string error;
};

struct Window {
    Handle handle = 0;
    bool destroying = false;
    bool shownExplicitly = false;
    WindowKind kind = WindowKind::Dialog;
    int templateId = 0;
    std::string title;
    short cx = 0, cy = 0;
    DWORD style = 0;
    Handle owner = 0;
    DLGPROC proc = nullptr;
    LPARAM userData = 0;
    bool visible = false;
    bool minimized = false;
    bool enabled = true;
    bool initialised = false;
    bool modal = false;
    bool ended = false;
    INT_PTR result = 0;
    uint64_t z = 0;
    Handle menu = 0;
    int focusId = 0;
    std::vector<std::unique_ptr<Control>> controls;
    UINT mbType = 0;
    OpenFileState openFile;
    EditorState editor;
};

struct MenuItem {
    std::string text;
    UINT id = 0;
    UINT flags = 0; // MF_GRAYED, MF_DISABLED, MF_CHECKED, MF_SEPARATOR, MF_POPUP
    Handle popup = 0;
};

struct Menu {
    Handle handle = 0;
    Handle window = 0; // the window whose bar this is (bars only)
    std::vector<MenuItem> items;
};

struct Tray {
    bool present = false;
    Handle window = 0;
    UINT id = 0;
    UINT callbackMessage = 0;
    int level = 0;
    std::string tip;
};

struct State {
    std::map<Handle, std::unique_ptr<Window>> windows;
    std::map<Handle, Control*> controls;
    std::map<Handle, std::unique_ptr<Menu>> menus;
    std::vector<Handle> modalStack;
    Tray tray;
    Handle nextHandle = 0x100;
    HTREEITEM nextTreeItem = 0x10000;
    uint64_t nextZ = 1;
    Handle foreground = 0;
    std::map<std::string, UINT> registered;
};

// Everything here is called with gLock held.
State& state();
Handle newHandle();
Window* findWindow(HWND wnd);
Control* findControl(HWND ctl);
Control* findItem(HWND dlg, int id);
Window* windowOf(const Control& c);
Menu* findMenu(HMENU m);
inline HWND toHwnd(Handle h) {
    return reinterpret_cast<HWND>(h);
}
inline Handle fromHwnd(HWND h) {
    return reinterpret_cast<Handle>(h);
}
inline HMENU toHmenu(Handle h) {
    return reinterpret_cast<HMENU>(h);
}
inline Handle fromHmenu(HMENU h) {
    return reinterpret_cast<Handle>(h);
}
void touch(); // the state changed: new version, waiters woken
bool onUiThread();
bool uiThreadExists();
bool acceptsInput(const Window& w);
void destroyMenuTree(Handle menu);
Handle buildMenu(const OvMenuTemplate* items, int count, Handle window);
std::string copyOut(const std::string& text, char* buf, int max, int* copied);
std::string applyCase(const Control& c, const std::string& text);
bool equalsNoCase(const std::string& a, const std::string& b);
int compareNoCase(const std::string& a, const std::string& b);

// Messages. Called without gLock held.
LRESULT sendNow(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);
// Sends on the UI thread when that is safe, otherwise posts. Copies a notification record.
void notify(HWND dlg, UINT msg, WPARAM wParam, LPARAM lParam);
void notifyTree(HWND dlg, const Control& c, UINT code, UINT action, OvTreeItem oldItem,
                OvTreeItem newItem);
void notifyListView(HWND dlg, const Control& c, UINT code, int row, UINT newState, UINT oldState,
                    LPARAM data);
void sendCommand(HWND dlg, int id, int code, Handle control);

// The loop.
bool postTask(std::function<void()> task);
// Runs the loop until done() holds (empty: until nothing is ready); timeoutMs < 0 waits for
// ever; sliceMs bounds each wait so that a condition on outside events is seen.
bool pumpUntil(const std::function<bool()>& done, int timeoutMs, int sliceMs = -1);
void resetLoopForTests();
void wakeLoop();
void ensureQueue();
void dropWindowHooks(Handle wnd); // timers and watches of a destroyed window

// Windows.
HWND createWindow(const OvDialogTemplate* tpl, HWND owner, DLGPROC proc, LPARAM initParam,
                  WindowKind kind, bool modal);
INT_PTR runModal(HWND wnd);
INT_PTR modalFromTemplate(const OvDialogTemplate* tpl, HWND owner, DLGPROC proc, LPARAM init,
                          WindowKind kind);
void destroyNow(Handle wnd);
void startModeless(HWND wnd, LPARAM initParam);
bool treeSelect(HWND dlg, int id, HTREEITEM item, UINT action);
bool listViewSelect(HWND dlg, int id, int row);
bool menuCommandEnabled(Handle menu, UINT id, int depth = 0);
int firstFocusable(const Window& w);

// Built-in windows.
constexpr int kOpenFileName = 1103;
constexpr int kEditorText = 1200;
constexpr int kEditorSave = 1201;
bool openFileBrowseTo(HWND dlg, const std::string& where);

// Observer calls (driver).
void reportMessageBox(HWND wnd, const std::string& caption, const std::string& text);
void observeIfChanged();
void countIgnored();

} // namespace ovui
