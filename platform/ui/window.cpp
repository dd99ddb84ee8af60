// Windows: creation from templates, message delivery with the desktop's default dialog
// handling, modal loops and destruction.
#include "ui_state.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <functional>

namespace ovui {

State& state() {
    static State s;
    return s;
}

Handle newHandle() {
    return state().nextHandle += 4;
}

Window* findWindow(HWND wnd) {
    auto it = state().windows.find(fromHwnd(wnd));
    return it == state().windows.end() || it->second->destroying ? nullptr : it->second.get();
}

Control* findControl(HWND ctl) {
    auto it = state().controls.find(fromHwnd(ctl));
    return it == state().controls.end() ? nullptr : it->second;
}

Window* windowOf(const Control& c) {
    return findWindow(toHwnd(c.dialog));
}

Control* findItem(HWND dlg, int id) {
    Window* w = findWindow(dlg);
    if (!w || id == OV_NOID) return nullptr;
    for (auto& c : w->controls)
        if (c->id == id) return c.get();
    return nullptr;
}

int firstFocusable(const Window& w) {
    auto focusable = [](const Control& c) {
        return c.enabled && c.visible && c.id != OV_NOID && c.kind != OV_STATIC &&
               c.kind != OV_GROUPBOX && c.kind != OV_BITMAP && c.kind != OV_ICON;
    };
    for (auto& c : w.controls)
        if ((c->style & OV_TABSTOP) && focusable(*c)) return c->id;
    for (auto& c : w.controls)
        if (focusable(*c)) return c->id;
    return 0;
}

bool acceptsInput(const Window& w) {
    if (!w.visible || !w.enabled || w.destroying) return false;
    // A window that owns, directly or further up, a running modal dialog is under it.
    for (Handle m : state().modalStack) {
        Window* mw = findWindow(toHwnd(m));
        for (int depth = 0; mw && depth < 64; ++depth) {
            if (mw->owner == w.handle) return false;
            mw = findWindow(toHwnd(mw->owner));
        }
    }
    return true;
}

static std::string normaliseText(const char* text) {
    return text ? std::string(text) : "";
}

HWND createWindow(const OvDialogTemplate* tpl, HWND owner, DLGPROC proc, LPARAM initParam,
                  WindowKind kind, bool modal) {
    (void)initParam;
    if (!tpl || tpl->controlCount < 0 || (tpl->controlCount > 0 && !tpl->controls) ||
        tpl->menuCount < 0 || (tpl->menuCount > 0 && !tpl->menu))
        return nullptr;
    Guard g;
    Handle ownerHandle = 0;
    if (owner) {
        if (Window* ow = findWindow(owner))
            ownerHandle = ow->handle;
        else if (Control* oc = findControl(owner))
            ownerHandle = oc->dialog;
        else
            return nullptr;
    }
    auto w = std::make_unique<Window>();
    w->handle = newHandle();
    w->kind = kind;
    w->templateId = tpl->id;
    w->title = normaliseText(tpl->title);
    w->cx = tpl->cx;
    w->cy = tpl->cy;
    w->style = tpl->style;
    w->owner = ownerHandle;
    w->proc = proc;
    w->modal = modal;
    w->z = state().nextZ++;
    for (int i = 0; i < tpl->controlCount; ++i) {
        const OvControlTemplate& t = tpl->controls[i];
        auto c = std::make_unique<Control>();
        c->handle = newHandle();
        c->dialog = w->handle;
        c->id = (t.id == 0xFFFF || t.id < 0) ? OV_NOID : t.id;
        c->kind = (t.kind >= OV_STATIC && t.kind <= OV_ICON) ? t.kind : OV_STATIC;
        c->x = t.x;
        c->y = t.y;
        c->cx = t.cx;
        c->cy = t.cy;
        c->style = t.style;
        c->resource = t.resource;
        c->enabled = !(t.style & OV_DISABLED);
        c->visible = !(t.style & OV_HIDDEN);
        c->text = applyCase(*c, normaliseText(t.text));
        state().controls[c->handle] = c.get();
        w->controls.push_back(std::move(c));
    }
    if (tpl->menuCount > 0) w->menu = buildMenu(tpl->menu, tpl->menuCount, w->handle);
    Handle h = w->handle;
    state().windows[h] = std::move(w);
    touch();
    return toHwnd(h);
}

// WM_INITDIALOG, default focus, then showing the window unless the procedure decided.
static void initialise(HWND wnd, LPARAM initParam) {
    INT_PTR r = sendNow(wnd, WM_INITDIALOG, 0, initParam);
    Guard g;
    Window* w = findWindow(wnd);
    if (!w) return;
    w->initialised = true;
    if (r && (w->focusId == 0)) w->focusId = firstFocusable(*w);
    if (!w->shownExplicitly && !(w->style & OV_DS_HIDDEN)) {
        w->visible = true;
        w->z = state().nextZ++;
        state().foreground = w->handle;
    }
    touch();
}

// A new modeless window's WM_INITDIALOG runs on the UI thread: now, or next in its loop.
void startModeless(HWND wnd, LPARAM initParam) {
    if (onUiThread() && !lockHeldHere())
        initialise(wnd, initParam);
    else
        postTask([wnd, initParam] { initialise(wnd, initParam); });
}

void destroyNow(Handle h) {
    std::vector<Handle> owned;
    {
        Guard g;
        Window* w = findWindow(toHwnd(h));
        if (!w) return;
        for (auto& [handle, other] : state().windows)
            if (other->owner == h && !other->destroying) owned.push_back(handle);
    }
    for (Handle o : owned)
        destroyNow(o);
    sendNow(toHwnd(h), WM_DESTROY, 0, 0);
    Guard g;
    auto it = state().windows.find(h);
    if (it == state().windows.end() || it->second->destroying) return;
    Window& w = *it->second;
    w.destroying = true;
    for (auto& c : w.controls)
        state().controls.erase(c->handle);
    if (w.menu) destroyMenuTree(w.menu);
    dropWindowHooks(h);
    if (state().tray.present && state().tray.window == h) state().tray = Tray{};
    if (state().foreground == h) state().foreground = 0;
    if (std::find(state().modalStack.begin(), state().modalStack.end(), h) ==
        state().modalStack.end())
        state().windows.erase(it); // a running modal loop erases it when it ends
    touch();
    wakeLoop();
}

INT_PTR runModal(HWND wnd) {
    Handle h = fromHwnd(wnd);
    Handle owner = 0;
    bool ownerWasEnabled = false;
    {
        Guard g;
        Window* w = findWindow(wnd);
        if (!w) return -1;
        state().modalStack.push_back(h);
        owner = w->owner;
        if (Window* ow = findWindow(toHwnd(owner))) {
            ownerWasEnabled = ow->enabled;
            ow->enabled = false;
        }
        touch();
    }
    pumpUntil(
        [h] {
            Guard g;
            auto it = state().windows.find(h);
            return it == state().windows.end() || it->second->ended || it->second->destroying;
        },
        -1);
    INT_PTR result = 0;
    {
        Guard g;
        std::erase(state().modalStack, h);
        if (Window* ow = findWindow(toHwnd(owner)); ow && ownerWasEnabled) ow->enabled = true;
        auto it = state().windows.find(h);
        if (it != state().windows.end()) {
            result = it->second->result;
            if (it->second->destroying) state().windows.erase(it);
        }
        touch();
    }
    destroyNow(h);
    Guard g;
    if (Window* ow = findWindow(toHwnd(owner)); ow && ow->visible) state().foreground = owner;
    return result;
}

// Runs fn on the UI thread and waits for it; used by blocking calls made from other threads.
template <typename T> static T runOnUiAndWait(std::function<T()> fn) {
    struct Shared {
        std::mutex m;
        std::condition_variable cv;
        bool done = false;
        T value{};
    };
    auto shared = std::make_shared<Shared>();
    postTask([shared, fn] {
        T v = fn();
        std::lock_guard lk(shared->m);
        shared->value = v;
        shared->done = true;
        shared->cv.notify_all();
    });
    std::unique_lock lk(shared->m);
    shared->cv.wait(lk, [&] { return shared->done; });
    return shared->value;
}

INT_PTR modalFromTemplate(const OvDialogTemplate* tpl, HWND owner, DLGPROC proc, LPARAM init,
                          WindowKind kind) {
    if (!onUiThread()) ovInitialize(); // with no UI thread yet, the caller becomes it
    if (!onUiThread()) {
        // The caller waits; the dialog runs on the UI thread. The template must outlive it.
        return runOnUiAndWait<INT_PTR>(
            [=] { return modalFromTemplate(tpl, owner, proc, init, kind); });
    }
    HWND wnd = createWindow(tpl, owner, proc, init, kind, true);
    if (!wnd) return -1;
    initialise(wnd, init);
    return runModal(wnd);
}

static bool mayCallProcedure() {
    return onUiThread() && !lockHeldHere();
}

static LRESULT defaultHandling(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_CLOSE: {
        Handle cancel = 0;
        {
            Guard g;
            if (Control* c = findItem(wnd, IDCANCEL)) cancel = c->handle;
        }
        sendCommand(wnd, IDCANCEL, BN_CLICKED, cancel);
        return 0;
    }
    case WM_SYSCOMMAND: {
        UINT cmd = UINT(wParam & 0xFFF0);
        if (cmd == SC_CLOSE) return sendNow(wnd, WM_CLOSE, 0, 0);
        Guard g;
        Window* w = findWindow(wnd);
        if (!w) return 0;
        if (cmd == SC_MINIMIZE) w->minimized = true;
        if (cmd == SC_RESTORE) {
            w->minimized = false;
            w->visible = true;
        }
        touch();
        return 0;
    }
    case WM_SETTEXT:
        return ovSetWindowText(wnd, reinterpret_cast<const char*>(lParam));
    case WM_GETTEXT:
        return ovGetWindowText(wnd, reinterpret_cast<char*>(lParam), int(wParam));
    default:
        return 0;
    }
}

