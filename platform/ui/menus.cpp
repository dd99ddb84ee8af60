// Menus: a window's bar with pop-ups, built from templates and changed at run time.
#include "ui_state.h"

using namespace ovui;

namespace ovui {

Menu* findMenu(HMENU m) {
    auto it = state().menus.find(fromHmenu(m));
    return it == state().menus.end() ? nullptr : it->second.get();
}

static Handle newMenu(Handle window) {
    auto m = std::make_unique<Menu>();
    m->handle = newHandle();
    m->window = window;
    Handle h = m->handle;
    state().menus[h] = std::move(m);
    return h;
}

Handle buildMenu(const OvMenuTemplate* items, int count, Handle window) {
    Handle h = newMenu(window);
    for (int i = 0; i < count && items; ++i) {
        const OvMenuTemplate& t = items[i];
        MenuItem item;
        item.text = t.text ? t.text : "";
        item.id = t.id;
        item.flags = t.flags & (MF_GRAYED | MF_DISABLED | MF_CHECKED | MF_SEPARATOR);
        if (t.popup && t.popupCount > 0) {
            item.flags |= MF_POPUP;
            item.popup = buildMenu(t.popup, t.popupCount, 0);
        }
        state().menus[h]->items.push_back(std::move(item));
    }
    return h;
}

void destroyMenuTree(Handle menu) {
    auto it = state().menus.find(menu);
    if (it == state().menus.end()) return;
    std::vector<Handle> popups;
    for (auto& item : it->second->items)
        if (item.popup) popups.push_back(item.popup);
    state().menus.erase(it);
    for (Handle p : popups)
        destroyMenuTree(p);
}

// The item addressed by position or by command; by command also searches the pop-ups.
struct ItemRef {
    Menu* menu = nullptr;
    size_t index = 0;
    MenuItem* item() const { return menu ? &menu->items[index] : nullptr; }
};

static ItemRef locate(Menu* m, UINT item, UINT flags, int depth = 0) {
    if (!m || depth > 16) return {};
    if (flags & MF_BYPOSITION) {
        if (item >= m->items.size()) return {};
        return {m, item};
    }
    for (size_t i = 0; i < m->items.size(); ++i) {
        MenuItem& it = m->items[i];
        if (!(it.flags & (MF_POPUP | MF_SEPARATOR)) && it.id == item) return {m, i};
    }
    for (auto& it : m->items)
        if (it.popup)
            if (ItemRef r = locate(findMenu(toHmenu(it.popup)), item, flags, depth + 1); r.menu)
                return r;
    return {};
}

// A command item that input may choose: it exists, and neither it nor its pop-ups are grey.
bool menuCommandEnabled(Handle menu, UINT id, int depth) {
    Menu* m = findMenu(toHmenu(menu));
    if (!m || depth > 16) return false;
    for (auto& it : m->items) {
        if (it.flags & (MF_GRAYED | MF_DISABLED)) continue;
        if (it.popup) {
            if (menuCommandEnabled(it.popup, id, depth + 1)) return true;
        } else if (!(it.flags & MF_SEPARATOR) && it.id == id) {
            return true;
        }
    }
    return false;
}

} // namespace ovui

extern "C" {

OVUI_API HMENU ovGetMenu(HWND wnd) {
    Guard g;
    Window* w = findWindow(wnd);
    return w ? toHmenu(w->menu) : nullptr;
}

OVUI_API HMENU ovGetSubMenu(HMENU menu, int pos) {
    Guard g;
    Menu* m = findMenu(menu);
    if (!m || pos < 0 || pos >= int(m->items.size())) return nullptr;
    return toHmenu(m->items[size_t(pos)].popup);
}

OVUI_API int ovGetMenuItemCount(HMENU menu) {
    Guard g;
    Menu* m = findMenu(menu);
    return m ? int(m->items.size()) : -1;
}

OVUI_API int ovGetMenuString(HMENU menu, UINT item, char* buf, int max, UINT flags) {
    Guard g;
    if (buf && max > 0) buf[0] = '\0';
    ItemRef r = locate(findMenu(menu), item, flags);
    MenuItem* it = r.item();
    if (!it || (it->flags & MF_SEPARATOR)) return 0;
    if (!buf || max <= 0) return int(it->text.size());
    int copied = 0;
    copyOut(it->text, buf, max, &copied);
    return copied;
}

OVUI_API HMENU ovCreatePopupMenu(void) {
    Guard g;
    return toHmenu(newMenu(0));
}

OVUI_API BOOL ovAppendMenu(HMENU menu, UINT flags, UINT_PTR id, const char* text) {
    Guard g;
    Menu* m = findMenu(menu);
    if (!m) return FALSE;
    MenuItem item;
    item.flags = flags & (MF_GRAYED | MF_DISABLED | MF_CHECKED | MF_SEPARATOR | MF_POPUP);
    if (flags & MF_POPUP) {
        Menu* popup = findMenu(toHmenu(Handle(id)));
        if (!popup || popup == m) return FALSE;
        item.popup = popup->handle;
    } else {
        item.id = UINT(id);
    }
    if (!(flags & MF_SEPARATOR)) item.text = text ? text : "";
    m->items.push_back(std::move(item));
    touch();
    return TRUE;
}

OVUI_API BOOL ovDeleteMenu(HMENU menu, UINT item, UINT flags) {
    Guard g;
    ItemRef r = locate(findMenu(menu), item, flags);
    if (!r.menu) return FALSE;
    Handle popup = r.item()->popup;
    r.menu->items.erase(r.menu->items.begin() + long(r.index));
    if (popup) destroyMenuTree(popup);
    touch();
    return TRUE;
}

OVUI_API DWORD ovCheckMenuItem(HMENU menu, UINT item, UINT flags) {
    Guard g;
    MenuItem* it = locate(findMenu(menu), item, flags).item();
    if (!it) return DWORD(-1);
    DWORD previous = it->flags & MF_CHECKED;
    it->flags = (it->flags & ~UINT(MF_CHECKED)) | (flags & MF_CHECKED);
    touch();
    return previous;
}

OVUI_API BOOL ovEnableMenuItem(HMENU menu, UINT item, UINT flags) {
    Guard g;
    MenuItem* it = locate(findMenu(menu), item, flags).item();
    if (!it) return -1;
    BOOL previous = BOOL(it->flags & (MF_GRAYED | MF_DISABLED));
    it->flags = (it->flags & ~UINT(MF_GRAYED | MF_DISABLED)) | (flags & (MF_GRAYED | MF_DISABLED));
    touch();
    return previous;
}

OVUI_API UINT ovGetMenuState(HMENU menu, UINT item, UINT flags) {
    Guard g;
    MenuItem* it = locate(findMenu(menu), item, flags).item();
    return it ? it->flags : UINT(-1);
}

OVUI_API BOOL ovDrawMenuBar(HWND wnd) {
    Guard g;
    Window* w = findWindow(wnd);
    if (!w) return FALSE;
    touch();
    return TRUE;
}

} // extern "C"
