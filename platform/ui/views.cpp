// Tree view and report list view operations.
#include "ui_state.h"

#include <algorithm>

using namespace ovui;

namespace {

Control* tree(HWND dlg, int id) {
    Control* c = findItem(dlg, id);
    return (c && c->kind == OV_TREEVIEW) ? c : nullptr;
}

Control* listView(HWND dlg, int id) {
    Control* c = findItem(dlg, id);
    return (c && c->kind == OV_LISTVIEW) ? c : nullptr;
}

TreeNode* node(Control& c, HTREEITEM item) {
    auto it = c.nodes.find(item);
    return it == c.nodes.end() ? nullptr : &it->second;
}

std::vector<HTREEITEM>& siblingsOf(Control& c, HTREEITEM parent) {
    if (parent == 0) return c.roots;
    return c.nodes[parent].children;
}

OvTreeItem itemRef(Control& c, HTREEITEM item) {
    TreeNode* n = node(c, item);
    return OvTreeItem{n ? item : 0, n ? n->data : 0};
}

void collectSubtree(Control& c, HTREEITEM item, std::vector<HTREEITEM>& out) {
    out.push_back(item);
    if (TreeNode* n = node(c, item))
        for (HTREEITEM child : n->children)
            collectSubtree(c, child, out);
}

bool validRow(const Control& c, int row) {
    return row >= 0 && row < int(c.rows.size());
}

} // namespace

namespace ovui {

// Selects item (0 clears) and reports the change; used by the API and by input.
bool treeSelect(HWND dlg, int id, HTREEITEM item, UINT action) {
    OvTreeItem oldItem{}, newItem{};
    Control copy;
    {
        Guard g;
        Control* c = tree(dlg, id);
        if (!c || (item != 0 && !node(*c, item))) return false;
        if (c->treeSel == item) return true;
        oldItem = itemRef(*c, c->treeSel);
        newItem = itemRef(*c, item);
        c->treeSel = item;
        // The selection is always in view: its ancestors open.
        for (HTREEITEM p = item ? c->nodes[item].parent : 0; p; p = c->nodes[p].parent)
            c->nodes[p].expanded = true;
        copy.handle = c->handle;
        copy.id = c->id;
        touch();
    }
    notifyTree(dlg, copy, TVN_SELCHANGED, action, oldItem, newItem);
    return true;
}

bool listViewSelect(HWND dlg, int id, int row) {
    int oldRow = -1;
    LPARAM oldData = 0, newData = 0;
    Control copy;
    {
        Guard g;
        Control* c = listView(dlg, id);
        if (!c || (row != -1 && !validRow(*c, row))) return false;
        if (c->rowSel == row) return true;
        oldRow = c->rowSel;
        if (oldRow >= 0) oldData = c->rows[size_t(oldRow)].data;
        if (row >= 0) newData = c->rows[size_t(row)].data;
        c->rowSel = row;
        copy.handle = c->handle;
        copy.id = c->id;
        touch();
    }
    if (oldRow >= 0) notifyListView(dlg, copy, LVN_ITEMCHANGED, oldRow, 0, LVIS_SELECTED, oldData);
    if (row >= 0) notifyListView(dlg, copy, LVN_ITEMCHANGED, row, LVIS_SELECTED, 0, newData);
    return true;
}

} // namespace ovui

