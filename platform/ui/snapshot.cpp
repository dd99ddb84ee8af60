// The state version, the observer, and the JSON snapshot of every window.
#include "ovui_driver.h"
#include "ui_state.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <nlohmann/json.hpp>

using nlohmann::json;
using namespace ovui;

namespace {

std::mutex gVersionMutex;
std::condition_variable gVersionChanged;
uint64_t gVersion = 1;

std::mutex gObserverMutex;
std::shared_ptr<std::function<void(const OvuiEvent&)>> gObserver;
std::atomic<uint64_t> gObservedVersion{0};

std::shared_ptr<std::function<void(const OvuiEvent&)>> observer() {
    std::lock_guard lk(gObserverMutex);
    return gObserver;
}

const char* kindName(int kind) {
    switch (kind) {
    case OV_GROUPBOX:
        return "groupbox";
    case OV_BUTTON:
        return "button";
    case OV_DEFBUTTON:
        return "defbutton";
    case OV_CHECKBOX:
        return "checkbox";
    case OV_EDIT:
        return "edit";
    case OV_LISTBOX:
        return "listbox";
    case OV_COMBOBOX:
        return "combobox";
    case OV_TREEVIEW:
        return "treeview";
    case OV_LISTVIEW:
        return "listview";
    case OV_BITMAP:
        return "bitmap";
    case OV_ICON:
        return "icon";
    default:
        return "static";
    }
}

json styleNames(DWORD style) {
    static const std::pair<DWORD, const char*> names[] = {{OV_DISABLED, "disabled"},
                                                          {OV_READONLY, "readonly"},
                                                          {OV_NUMBER, "number"},
                                                          {OV_UPPERCASE, "uppercase"},
                                                          {OV_LOWERCASE, "lowercase"},
                                                          {OV_PASSWORD, "password"},
                                                          {OV_SORT, "sort"},
                                                          {OV_NOTIFY, "notify"},
                                                          {OV_TABSTOP, "tabstop"},
                                                          {OV_HIDDEN, "hidden"},
                                                          {OV_HASBUTTONS, "hasbuttons"},
                                                          {OV_HASLINES, "haslines"},
                                                          {OV_LINESATROOT, "linesatroot"},
                                                          {OV_SINGLESEL, "singlesel"},
                                                          {OV_NOSORTHEADER, "nosortheader"},
                                                          {OV_MULTILINE, "multiline"},
                                                          {OV_CENTER, "center"},
                                                          {OV_RIGHT, "right"}};
    json out = json::array();
    for (auto& [bit, name] : names)
        if (style & bit) out.push_back(name);
    return out;
}

json listItems(const Control& c) {
    json items = json::array();
    for (size_t i = 0; i < c.items.size(); ++i)
        items.push_back({{"text", c.items[i].text},
                         {"data", c.items[i].data},
                         {"selected", int(i) == c.curSel}});
    return items;
}

json treeNodes(const Control& c, const std::vector<HTREEITEM>& level, int depth) {
    json out = json::array();
    if (depth > 64) return out;
    for (HTREEITEM item : level) {
        auto it = c.nodes.find(item);
        if (it == c.nodes.end()) continue;
        const TreeNode& n = it->second;
        out.push_back({{"item", item},
                       {"text", n.text},
                       {"data", n.data},
                       {"expanded", n.expanded},
                       {"selected", item == c.treeSel},
                       {"children", treeNodes(c, n.children, depth + 1)}});
    }
    return out;
}

json controlJson(const Window& w, const Control& c) {
    json j = {{"handle", c.handle},
              {"id", c.id},
              {"kind", kindName(c.kind)},
              {"text", (c.style & OV_PASSWORD) ? std::string() : c.text},
              {"x", c.x},
              {"y", c.y},
              {"cx", c.cx},
              {"cy", c.cy},
              {"styles", styleNames(c.style)},
              {"enabled", c.enabled},
              {"visible", c.visible},
              {"focused", c.id != OV_NOID && c.id == w.focusId}};
    switch (c.kind) {
    case OV_CHECKBOX:
        j["checked"] = c.checked != BST_UNCHECKED;
        break;
    case OV_EDIT:
        j["maxLength"] = c.limit;
        // A password box is write-only: not even its length leaves the program.
        if (c.style & OV_PASSWORD) j["filled"] = !c.text.empty();
        break;
    case OV_LISTBOX:
    case OV_COMBOBOX:
        j["items"] = listItems(c);
        j["selected"] = c.curSel;
        if (c.kind == OV_COMBOBOX) j["maxLength"] = c.limit;
        break;
    case OV_TREEVIEW:
        j["nodes"] = treeNodes(c, c.roots, 0);
        j["selected"] = c.treeSel;
        break;
    case OV_LISTVIEW: {
        json cols = json::array(), rows = json::array();
        for (auto& col : c.columns)
            cols.push_back({{"header", col.header}, {"width", col.widthPx}});
        for (size_t i = 0; i < c.rows.size(); ++i) {
            const ListViewRow& r = c.rows[i];
            json res = nullptr;
            if (r.image >= 0 && r.image < int(c.images.size())) res = c.images[size_t(r.image)];
            rows.push_back({{"cells", r.cells},
                            {"image", r.image},
                            {"imageResource", res},
                            {"selected", int(i) == c.rowSel}});
        }
        j["columns"] = cols;
        j["images"] = c.images;
        j["rows"] = rows;
        j["selected"] = c.rowSel;
        break;
    }
    case OV_BITMAP:
    case OV_ICON:
        j["resource"] = c.resource;
        break;
    default:
        break;
    }
    return j;
}

json menuJson(Handle menu, int depth) {
    json out = json::array();
    Menu* m = findMenu(toHmenu(menu));
    if (!m || depth > 16) return out;
    for (auto& it : m->items) {
        json item = {{"text", it.text},
                     {"id", it.id},
                     {"separator", (it.flags & MF_SEPARATOR) != 0},
                     {"checked", (it.flags & MF_CHECKED) != 0},
                     {"grayed", (it.flags & (MF_GRAYED | MF_DISABLED)) != 0}};
        if (it.popup) item["popup"] = menuJson(it.popup, depth + 1);
        out.push_back(item);
    }
    return out;
}

const char* iconName(UINT type) {
    switch (type & 0xF0) {
    case MB_ICONERROR:
        return "error";
    case MB_ICONQUESTION:
        return "question";
    case MB_ICONWARNING:
        return "warning";
    case MB_ICONINFORMATION:
        return "information";
    default:
        return "none";
    }
}

const char* windowKindName(WindowKind k) {
    switch (k) {
    case WindowKind::MessageBox:
        return "messagebox";
    case WindowKind::OpenFile:
        return "openfile";
    case WindowKind::Editor:
        return "editor";
    default:
        return "dialog";
    }
}

json windowJson(const Window& w) {
    const auto& stack = state().modalStack;
    auto pos = std::find(stack.begin(), stack.end(), w.handle);
    json j = {{"id", w.handle},
              {"kind", windowKindName(w.kind)},
              {"template", w.templateId},
              {"title", w.title},
              {"cx", w.cx},
              {"cy", w.cy},
              {"caption", (w.style & OV_DS_CAPTION) != 0},
              {"closeBox", (w.style & OV_DS_SYSMENU) != 0},
              {"minimizeBox", (w.style & OV_DS_MINIMIZEBOX) != 0},
              {"maximizeBox", (w.style & OV_DS_MAXIMIZEBOX) != 0},
              {"centered", (w.style & OV_DS_CENTER) != 0},
              {"modalFrame", (w.style & OV_DS_MODALFRAME) != 0},
              {"visible", w.visible},
              {"minimized", w.minimized},
              {"enabled", w.enabled},
              {"acceptsInput", acceptsInput(w)},
              {"modal", w.modal},
              {"modalOrder", pos == stack.end() ? 0 : int(pos - stack.begin()) + 1},
              {"owner", w.owner},
              {"z", w.z},
              {"focus", w.focusId},
              {"menu", w.menu ? menuJson(w.menu, 0) : json(nullptr)}};
    json controls = json::array();
    for (auto& c : w.controls)
        controls.push_back(controlJson(w, *c));
    j["controls"] = controls;
    if (w.kind == WindowKind::MessageBox) {
        json buttons = json::array();
        std::string text;
        for (auto& c : w.controls) {
            if (c->kind == OV_BUTTON || c->kind == OV_DEFBUTTON)
                buttons.push_back({{"id", c->id}, {"text", c->text}});
            if (c->kind == OV_STATIC) text = c->text;
        }
        j["messageBox"] = {{"text", text}, {"icon", iconName(w.mbType)}, {"buttons", buttons}};
    }
    if (w.kind == WindowKind::OpenFile) {
        json entries = json::array();
        for (auto& e : w.openFile.entries)
            entries.push_back({{"name", e.name}, {"dir", e.isDir}});
        const OvOpenFileName* ofn = w.openFile.ofn;
        j["openFile"] = {
            {"dir", w.openFile.dir},
            {"entries", entries},
            {"filterDescription", ofn && ofn->filterDescription ? ofn->filterDescription : ""},
            {"filterPattern", ofn && ofn->filterPattern ? ofn->filterPattern : ""},
            {"error", w.openFile.error}};
    }
    if (w.kind == WindowKind::Editor) {
        std::string text;
        for (auto& c : w.controls)
            if (c->kind == OV_EDIT) text = c->text;
        j["editor"] = {{"file", w.editor.file},
                       {"text", text},
                       {"dirty", text != w.editor.saved},
                       {"error", w.editor.error}};
    }
    return j;
}

} // namespace

