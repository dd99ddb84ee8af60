// Control operations addressed by (dialog, control id): text, state, list and combo boxes.
#include "ui_state.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace ovui {

std::string copyOut(const std::string& text, char* buf, int max, int* copied) {
    int n = 0;
    if (buf && max > 0) {
        n = int(std::min<size_t>(text.size(), size_t(max - 1)));
        std::memcpy(buf, text.data(), size_t(n));
        buf[n] = '\0';
    }
    if (copied) *copied = n;
    return text;
}

std::string applyCase(const Control& c, const std::string& text) {
    if (c.kind != OV_EDIT && c.kind != OV_COMBOBOX) return text;
    std::string out = text;
    for (char& ch : out) {
        if (c.style & OV_UPPERCASE) ch = char(std::toupper(static_cast<unsigned char>(ch)));
        if (c.style & OV_LOWERCASE) ch = char(std::tolower(static_cast<unsigned char>(ch)));
    }
    return out;
}

int compareNoCase(const std::string& a, const std::string& b) {
    size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        int x = std::tolower(static_cast<unsigned char>(a[i]));
        int y = std::tolower(static_cast<unsigned char>(b[i]));
        if (x != y) return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

bool equalsNoCase(const std::string& a, const std::string& b) {
    return compareNoCase(a, b) == 0;
}

} // namespace ovui

using namespace ovui;

namespace {

bool isList(const Control* c) {
    return c && (c->kind == OV_LISTBOX || c->kind == OV_COMBOBOX);
}

int insertItem(Control& c, int index, const char* text) {
    std::string t = text ? text : "";
    if (index < 0 || index > int(c.items.size())) index = int(c.items.size());
    c.items.insert(c.items.begin() + index, ListItem{t, 0});
    if (c.curSel >= index) ++c.curSel;
    touch();
    return index;
}

int addItem(Control& c, const char* text) {
    std::string t = text ? text : "";
    int index = int(c.items.size());
    // Behind any equal text, as a sorted list box adds. Lists such as the user list hold tens of
    // thousands of entries and are mostly filled in order: the end is tried first, then a
    // binary search.
    if ((c.style & OV_SORT) && !c.items.empty() && compareNoCase(c.items.back().text, t) > 0) {
        auto at = std::upper_bound(c.items.begin(), c.items.end(), t,
                                   [](const std::string& x, const ListItem& item) {
                                       return compareNoCase(x, item.text) < 0;
                                   });
        index = int(at - c.items.begin());
    }
    return insertItem(c, index, text);
}

int findExact(const Control& c, int startAfter, const char* text) {
    if (!text) return -1;
    int n = int(c.items.size());
    if (n == 0) return -1;
    int start = (startAfter < 0 || startAfter >= n) ? 0 : startAfter + 1;
    for (int k = 0; k < n; ++k) {
        int i = (start + k) % n;
        if (equalsNoCase(c.items[size_t(i)].text, text)) return i;
    }
    return -1;
}

int getItemText(const Control& c, int index, char* buf, int max) {
    if (index < 0 || index >= int(c.items.size())) return -1;
    const std::string& t = c.items[size_t(index)].text;
    if (!buf) return int(t.size());
    int copied = 0;
    copyOut(t, buf, max, &copied);
    return copied;
}

} // namespace