LRESULT sendNow(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (!mayCallProcedure()) {
        if (onUiThread()) {
            // Called with the runtime lock held: deliver it right after instead.
            Handle h = fromHwnd(wnd);
            postTask([=] { sendNow(toHwnd(h), msg, wParam, lParam); });
            return 0;
        }
        if (!uiThreadExists()) return 0; // nobody could deliver it
        return runOnUiAndWait<LRESULT>([=] { return sendNow(wnd, msg, wParam, lParam); });
    }
    DLGPROC proc = nullptr;
    {
        Guard g;
        Window* w = findWindow(wnd);
        if (!w) {
            if (!findControl(wnd)) return 0;
            if (msg == WM_SETTEXT || msg == WM_GETTEXT)
                return defaultHandling(wnd, msg, wParam, lParam);
            return 0;
        }
        proc = w->proc;
    }
    INT_PTR r = proc ? proc(wnd, msg, wParam, lParam) : 0;
    if (r || msg == WM_INITDIALOG || msg == WM_DESTROY) return r;
    return defaultHandling(wnd, msg, wParam, lParam);
}

void sendCommand(HWND dlg, int id, int code, Handle control) {
    notify(dlg, WM_COMMAND, MAKEWPARAM(id, code), LPARAM(control));
}

void notify(HWND dlg, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (mayCallProcedure())
        sendNow(dlg, msg, wParam, lParam);
    else
        ovPostMessage(dlg, msg, wParam, lParam);
}