namespace ovui {

void touch() {
    {
        std::lock_guard lk(gVersionMutex);
        ++gVersion;
    }
    gVersionChanged.notify_all();
    if (!onUiThread()) wakeLoop(); // a modal loop may be waiting for this change
}

void observeIfChanged() {
    auto obs = observer();
    if (!obs) return;
    uint64_t v = ovuiStateVersion();
    if (gObservedVersion.exchange(v) == v) return;
    OvuiEvent e;
    e.kind = OvuiEvent::Kind::StateChanged;
    e.version = v;
    (*obs)(e);
}

void reportMessageBox(HWND wnd, const std::string& caption, const std::string& text) {
    auto obs = observer();
    if (!obs) return;
    OvuiEvent e;
    e.kind = OvuiEvent::Kind::MessageBox;
    e.version = ovuiStateVersion();
    e.window = wnd;
    e.caption = caption;
    e.text = text;
    (*obs)(e);
}

} // namespace ovui

void ovuiSetObserver(std::function<void(const OvuiEvent&)> obs) {
    std::lock_guard lk(gObserverMutex);
    gObserver =
        obs ? std::make_shared<std::function<void(const OvuiEvent&)>>(std::move(obs)) : nullptr;
}

uint64_t ovuiStateVersion() {
    std::lock_guard lk(gVersionMutex);
    return gVersion;
}

bool ovuiWaitForChange(uint64_t since, int timeoutMs) {
    std::unique_lock lk(gVersionMutex);
    return gVersionChanged.wait_for(lk, std::chrono::milliseconds(std::max(0, timeoutMs)),
                                    [since] { return gVersion != since; });
}

std::string ovuiSnapshotJson() {
    Guard g;
    std::vector<const Window*> order;
    for (auto& [h, w] : state().windows)
        if (!w->destroying) order.push_back(w.get());
    std::sort(order.begin(), order.end(), [](auto a, auto b) { return a->z < b->z; });
    json windows = json::array();
    for (const Window* w : order)
        windows.push_back(windowJson(*w));
    const Tray& t = state().tray;
    json tray = {{"present", t.present}, {"window", t.window}, {"level", t.level}, {"tip", t.tip}};
    json out = {{"version", ovuiStateVersion()},
                {"foreground", state().foreground},
                {"windows", windows},
                {"tray", tray}};
    return out.dump(-1, ' ', false, json::error_handler_t::replace);
}
