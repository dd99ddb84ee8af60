#include "demo_dialogs.h"

#include <mutex>

namespace demo {

namespace {

std::mutex gMutex;
std::vector<Event> gEvents;
std::vector<INT_PTR> gNestedResults;

const OvMenuTemplate kMore[] = {{"&Deep", kMenuDeep, 0, nullptr, 0}};
const OvMenuTemplate kFileMenu[] = {{"&Open", kMenuOpen, 0, nullptr, 0},
                                    {nullptr, 0, MF_SEPARATOR, nullptr, 0},
                                    {"E&xit", kMenuExit, 0, nullptr, 0}};
const OvMenuTemplate kOptionsMenu[] = {{"&Check me", kMenuCheck, MF_CHECKED, nullptr, 0},
                                       {"&Greyed", kMenuGrey, MF_GRAYED, nullptr, 0},
                                       {"&More", 0, MF_POPUP, kMore, 1}};
const OvMenuTemplate kBar[] = {{"&File", 0, MF_POPUP, kFileMenu, 3},
                               {"&Options", 0, MF_POPUP, kOptionsMenu, 3}};

const OvControlTemplate kControls[] = {
    {OV_NOID, OV_GROUPBOX, "Everything", 2, 2, 300, 200, 0, 0},
    {0xFFFF, OV_STATIC, "Name:", 5, 10, 30, 8, 0, 0},
    {kName, OV_EDIT, "", 40, 10, 80, 12, OV_TABSTOP, 0},
    {kNumber, OV_EDIT, "", 40, 25, 40, 12, OV_NUMBER | OV_TABSTOP, 0},
    {kUpper, OV_EDIT, "", 40, 40, 40, 12, OV_UPPERCASE, 0},
    {kLower, OV_EDIT, "", 40, 55, 40, 12, OV_LOWERCASE, 0},
    {kReadOnly, OV_EDIT, "fixed", 40, 70, 40, 12, OV_READONLY, 0},
    {kPassword, OV_EDIT, "", 40, 85, 40, 12, OV_PASSWORD, 0},
    {kCheck, OV_CHECKBOX, "&Check", 40, 100, 60, 10, OV_TABSTOP, 0},
    {kSortedList, OV_LISTBOX, nullptr, 130, 10, 60, 60, OV_SORT | OV_NOTIFY | OV_TABSTOP, 0},
    {kPlainList, OV_LISTBOX, nullptr, 130, 75, 60, 40, 0, 0},
    {kCombo, OV_COMBOBOX, "", 200, 10, 60, 50, OV_UPPERCASE, 0},
    {kTree, OV_TREEVIEW, nullptr, 200, 30, 90, 80, OV_HASBUTTONS | OV_HASLINES | OV_LINESATROOT, 0},
    {kListView, OV_LISTVIEW, nullptr, 5, 120, 200, 50, OV_SINGLESEL | OV_NOSORTHEADER, 0},
    {kBitmap, OV_BITMAP, nullptr, 210, 120, 40, 20, 0, 106},
    {kIcon, OV_ICON, nullptr, 255, 120, 20, 20, 0, 105},
    {kApply, OV_BUTTON, "&Apply", 5, 180, 40, 14, OV_TABSTOP, 0},
    {kDisabledButton, OV_BUTTON, "Never", 50, 180, 40, 14, OV_DISABLED, 0},
    {IDOK, OV_DEFBUTTON, "OK", 200, 180, 40, 14, OV_TABSTOP, 0},
    {IDCANCEL, OV_BUTTON, "Cancel", 245, 180, 40, 14, OV_TABSTOP, 0},
};

const OvControlTemplate kNestedControls[] = {
    {kName, OV_EDIT, "", 5, 5, 80, 12, OV_TABSTOP, 0},
    {kOpenNested, OV_BUTTON, "&Nested...", 5, 25, 50, 14, OV_TABSTOP, 0},
    {IDOK, OV_DEFBUTTON, "OK", 60, 25, 40, 14, OV_TABSTOP, 0},
    {IDCANCEL, OV_BUTTON, "Cancel", 105, 25, 40, 14, OV_TABSTOP, 0},
};

void record(const Event& e) {
    std::lock_guard lk(gMutex);
    gEvents.push_back(e);
}

} // namespace

const OvDialogTemplate kDemo = {kTemplate,
                                "Demo",
                                310,
                                200,
                                OV_DS_CAPTION | OV_DS_SYSMENU | OV_DS_MINIMIZEBOX | OV_DS_CENTER,
                                kBar,
                                2,
                                kControls,
                                int(sizeof kControls / sizeof kControls[0])};

const OvDialogTemplate kNested[3] = {
    {kLevel1, "Level 1", 150, 45, OV_DS_CAPTION | OV_DS_SYSMENU, nullptr, 0, kNestedControls, 4},
    {kLevel2, "Level 2", 150, 45, OV_DS_CAPTION | OV_DS_SYSMENU, nullptr, 0, kNestedControls, 4},
    {kLevel3, "Level 3", 150, 45, OV_DS_CAPTION | OV_DS_SYSMENU, nullptr, 0, kNestedControls, 3},
};

INT_PTR demoProc(HWND dlg, UINT msg, WPARAM wParam, LPARAM lParam) {
    Event e;
    e.wnd = dlg;
    e.msg = msg;
    e.wParam = wParam;
    e.lParam = lParam;
    switch (msg) {
    case WM_COMMAND:
        e.id = LOWORD(wParam);
        e.code = HIWORD(wParam);
        record(e);
        if (e.id == IDOK || e.id == IDCANCEL) ovEndDialog(dlg, e.id);
        return TRUE;
    case WM_NOTIFY: {
        const auto* hdr = reinterpret_cast<const NMHDR*>(lParam);
        e.id = int(hdr->idFrom);
        e.code = int(hdr->code);
        if (hdr->code == TVN_SELCHANGED) {
            const auto* nm = reinterpret_cast<const NMTREEVIEW*>(lParam);
            e.oldItem = nm->itemOld.hItem;
            e.newItem = nm->itemNew.hItem;
            e.oldData = nm->itemOld.lParam;
            e.newData = nm->itemNew.lParam;
            e.action = nm->action;
        } else if (hdr->code == LVN_ITEMCHANGED || hdr->code == NM_DBLCLK) {
            const auto* nm = reinterpret_cast<const NMLISTVIEW*>(lParam);
            e.newItem = uintptr_t(nm->iItem);
            e.newData = nm->lParam;
            e.action = nm->uNewState;
        }
        record(e);
        return TRUE;
    }
    case WM_TIMER:
        e.id = int(wParam);
        record(e);
        return TRUE;
    case WM_INITDIALOG:
    case WM_CLOSE:
    case WM_SYSCOMMAND:
    case WM_DESTROY:
        record(e);
        return msg == WM_INITDIALOG;
    default:
        if (msg >= WM_USER) {
            record(e);
            return TRUE;
        }
        return FALSE;
    }
}

INT_PTR nestedProc(HWND dlg, UINT msg, WPARAM wParam, LPARAM lParam) {
    int level = int(ovGetWindowUserData(dlg));
    if (msg == WM_INITDIALOG) {
        ovSetWindowUserData(dlg, lParam);
        return TRUE;
    }
    if (msg != WM_COMMAND) return FALSE;
    int id = LOWORD(wParam);
    if (id == kOpenNested && level < 3) {
        INT_PTR r = ovDialogBox(&kNested[level], dlg, nestedProc, level + 1);
        std::lock_guard lk(gMutex);
        gNestedResults.push_back(r);
    } else if (id == IDOK) {
        INT_PTR inner = 0;
        {
            std::lock_guard lk(gMutex);
            if (!gNestedResults.empty()) inner = gNestedResults.back();
        }
        ovEndDialog(dlg, 100 * level + inner);
    } else if (id == IDCANCEL) {
        ovEndDialog(dlg, IDCANCEL);
    }
    return TRUE;
}

std::vector<Event> events() {
    std::lock_guard lk(gMutex);
    return gEvents;
}

std::vector<Event> eventsOf(UINT msg) {
    std::vector<Event> out;
    for (auto& e : events())
        if (e.msg == msg) out.push_back(e);
    return out;
}

void clearEvents() {
    std::lock_guard lk(gMutex);
    gEvents.clear();
    gNestedResults.clear();
}

std::vector<INT_PTR> nestedResults() {
    std::lock_guard lk(gMutex);
    return gNestedResults;
}

nlohmann::json snapshot() {
    return nlohmann::json::parse(ovuiSnapshotJson());
}

nlohmann::json windowJson(HWND wnd) {
    nlohmann::json all = snapshot();
    for (auto& w : all["windows"])
        if (w["id"].get<uint64_t>() == reinterpret_cast<uintptr_t>(wnd)) return w;
    return nullptr;
}

nlohmann::json controlJson(HWND wnd, int id) {
    nlohmann::json w = windowJson(wnd);
    if (w.is_null()) return nullptr;
    for (auto& c : w["controls"])
        if (c["id"].get<int>() == id) return c;
    return nullptr;
}

} // namespace demo