// Runs a notification now when the procedure may be called here, else later on the UI thread
// provided the dialog still exists then (its pointers into the structure stay on the stack).
static void deliverNotification(HWND dlg, const std::function<void()>& deliver) {
    if (mayCallProcedure()) {
        deliver();
        return;
    }
    postTask([=] {
        {
            Guard g;
            if (!findWindow(dlg)) return;
        }
        deliver();
    });
}

void notifyTree(HWND dlg, const Control& c, UINT code, UINT action, OvTreeItem oldItem,
                OvTreeItem newItem) {
    Handle ctl = c.handle;
    int id = c.id;
    auto deliver = [=] {
        NMTREEVIEW nm{};
        nm.hdr.hwndFrom = toHwnd(ctl);
        nm.hdr.idFrom = UINT_PTR(id);
        nm.hdr.code = code;
        nm.action = action;
        nm.itemOld = oldItem;
        nm.itemNew = newItem;
        sendNow(dlg, WM_NOTIFY, WPARAM(id), reinterpret_cast<LPARAM>(&nm));
    };
    deliverNotification(dlg, deliver);
}

void notifyListView(HWND dlg, const Control& c, UINT code, int row, UINT newState, UINT oldState,
                    LPARAM data) {
    Handle ctl = c.handle;
    int id = c.id;
    auto deliver = [=] {
        NMLISTVIEW nm{};
        nm.hdr.hwndFrom = toHwnd(ctl);
        nm.hdr.idFrom = UINT_PTR(id);
        nm.hdr.code = code;
        nm.iItem = row;
        nm.uNewState = newState;
        nm.uOldState = oldState;
        nm.lParam = data;
        sendNow(dlg, WM_NOTIFY, WPARAM(id), reinterpret_cast<LPARAM>(&nm));
    };
    deliverNotification(dlg, deliver);
}

} // namespace ovui