extern "C" {

OVUI_API BOOL ovSetDlgItemText(HWND dlg, int id, const char* text) {
    Guard g;
    Control* c = findItem(dlg, id);
    if (!c) return FALSE;
    c->text = applyCase(*c, text ? text : "");
    touch();
    return TRUE;
}

OVUI_API UINT ovGetDlgItemText(HWND dlg, int id, char* buf, int max) {
    Guard g;
    Control* c = findItem(dlg, id);
    int copied = 0;
    copyOut(c ? c->text : std::string(), buf, max, &copied);
    return UINT(copied);
}

OVUI_API BOOL ovSetDlgItemInt(HWND dlg, int id, UINT value, BOOL isSigned) {
    char text[16];
    if (isSigned)
        std::snprintf(text, sizeof text, "%d", int(value));
    else
        std::snprintf(text, sizeof text, "%u", value);
    return ovSetDlgItemText(dlg, id, text);
}

OVUI_API UINT ovGetDlgItemInt(HWND dlg, int id, BOOL* translated, BOOL isSigned) {
    char text[64];
    if (translated) *translated = FALSE;
    {
        Guard g;
        if (!findItem(dlg, id)) return 0;
    }
    ovGetDlgItemText(dlg, id, text, sizeof text);
    const char* p = text;
    while (*p == ' ')
        ++p;
    if (!*p || (!isSigned && *p == '-')) return 0;
    char* end = nullptr;
    long long v = std::strtoll(p, &end, 10);
    while (end && *end == ' ')
        ++end;
    if (!end || *end) return 0;
    if (isSigned ? (v < INT32_MIN || v > INT32_MAX) : (v < 0 || v > UINT32_MAX)) return 0;
    if (translated) *translated = TRUE;
    return UINT(v);
}

OVUI_API BOOL ovEnableDlgItem(HWND dlg, int id, BOOL enable) {
    Guard g;
    Control* c = findItem(dlg, id);
    if (!c) return FALSE;
    c->enabled = enable != FALSE;
    touch();
    return TRUE;
}

OVUI_API BOOL ovIsDlgItemEnabled(HWND dlg, int id) {
    Guard g;
    Control* c = findItem(dlg, id);
    return (c && c->enabled) ? TRUE : FALSE;
}

OVUI_API BOOL ovShowDlgItem(HWND dlg, int id, BOOL show) {
    Guard g;
    Control* c = findItem(dlg, id);
    if (!c) return FALSE;
    c->visible = show != FALSE;
    touch();
    return TRUE;
}

OVUI_API BOOL ovCheckDlgButton(HWND dlg, int id, UINT check) {
    Guard g;
    Control* c = findItem(dlg, id);
    if (!c) return FALSE;
    c->checked = check ? BST_CHECKED : BST_UNCHECKED;
    touch();
    return TRUE;
}

OVUI_API UINT ovIsDlgButtonChecked(HWND dlg, int id) {
    Guard g;
    Control* c = findItem(dlg, id);
    return c ? c->checked : BST_UNCHECKED;
}

OVUI_API BOOL ovSetFocus(HWND dlg, int id) {
    Guard g;
    Window* w = findWindow(dlg);
    if (!w || (id != 0 && !findItem(dlg, id))) return FALSE;
    w->focusId = id;
    touch();
    return TRUE;
}

OVUI_API int ovGetFocus(HWND dlg) {
    Guard g;
    Window* w = findWindow(dlg);
    return w ? w->focusId : 0;
}

OVUI_API BOOL ovLimitText(HWND dlg, int id, int max) {
    Guard g;
    Control* c = findItem(dlg, id);
    if (!c || (c->kind != OV_EDIT && c->kind != OV_COMBOBOX) || max < 0) return FALSE;
    c->limit = max;
    touch();
    return TRUE;
}

// ---- List box ----

OVUI_API int ovListAddString(HWND dlg, int id, const char* text) {
    Guard g;
    Control* c = findItem(dlg, id);
    return (c && c->kind == OV_LISTBOX) ? addItem(*c, text) : -1;
}

OVUI_API int ovListInsertString(HWND dlg, int id, int index, const char* text) {
    Guard g;
    Control* c = findItem(dlg, id);
    if (!c || c->kind != OV_LISTBOX || index > int(c->items.size())) return -1;
    return insertItem(*c, index, text);
}

OVUI_API BOOL ovListDeleteString(HWND dlg, int id, int index) {
    Guard g;
    Control* c = findItem(dlg, id);
    if (!isList(c) || index < 0 || index >= int(c->items.size())) return FALSE;
    c->items.erase(c->items.begin() + index);
    if (c->curSel == index)
        c->curSel = -1;
    else if (c->curSel > index)
        --c->curSel;
    touch();
    return TRUE;
}

OVUI_API void ovListReset(HWND dlg, int id) {
    Guard g;
    Control* c = findItem(dlg, id);
    if (!isList(c)) return;
    c->items.clear();
    c->curSel = -1;
    touch();
}

OVUI_API int ovListGetCount(HWND dlg, int id) {
    Guard g;
    Control* c = findItem(dlg, id);
    return isList(c) ? int(c->items.size()) : -1;
}

OVUI_API int ovListGetCurSel(HWND dlg, int id) {
    Guard g;
    Control* c = findItem(dlg, id);
    return isList(c) ? c->curSel : -1;
}

OVUI_API BOOL ovListSetCurSel(HWND dlg, int id, int index) {
    Guard g;
    Control* c = findItem(dlg, id);
    if (!isList(c) || index < -1 || index >= int(c->items.size())) return FALSE;
    c->curSel = index;
    touch();
    return TRUE;
}

OVUI_API int ovListGetText(HWND dlg, int id, int index, char* buf, int max) {
    Guard g;
    Control* c = findItem(dlg, id);
    if (buf && max > 0) buf[0] = '\0';
    return isList(c) ? getItemText(*c, index, buf, max) : -1;
}

OVUI_API BOOL ovListSetItemData(HWND dlg, int id, int index, LPARAM data) {
    Guard g;
    Control* c = findItem(dlg, id);
    if (!isList(c) || index < 0 || index >= int(c->items.size())) return FALSE;
    c->items[size_t(index)].data = data;
    touch();
    return TRUE;
}

OVUI_API LPARAM ovListGetItemData(HWND dlg, int id, int index) {
    Guard g;
    Control* c = findItem(dlg, id);
    if (!isList(c) || index < 0 || index >= int(c->items.size())) return -1;
    return c->items[size_t(index)].data;
}

OVUI_API int ovListFindStringExact(HWND dlg, int id, int startAfter, const char* text) {
    Guard g;
    Control* c = findItem(dlg, id);
    return isList(c) ? findExact(*c, startAfter, text) : -1;
}

// ---- Combo box ----

OVUI_API int ovComboAddString(HWND dlg, int id, const char* text) {
    Guard g;
    Control* c = findItem(dlg, id);
    return (c && c->kind == OV_COMBOBOX) ? addItem(*c, text) : -1;
}

OVUI_API void ovComboReset(HWND dlg, int id) {
    Guard g;
    Control* c = findItem(dlg, id);
    if (!c || c->kind != OV_COMBOBOX) return;
    c->items.clear();
    c->curSel = -1;
    c->text.clear();
    touch();
}

OVUI_API int ovComboGetCount(HWND dlg, int id) {
    Guard g;
    Control* c = findItem(dlg, id);
    return (c && c->kind == OV_COMBOBOX) ? int(c->items.size()) : -1;
}

OVUI_API BOOL ovComboSetCurSel(HWND dlg, int id, int index) {
    Guard g;
    Control* c = findItem(dlg, id);
    if (!c || c->kind != OV_COMBOBOX || index < -1 || index >= int(c->items.size())) return FALSE;
    c->curSel = index;
    c->text = index < 0 ? std::string() : c->items[size_t(index)].text;
    touch();
    return TRUE;
}

OVUI_API int ovComboGetCurSel(HWND dlg, int id) {
    Guard g;
    Control* c = findItem(dlg, id);
    return (c && c->kind == OV_COMBOBOX) ? c->curSel : -1;
}

OVUI_API int ovComboGetText(HWND dlg, int id, int index, char* buf, int max) {
    Guard g;
    Control* c = findItem(dlg, id);
    if (buf && max > 0) buf[0] = '\0';
    return (c && c->kind == OV_COMBOBOX) ? getItemText(*c, index, buf, max) : -1;
}

OVUI_API int ovComboFindStringExact(HWND dlg, int id, int startAfter, const char* text) {
    Guard g;
    Control* c = findItem(dlg, id);
    return (c && c->kind == OV_COMBOBOX) ? findExact(*c, startAfter, text) : -1;
}

} // extern "C"