extern "C" {

OVUI_API HTREEITEM ovTreeInsertItem(HWND dlg, int id, HTREEITEM parent, const char* text,
                                    LPARAM data) {
    Guard g;
    Control* c = tree(dlg, id);
    if (!c || (parent != 0 && !node(*c, parent))) return 0;
    HTREEITEM item = state().nextTreeItem++;
    TreeNode n;
    n.parent = parent;
    n.text = text ? text : "";
    n.data = data;
    c->nodes[item] = std::move(n);
    siblingsOf(*c, parent).push_back(item);
    touch();
    return item;
}

OVUI_API BOOL ovTreeSetItemText(HWND dlg, int id, HTREEITEM item, const char* text) {
    Guard g;
    Control* c = tree(dlg, id);
    TreeNode* n = c ? node(*c, item) : nullptr;
    if (!n) return FALSE;
    n->text = text ? text : "";
    touch();
    return TRUE;
}

OVUI_API int ovTreeGetItemText(HWND dlg, int id, HTREEITEM item, char* buf, int max) {
    Guard g;
    Control* c = tree(dlg, id);
    TreeNode* n = c ? node(*c, item) : nullptr;
    int copied = 0;
    copyOut(n ? n->text : std::string(), buf, max, &copied);
    return n ? copied : -1;
}

OVUI_API LPARAM ovTreeGetItemData(HWND dlg, int id, HTREEITEM item) {
    Guard g;
    Control* c = tree(dlg, id);
    TreeNode* n = c ? node(*c, item) : nullptr;
    return n ? n->data : 0;
}

OVUI_API HTREEITEM ovTreeGetParent(HWND dlg, int id, HTREEITEM item) {
    Guard g;
    Control* c = tree(dlg, id);
    TreeNode* n = c ? node(*c, item) : nullptr;
    return n ? n->parent : 0;
}

OVUI_API HTREEITEM ovTreeGetChild(HWND dlg, int id, HTREEITEM item) {
    Guard g;
    Control* c = tree(dlg, id);
    if (!c || (item != 0 && !node(*c, item))) return 0;
    auto& list = siblingsOf(*c, item);
    return list.empty() ? 0 : list.front();
}

OVUI_API HTREEITEM ovTreeGetNextSibling(HWND dlg, int id, HTREEITEM item) {
    Guard g;
    Control* c = tree(dlg, id);
    TreeNode* n = c ? node(*c, item) : nullptr;
    if (!n) return 0;
    auto& list = siblingsOf(*c, n->parent);
    auto it = std::find(list.begin(), list.end(), item);
    return (it == list.end() || it + 1 == list.end()) ? 0 : *(it + 1);
}

OVUI_API HTREEITEM ovTreeGetSelection(HWND dlg, int id) {
    Guard g;
    Control* c = tree(dlg, id);
    return c ? c->treeSel : 0;
}

OVUI_API BOOL ovTreeSelectItem(HWND dlg, int id, HTREEITEM item) {
    return treeSelect(dlg, id, item, TVC_UNKNOWN) ? TRUE : FALSE;
}

OVUI_API BOOL ovTreeDeleteItem(HWND dlg, int id, HTREEITEM item) {
    OvTreeItem oldItem{}, newItem{};
    Control copy;
    bool selectionMoved = false;
    {
        Guard g;
        Control* c = tree(dlg, id);
        TreeNode* n = c ? node(*c, item) : nullptr;
        if (!n) return FALSE;
        std::vector<HTREEITEM> doomed;
        collectSubtree(*c, item, doomed);
        auto& siblings = siblingsOf(*c, n->parent);
        auto pos = std::find(siblings.begin(), siblings.end(), item);
        if (c->treeSel && std::find(doomed.begin(), doomed.end(), c->treeSel) != doomed.end()) {
            HTREEITEM next = 0;
            if (pos != siblings.end() && pos + 1 != siblings.end())
                next = *(pos + 1);
            else if (pos != siblings.begin() && pos != siblings.end())
                next = *(pos - 1);
            else
                next = n->parent;
            oldItem = itemRef(*c, c->treeSel);
            newItem = itemRef(*c, next);
            c->treeSel = next;
            selectionMoved = true;
        }
        if (pos != siblings.end()) siblings.erase(pos);
        for (HTREEITEM d : doomed)
            c->nodes.erase(d);
        copy.handle = c->handle;
        copy.id = c->id;
        touch();
    }
    if (selectionMoved) notifyTree(dlg, copy, TVN_SELCHANGED, TVC_UNKNOWN, oldItem, newItem);
    return TRUE;
}

OVUI_API BOOL ovTreeExpand(HWND dlg, int id, HTREEITEM item, BOOL expand) {
    Guard g;
    Control* c = tree(dlg, id);
    TreeNode* n = c ? node(*c, item) : nullptr;
    if (!n) return FALSE;
    n->expanded = expand != FALSE;
    touch();
    return TRUE;
}

OVUI_API void ovTreeDeleteAll(HWND dlg, int id) {
    Guard g;
    Control* c = tree(dlg, id);
    if (!c) return;
    c->nodes.clear();
    c->roots.clear();
    c->treeSel = 0;
    touch();
}

OVUI_API int ovTreeGetCount(HWND dlg, int id) {
    Guard g;
    Control* c = tree(dlg, id);
    return c ? int(c->nodes.size()) : -1;
}

// ---- List view ----

OVUI_API BOOL ovListViewInsertColumn(HWND dlg, int id, int col, const char* header, int widthPx) {
    Guard g;
    Control* c = listView(dlg, id);
    if (!c || col < 0) return FALSE;
    col = std::min(col, int(c->columns.size()));
    c->columns.insert(c->columns.begin() + col, ListViewColumn{header ? header : "", widthPx});
    for (auto& row : c->rows)
        if (col < int(row.cells.size())) row.cells.insert(row.cells.begin() + col, std::string());
    touch();
    return TRUE;
}

OVUI_API BOOL ovListViewSetImages(HWND dlg, int id, const int* iconResources, int count) {
    Guard g;
    Control* c = listView(dlg, id);
    if (!c || !iconResources || count <= 0) return FALSE;
    c->images.assign(iconResources, iconResources + count);
    touch();
    return TRUE;
}

OVUI_API int ovListViewInsertItem(HWND dlg, int id, int row, const char* text, int image) {
    Guard g;
    Control* c = listView(dlg, id);
    if (!c || row < 0) return -1;
    row = std::min(row, int(c->rows.size()));
    ListViewRow r;
    r.cells.assign(std::max<size_t>(1, c->columns.size()), std::string());
    r.cells[0] = text ? text : "";
    r.image = image;
    c->rows.insert(c->rows.begin() + row, std::move(r));
    if (c->rowSel >= row) ++c->rowSel;
    touch();
    return row;
}

OVUI_API BOOL ovListViewSetItemText(HWND dlg, int id, int row, int col, const char* text) {
    Guard g;
    Control* c = listView(dlg, id);
    if (!c || !validRow(*c, row) || col < 0 || col >= std::max(1, int(c->columns.size())))
        return FALSE;
    auto& cells = c->rows[size_t(row)].cells;
    if (int(cells.size()) <= col) cells.resize(size_t(col) + 1);
    cells[size_t(col)] = text ? text : "";
    touch();
    return TRUE;
}

OVUI_API int ovListViewGetItemText(HWND dlg, int id, int row, int col, char* buf, int max) {
    Guard g;
    Control* c = listView(dlg, id);
    if (buf && max > 0) buf[0] = '\0';
    if (!c || !validRow(*c, row) || col < 0) return -1;
    auto& cells = c->rows[size_t(row)].cells;
    int copied = 0;
    copyOut(col < int(cells.size()) ? cells[size_t(col)] : std::string(), buf, max, &copied);
    return copied;
}

OVUI_API BOOL ovListViewSetItemImage(HWND dlg, int id, int row, int image) {
    Guard g;
    Control* c = listView(dlg, id);
    if (!c || !validRow(*c, row)) return FALSE;
    c->rows[size_t(row)].image = image;
    touch();
    return TRUE;
}

OVUI_API BOOL ovListViewSetItemData(HWND dlg, int id, int row, LPARAM data) {
    Guard g;
    Control* c = listView(dlg, id);
    if (!c || !validRow(*c, row)) return FALSE;
    c->rows[size_t(row)].data = data;
    return TRUE;
}

OVUI_API LPARAM ovListViewGetItemData(HWND dlg, int id, int row) {
    Guard g;
    Control* c = listView(dlg, id);
    return (c && validRow(*c, row)) ? c->rows[size_t(row)].data : 0;
}

OVUI_API BOOL ovListViewDeleteItem(HWND dlg, int id, int row) {
    Guard g;
    Control* c = listView(dlg, id);
    if (!c || !validRow(*c, row)) return FALSE;
    c->rows.erase(c->rows.begin() + row);
    if (c->rowSel == row)
        c->rowSel = -1;
    else if (c->rowSel > row)
        --c->rowSel;
    touch();
    return TRUE;
}

OVUI_API BOOL ovListViewDeleteAll(HWND dlg, int id) {
    Guard g;
    Control* c = listView(dlg, id);
    if (!c) return FALSE;
    c->rows.clear();
    c->rowSel = -1;
    touch();
    return TRUE;
}

OVUI_API int ovListViewGetCount(HWND dlg, int id) {
    Guard g;
    Control* c = listView(dlg, id);
    return c ? int(c->rows.size()) : -1;
}

OVUI_API int ovListViewGetSelected(HWND dlg, int id) {
    Guard g;
    Control* c = listView(dlg, id);
    return c ? c->rowSel : -1;
}

OVUI_API BOOL ovListViewSetSelected(HWND dlg, int id, int row) {
    return listViewSelect(dlg, id, row) ? TRUE : FALSE;
}

} // extern "C"