using namespace ovui;

extern "C" {

OVUI_API INT_PTR ovDialogBox(const OvDialogTemplate* tpl, HWND owner, DLGPROC proc,
                             LPARAM initParam) {
    return modalFromTemplate(tpl, owner, proc, initParam, WindowKind::Dialog);
}

OVUI_API HWND ovCreateDialog(const OvDialogTemplate* tpl, HWND owner, DLGPROC proc,
                             LPARAM initParam) {
    HWND wnd = createWindow(tpl, owner, proc, initParam, WindowKind::Dialog, false);
    if (!wnd) return nullptr;
    startModeless(wnd, initParam);
    return wnd;
}

OVUI_API BOOL ovEndDialog(HWND dlg, INT_PTR result) {
    Guard g;
    Window* w = findWindow(dlg);
    if (!w) return FALSE;
    if (!w->modal) {
        w->visible = false; // a modeless dialog is only hidden; its owner destroys it
        touch();
        return TRUE;
    }
    w->ended = true;
    w->result = result;
    touch();
    wakeLoop();
    return TRUE;
}

OVUI_API BOOL ovDestroyWindow(HWND wnd) {
    {
        Guard g;
        Window* w = findWindow(wnd);
        if (!w) return FALSE;
        if (!onUiThread()) {
            w->visible = false;
            touch();
            Handle h = w->handle;
            postTask([h] { destroyNow(h); });
            return TRUE;
        }
    }
    if (lockHeldHere()) {
        Handle h = fromHwnd(wnd);
        postTask([h] { destroyNow(h); });
        return TRUE;
    }
    destroyNow(fromHwnd(wnd));
    return TRUE;
}

OVUI_API BOOL ovIsWindow(HWND wnd) {
    Guard g;
    return (findWindow(wnd) || findControl(wnd)) ? TRUE : FALSE;
}

OVUI_API HWND ovGetParent(HWND wnd) {
    Guard g;
    if (Control* c = findControl(wnd)) return toHwnd(c->dialog);
    if (Window* w = findWindow(wnd)) return toHwnd(w->owner);
    return nullptr;
}

OVUI_API LRESULT ovSendMessage(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    return sendNow(wnd, msg, wParam, lParam);
}

OVUI_API UINT ovRegisterWindowMessage(const char* name) {
    if (!name || !*name) return 0;
    Guard g;
    auto& reg = state().registered;
    auto it = reg.find(name);
    if (it != reg.end()) return it->second;
    if (reg.size() >= 0x4000) return 0;
    UINT value = UINT(0xC000 + reg.size());
    reg[name] = value;
    return value;
}

OVUI_API BOOL ovShowWindow(HWND wnd, int cmd) {
    Guard g;
    if (Control* c = findControl(wnd)) {
        BOOL was = c->visible;
        c->visible = cmd != SW_HIDE;
        touch();
        return was;
    }
    Window* w = findWindow(wnd);
    if (!w) return FALSE;
    BOOL was = w->visible ? TRUE : FALSE;
    switch (cmd) {
    case SW_HIDE:
        w->visible = false;
        break;
    case SW_MINIMIZE:
        w->visible = true;
        w->minimized = true;
        break;
    default:
        w->visible = true;
        if (cmd == SW_SHOWNORMAL || cmd == SW_RESTORE) w->minimized = false;
        break;
    }
    if (!w->initialised) w->shownExplicitly = true;
    touch();
    return was;
}

OVUI_API BOOL ovSetForegroundWindow(HWND wnd) {
    Guard g;
    Window* w = findWindow(wnd);
    if (!w) return FALSE;
    w->z = state().nextZ++;
    state().foreground = w->handle;
    touch();
    return TRUE;
}

OVUI_API BOOL ovIsWindowVisible(HWND wnd) {
    Guard g;
    if (Control* c = findControl(wnd)) {
        Window* w = windowOf(*c);
        return (c->visible && w && w->visible) ? TRUE : FALSE;
    }
    Window* w = findWindow(wnd);
    return (w && w->visible) ? TRUE : FALSE;
}

OVUI_API BOOL ovIsIconic(HWND wnd) {
    Guard g;
    Window* w = findWindow(wnd);
    return (w && w->minimized) ? TRUE : FALSE;
}

OVUI_API BOOL ovEnableWindow(HWND wnd, BOOL enable) {
    Guard g;
    bool* flag = nullptr;
    if (Control* c = findControl(wnd))
        flag = &c->enabled;
    else if (Window* w = findWindow(wnd))
        flag = &w->enabled;
    if (!flag) return FALSE;
    BOOL wasDisabled = *flag ? FALSE : TRUE;
    *flag = enable != FALSE;
    touch();
    return wasDisabled;
}

OVUI_API BOOL ovIsWindowEnabled(HWND wnd) {
    Guard g;
    if (Control* c = findControl(wnd)) return c->enabled ? TRUE : FALSE;
    Window* w = findWindow(wnd);
    return (w && w->enabled) ? TRUE : FALSE;
}

OVUI_API HWND ovGetDlgItem(HWND dlg, int id) {
    Guard g;
    Control* c = findItem(dlg, id);
    return c ? toHwnd(c->handle) : nullptr;
}

OVUI_API int ovGetDlgCtrlID(HWND control) {
    Guard g;
    Control* c = findControl(control);
    return c ? c->id : 0;
}

OVUI_API BOOL ovSetWindowText(HWND wnd, const char* text) {
    Guard g;
    std::string t = text ? text : "";
    if (Control* c = findControl(wnd)) {
        c->text = applyCase(*c, t);
        touch();
        return TRUE;
    }
    Window* w = findWindow(wnd);
    if (!w) return FALSE;
    w->title = t;
    touch();
    return TRUE;
}

OVUI_API int ovGetWindowText(HWND wnd, char* buf, int max) {
    Guard g;
    int copied = 0;
    if (Control* c = findControl(wnd))
        copyOut(c->text, buf, max, &copied);
    else if (Window* w = findWindow(wnd))
        copyOut(w->title, buf, max, &copied);
    else
        copyOut("", buf, max, &copied);
    return copied;
}

OVUI_API HWND ovFindWindow(const char* title) {
    if (!title) return nullptr;
    Guard g;
    for (auto& [h, w] : state().windows)
        if (!w->destroying && w->owner == 0 && w->title == title) return toHwnd(h);
    return nullptr;
}

OVUI_API LPARAM ovSetWindowUserData(HWND wnd, LPARAM data) {
    Guard g;
    Window* w = findWindow(wnd);
    if (!w) return 0;
    LPARAM old = w->userData;
    w->userData = data;
    return old;
}

OVUI_API LPARAM ovGetWindowUserData(HWND wnd) {
    Guard g;
    Window* w = findWindow(wnd);
    return w ? w->userData : 0;
}

} // extern "C"
