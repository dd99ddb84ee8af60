// Input from the console and tests, turned on the UI thread into the messages a window system
// sends; and the headless loop driver.
#include "ovui_driver.h"
#include "ui_state.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

using namespace ovui;

namespace {

std::atomic<uint64_t> gIgnored{0};

bool isButton(int kind) {
    return kind == OV_BUTTON || kind == OV_DEFBUTTON;
}

bool queueInput(std::function<bool()> action) {
    return postTask([action = std::move(action)] {
        if (!action()) countIgnored();
    });
}

// Under gLock: the window if it takes input now.
Window* inputWindow(HWND wnd) {
    Window* w = findWindow(wnd);
    return (w && acceptsInput(*w) && !w->minimized) ? w : nullptr;
}

Control* inputControl(HWND wnd, int id) {
    if (!inputWindow(wnd)) return nullptr;
    Control* c = findItem(wnd, id);
    return (c && c->enabled && c->visible) ? c : nullptr;
}

bool focusable(int kind) {
    return kind != OV_STATIC && kind != OV_GROUPBOX && kind != OV_BITMAP && kind != OV_ICON;
}

// What typing leaves in an edit or combo box.
std::string filterTyped(const Control& c, const std::string& typed) {
    std::string text = typed;
    if (!(c.style & OV_MULTILINE) || c.kind != OV_EDIT) {
        size_t eol = text.find_first_of("\r\n");
        if (eol != std::string::npos) text.resize(eol);
    }
    if (c.style & OV_NUMBER) std::erase_if(text, [](char ch) { return ch < '0' || ch > '9'; });
    text = applyCase(c, text);
    if (c.limit > 0 && int(text.size()) > c.limit) text.resize(size_t(c.limit));
    return text;
}

bool typeInto(HWND wnd, int id, const std::string& typed, int wantKind) {
    Handle ctl;
    int kind;
    bool changed;
    {
        Guard g;
        Control* c = inputControl(wnd, id);
        if (!c || c->kind != wantKind || (c->style & OV_READONLY)) return false;
        std::string text = filterTyped(*c, typed);
        changed = text != c->text;
        c->text = text;
        if (c->kind == OV_COMBOBOX) c->curSel = -1;
        findWindow(wnd)->focusId = id;
        ctl = c->handle;
        kind = c->kind;
        touch();
    }
    if (changed) sendCommand(wnd, id, kind == OV_EDIT ? EN_CHANGE : CBN_EDITCHANGE, ctl);
    return true;
}

bool selectListItem(HWND wnd, int id, int index, bool doubleClick) {
    Handle ctl;
    bool changed, notifies;
    {
        Guard g;
        Control* c = inputControl(wnd, id);
        if (!c || c->kind != OV_LISTBOX || index < 0 || index >= int(c->items.size())) return false;
        changed = c->curSel != index;
        c->curSel = index;
        findWindow(wnd)->focusId = id;
        notifies = (c->style & OV_NOTIFY) != 0;
        ctl = c->handle;
        touch();
    }
    if (notifies && changed) sendCommand(wnd, id, LBN_SELCHANGE, ctl);
    if (notifies && doubleClick) sendCommand(wnd, id, LBN_DBLCLK, ctl);
    return true;
}

bool selectComboItem(HWND wnd, int id, int index) {
    Handle ctl;
    {
        Guard g;
        Control* c = inputControl(wnd, id);
        if (!c || c->kind != OV_COMBOBOX || index < 0 || index >= int(c->items.size()))
            return false;
        c->curSel = index;
        c->text = c->items[size_t(index)].text;
        findWindow(wnd)->focusId = id;
        ctl = c->handle;
        touch();
    }
    sendCommand(wnd, id, CBN_SELCHANGE, ctl);
    return true;
}

bool selectTreeItem(HWND wnd, int id, HTREEITEM item) {
    {
        Guard g;
        Control* c = inputControl(wnd, id);
        if (!c || c->kind != OV_TREEVIEW || !c->nodes.count(item)) return false;
        findWindow(wnd)->focusId = id;
    }
    return treeSelect(wnd, id, item, TVC_BYMOUSE);
}

bool selectRow(HWND wnd, int id, int row) {
    {
        Guard g;
        Control* c = inputControl(wnd, id);
        if (!c || c->kind != OV_LISTVIEW || row < 0 || row >= int(c->rows.size())) return false;
        findWindow(wnd)->focusId = id;
    }
    return listViewSelect(wnd, id, row);
}

void sendDoubleClickNotify(HWND wnd, int id, Handle ctl, int row, LPARAM data) {
    NMLISTVIEW nm{};
    nm.hdr.hwndFrom = toHwnd(ctl);
    nm.hdr.idFrom = UINT_PTR(id);
    nm.hdr.code = NM_DBLCLK;
    nm.iItem = row;
    nm.lParam = data;
    sendNow(wnd, WM_NOTIFY, WPARAM(id), reinterpret_cast<LPARAM>(&nm));
}

bool doubleClick(HWND wnd, int id, intptr_t which) {
    int kind;
    Handle ctl;
    {
        Guard g;
        Control* c = inputControl(wnd, id);
        if (!c) return false;
        kind = c->kind;
        ctl = c->handle;
    }
    if (kind == OV_LISTBOX) return selectListItem(wnd, id, int(which), true);
    if (kind == OV_LISTVIEW) {
        if (!selectRow(wnd, id, int(which))) return false;
        sendDoubleClickNotify(wnd, id, ctl, int(which), ovListViewGetItemData(wnd, id, int(which)));
        return true;
    }
    if (kind == OV_TREEVIEW) {
        if (!selectTreeItem(wnd, id, HTREEITEM(which))) return false;
        sendDoubleClickNotify(wnd, id, ctl, -1, 0);
        return true;
    }
    return false;
}

bool click(HWND wnd, int id) {
    Handle ctl;
    int kind;
    DWORD style;
    {
        Guard g;
        Control* c = inputControl(wnd, id);
        if (!c) return false;
        kind = c->kind;
        style = c->style;
        ctl = c->handle;
        if (kind == OV_CHECKBOX) c->checked = c->checked ? BST_UNCHECKED : BST_CHECKED;
        if (focusable(kind)) findWindow(wnd)->focusId = id;
        touch();
    }
    if (isButton(kind) || kind == OV_CHECKBOX)
        sendCommand(wnd, id, BN_CLICKED, ctl);
    else if (!focusable(kind) && (style & OV_NOTIFY))
        sendCommand(wnd, id, 0, ctl); // a notifying static reports clicks
    return true;
}

bool pressKey(HWND wnd, const std::string& key) {
    int id = 0;
    Handle ctl = 0;
    {
        Guard g;
        Window* w = inputWindow(wnd);
        if (!w) return false;
        if (key == "tab") {
            std::vector<int> ids;
            for (auto& c : w->controls)
                if (c->enabled && c->visible && c->id != OV_NOID && focusable(c->kind))
                    ids.push_back(c->id);
            if (ids.empty()) return false;
            auto it = std::find(ids.begin(), ids.end(), w->focusId);
            w->focusId = (it == ids.end() || it + 1 == ids.end()) ? ids.front() : *(it + 1);
            touch();
            return true;
        }
        if (key == "enter") {
            Control* focused = findItem(wnd, w->focusId);
            Control* target = nullptr;
            if (focused && isButton(focused->kind))
                target = focused;
            else
                for (auto& c : w->controls)
                    if (c->kind == OV_DEFBUTTON) {
                        target = c.get();
                        break;
                    }
            if (!target) target = findItem(wnd, IDOK);
            id = target ? target->id : IDOK;
            if (target && (!target->enabled || !target->visible)) return false;
            ctl = target ? target->handle : 0;
        } else if (key == "escape") {
            Control* cancel = findItem(wnd, IDCANCEL);
            if (cancel && (!cancel->enabled || !cancel->visible)) return false;
            id = IDCANCEL;
            ctl = cancel ? cancel->handle : 0;
        } else {
            return false;
        }
    }
    sendCommand(wnd, id, BN_CLICKED, ctl);
    return true;
}

bool sysCommand(HWND wnd, UINT cmd) {
    {
        Guard g;
        Window* w = findWindow(wnd);
        if (!w || !acceptsInput(*w)) return false;
        if (cmd == SC_CLOSE && !(w->style & OV_DS_SYSMENU)) return false;
        if (cmd == SC_MINIMIZE && (!(w->style & OV_DS_MINIMIZEBOX) || w->minimized)) return false;
        if (cmd == SC_RESTORE && !w->minimized) return false;
    }
    sendNow(wnd, WM_SYSCOMMAND, cmd, 0);
    return true;
}

bool ofKind(HWND wnd, WindowKind kind) {
    Guard g;
    Window* w = inputWindow(wnd);
    return w && w->kind == kind;
}

bool trayMouse(LPARAM event) {
    Handle wnd;
    UINT msg, id;
    {
        Guard g;
        const Tray& t = state().tray;
        if (!t.present || !t.callbackMessage || !findWindow(toHwnd(t.window))) return false;
        wnd = t.window;
        msg = t.callbackMessage;
        id = t.id;
    }
    sendNow(toHwnd(wnd), msg, id, event);
    return true;
}

} // namespace

namespace ovui {
void countIgnored() {
    gIgnored.fetch_add(1);
}
} // namespace ovui

bool ovuiClick(HWND w, int id) {
    return queueInput([=] { return click(w, id); });
}
bool ovuiDoubleClick(HWND w, int id, intptr_t which) {
    return queueInput([=] { return doubleClick(w, id, which); });
}
bool ovuiTypeText(HWND w, int id, const std::string& text) {
    return queueInput([=] { return typeInto(w, id, text, OV_EDIT); });
}
bool ovuiSelect(HWND w, int id, int index) {
    return queueInput([=] {
        int kind = 0;
        {
            Guard g;
            Control* c = findItem(w, id);
            kind = c ? c->kind : 0;
        }
        if (kind == OV_COMBOBOX) return selectComboItem(w, id, index);
        if (kind == OV_LISTVIEW) return selectRow(w, id, index);
        return selectListItem(w, id, index, false);
    });
}
bool ovuiTreeSelect(HWND w, int id, HTREEITEM item) {
    return queueInput([=] { return selectTreeItem(w, id, item); });
}
bool ovuiTreeExpand(HWND w, int id, HTREEITEM item, bool expand) {
    return queueInput([=] {
        {
            Guard g;
            Control* c = inputControl(w, id);
            if (!c || c->kind != OV_TREEVIEW) return false;
        }
        return ovTreeExpand(w, id, item, expand) != FALSE;
    });
}
bool ovuiListViewSelect(HWND w, int id, int row) {
    return queueInput([=] { return selectRow(w, id, row); });
}
bool ovuiComboSelect(HWND w, int id, int index) {
    return queueInput([=] { return selectComboItem(w, id, index); });
}
bool ovuiComboType(HWND w, int id, const std::string& text) {
    return queueInput([=] { return typeInto(w, id, text, OV_COMBOBOX); });
}
bool ovuiMenuCommand(HWND w, UINT commandId) {
    return queueInput([=] {
        {
            Guard g;
            Window* win = inputWindow(w);
            if (!win || !win->menu || !menuCommandEnabled(win->menu, commandId)) return false;
        }
        sendNow(w, WM_COMMAND, MAKEWPARAM(commandId, 0), 0);
        return true;
    });
}
bool ovuiKey(HWND w, const std::string& key) {
    return queueInput([=] { return pressKey(w, key); });
}
bool ovuiCloseBox(HWND w) {
    return queueInput([=] { return sysCommand(w, SC_CLOSE); });
}
bool ovuiMinimize(HWND w) {
    return queueInput([=] { return sysCommand(w, SC_MINIMIZE); });
}
bool ovuiRestore(HWND w) {
    return queueInput([=] { return sysCommand(w, SC_RESTORE); });
}
bool ovuiTrayClick() {
    return queueInput([] { return trayMouse(WM_LBUTTONUP); });
}
bool ovuiTrayDoubleClick() {
    return queueInput([] { return trayMouse(WM_LBUTTONDBLCLK); });
}
bool ovuiPageOpened() {
    return queueInput([] {
        UINT msg = ovRegisterWindowMessage("TaskbarCreated");
        std::vector<Handle> topLevel;
        {
            Guard g;
            for (auto& [h, w] : state().windows)
                if (!w->destroying && w->owner == 0) topLevel.push_back(h);
        }
        for (Handle h : topLevel)
            sendNow(toHwnd(h), msg, 0, 0);
        return true;
    });
}
bool ovuiMessageBoxAnswer(HWND box, int result) {
    return queueInput([=] {
        Handle ctl;
        {
            Guard g;
            Window* w = inputWindow(box);
            Control* c = inputControl(box, result);
            if (!w || w->kind != WindowKind::MessageBox || !c || !isButton(c->kind)) return false;
            ctl = c->handle;
        }
        sendCommand(box, result, BN_CLICKED, ctl);
        return true;
    });
}
bool ovuiOpenFileBrowse(HWND w, const std::string& dir) {
    return queueInput([=] { return ofKind(w, WindowKind::OpenFile) && openFileBrowseTo(w, dir); });
}
bool ovuiOpenFileChoose(HWND w, const std::string& name) {
    return queueInput([=] {
        if (!ofKind(w, WindowKind::OpenFile)) return false;
        ovSetDlgItemText(w, kOpenFileName, name.c_str());
        sendCommand(w, IDOK, BN_CLICKED, fromHwnd(ovGetDlgItem(w, IDOK)));
        return true;
    });
}
bool ovuiOpenFileCancel(HWND w) {
    return queueInput([=] {
        if (!ofKind(w, WindowKind::OpenFile)) return false;
        sendCommand(w, IDCANCEL, BN_CLICKED, fromHwnd(ovGetDlgItem(w, IDCANCEL)));
        return true;
    });
}
bool ovuiEditorSave(HWND w, const std::string& text) {
    return queueInput([=] {
        if (!ofKind(w, WindowKind::Editor)) return false;
        ovSetDlgItemText(w, kEditorText, text.c_str());
        sendCommand(w, kEditorSave, BN_CLICKED, fromHwnd(ovGetDlgItem(w, kEditorSave)));
        return true;
    });
}
bool ovuiEditorText(HWND w, const std::string& text) {
    return queueInput([=] {
        if (!ofKind(w, WindowKind::Editor)) return false;
        ovSetDlgItemText(w, kEditorText, text.c_str());
        return true;
    });
}
bool ovuiEditorClose(HWND w) {
    return queueInput([=] {
        if (!ofKind(w, WindowKind::Editor)) return false;
        sendCommand(w, IDCANCEL, BN_CLICKED, fromHwnd(ovGetDlgItem(w, IDCANCEL)));
        return true;
    });
}
uint64_t ovuiIgnoredInputCount() {
    return gIgnored.load();
}

void ovuiPumpUntilIdle() {
    if (onUiThread()) pumpUntil({}, 0);
}

bool ovuiPumpUntil(const std::function<bool()>& cond, int timeoutMs) {
    if (!onUiThread()) return ovuiWaitFor(cond, timeoutMs);
    return pumpUntil(cond, timeoutMs, 10);
}

bool ovuiWaitFor(const std::function<bool()>& cond, int timeoutMs) {
    if (onUiThread()) return pumpUntil(cond, timeoutMs, 10);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        uint64_t seen = ovuiStateVersion();
        if (cond()) return true;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        deadline - std::chrono::steady_clock::now())
                        .count();
        if (left <= 0) return cond();
        // Changes wake us; a condition on outside state is looked at every few milliseconds.
        ovuiWaitForChange(seen, int(std::min<long long>(left, 10)));
    }
}

HWND ovuiFindWindowByTemplate(int templateId) {
    Guard g;
    const Window* best = nullptr;
    for (auto& [h, w] : state().windows)
        if (!w->destroying && w->templateId == templateId && (!best || w->z > best->z))
            best = w.get();
    return best ? toHwnd(best->handle) : nullptr;
}

HWND ovuiTopModal() {
    Guard g;
    auto& stack = state().modalStack;
    for (auto it = stack.rbegin(); it != stack.rend(); ++it)
        if (findWindow(toHwnd(*it))) return toHwnd(*it);
    return nullptr;
}

int ovuiModalDepth() {
    Guard g;
    return int(state().modalStack.size());
}

void ovuiResetForTests() {
    std::vector<Handle> all;
    {
        Guard g;
        for (auto& [h, w] : state().windows)
            if (!w->destroying && w->owner == 0) all.push_back(h);
    }
    if (onUiThread())
        for (Handle h : all)
            destroyNow(h);
    Guard g;
    state().tray = Tray{};
    resetLoopForTests();
    touch();
}
