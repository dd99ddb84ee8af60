#include "server/sysop/area_editor.h"

#include "server/areas/area_text.h"
#include "server/areas/area_tree.h"
#include "server/base/file_helpers.h"
#include "server/base/product.h"
#include "server/plugins/plugin_registry.h"
#include "server/sysop/app_state.h"
#include "server/sysop/id_map.h"
#include "server/sysop/main_window_resources.h"
#include "server/sysop/number_field.h"

#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr uint32_t NoArea = 0xFFFFFFFFu;
constexpr int ExtensionDialogId = 122;
constexpr int IdcDisplayName = 1048;
constexpr int IdcArguments = 1049;

uint32_t currentAreaId = NoArea;
// The shown area's extensions as edited, one per entry of list 1027 in list order.
char editedExtensionNames[MaxAreaExtensions][32];
char editedExtensionArgs[MaxAreaExtensions][64];

// Area id -> tree item. Lives as long as the process; nothing else needs to free it first.
struct TreeItemMap {
    IdMap* map = createIdMap(0);
    ~TreeItemMap() { destroyIdMap(map); }
} areaTreeItems;

// What the window showed of the area when it was loaded or saved, to tell unsaved edits.
struct ShownArea {
    std::string min, max, title;
    std::vector<uint32_t> pluginIds;
    std::vector<std::string> names, args;
    bool operator==(const ShownArea&) const = default;
};
ShownArea loadedArea;
// Set while the tree goes back to the area whose edits the sysop kept.
bool keepingEdits = false;

// The values carried into and out of dialog 122.
char dialogName[32];
char dialogArgs[64];

const char* const InstanceInformation =
    "These values only apply to the selected instance of the plug-in, in this area only.  If "
    "the plug-in is used in other areas, or more than once in this area, each instance is "
    "configured independently.";

const OvControlTemplate extensionControls[] = {
    {OV_NOID, OV_GROUPBOX, "Display name (seen by users)", 7, 4, 186, 28, 0, 0},
    {IdcDisplayName, OV_EDIT, "", 14, 15, 172, 12, OV_TABSTOP, 0},
    {OV_NOID, OV_GROUPBOX, "Arguments to plug-in (may be blank)", 7, 36, 186, 28, 0, 0},
    {IdcArguments, OV_EDIT, "", 14, 47, 172, 12, OV_TABSTOP, 0},
    {OV_NOID, OV_GROUPBOX, "Information", 7, 68, 186, 52, 0, 0},
    {OV_NOID, OV_STATIC, InstanceInformation, 14, 79, 172, 36, 0, 0},
    {IDOK, OV_DEFBUTTON, "OK", 89, 126, 50, 14, OV_TABSTOP, 0},
    {IDCANCEL, OV_BUTTON, "Cancel", 143, 126, 50, 14, OV_TABSTOP, 0},
};

const OvDialogTemplate extensionTemplate = {
    ExtensionDialogId,
    "Edit plug-in properties",
    200,
    147,
    OV_DS_CAPTION | OV_DS_SYSMENU | OV_DS_MODALFRAME | OV_DS_CENTER,
    nullptr,
    0,
    extensionControls,
    static_cast<int>(std::size(extensionControls)),
};

INT_PTR extensionDialogProc(HWND dlg, UINT msg, WPARAM wParam, LPARAM) {
    if (msg == WM_INITDIALOG) {
        ovSetDlgItemText(dlg, IdcDisplayName, dialogName);
        ovSetDlgItemText(dlg, IdcArguments, dialogArgs);
        return TRUE;
    }
    if (msg != WM_COMMAND || HIWORD(wParam) != BN_CLICKED) return FALSE;
    if (LOWORD(wParam) == IDOK) {
        ovGetDlgItemText(dlg, IdcDisplayName, dialogName, sizeof dialogName);
        ovGetDlgItemText(dlg, IdcArguments, dialogArgs, sizeof dialogArgs);
        ovEndDialog(dlg, 1);
    } else if (LOWORD(wParam) == IDCANCEL) {
        ovEndDialog(dlg, 0); // Cancel, Esc and the close box
    }
    return TRUE;
}

HWND window() {
    return mainWindow.load();
}

void copyText(char* out, size_t size, const char* in) {
    std::snprintf(out, size, "%s", in);
}

// The selected tree item and the area id it shows; false without a selection.
bool selectedArea(HTREEITEM& item, uint32_t& id) {
    item = ovTreeGetSelection(window(), IdcAreaTree);
    if (item == 0) return false;
    id = uint32_t(ovTreeGetItemData(window(), IdcAreaTree, item));
    return true;
}

// Min. and Max. as access levels (0 to 65535, Min. not above Max.); false when the sysop was
// told otherwise.
bool accessRange(uint16_t& min, uint16_t& max) {
    uint32_t low = 0, high = 0;
    if (!numberField(window(), IdcAreaMinAccess, "Min.", 0, 65535, low) ||
        !numberField(window(), IdcAreaMaxAccess, "Max.", 0, 65535, high))
        return false;
    if (low > high) {
        refuseNumber(window(), IdcAreaMinAccess, "Min.", 0, high);
        return false;
    }
    min = uint16_t(low);
    max = uint16_t(high);
    return true;
}

void setNumber(int control, uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%u", value);
    ovSetDlgItemText(window(), control, text);
}

std::string itemText(int control) {
    char text[256] = {};
    ovGetDlgItemText(window(), control, text, sizeof text);
    return text;
}

ShownArea shownArea() {
    ShownArea shown{
        itemText(IdcAreaMinAccess), itemText(IdcAreaMaxAccess), itemText(IdcAreaTitle), {}, {}, {}};
    int count = ovListGetCount(window(), IdcExtensionList);
    for (int p = 0; p < count && p < int(MaxAreaExtensions); ++p) {
        shown.pluginIds.push_back(uint32_t(ovListGetItemData(window(), IdcExtensionList, p)));
        shown.names.emplace_back(editedExtensionNames[p]);
        shown.args.emplace_back(editedExtensionArgs[p]);
    }
    return shown;
}

// The list's text for an instance: its display name, then its plug-in's name (or that the
// plug-in is gone) when that differs, so two instances of one plug-in are told apart.
std::string extensionLabel(uint32_t pluginId, const char* displayName) {
    bool sessionCapable = false;
    char plugin[256];
    if (!getPluginInfo(pluginId, sessionCapable, plugin))
        return std::string(*displayName ? displayName : "Plug-in") + " (missing)";
    if (!*displayName || std::strcmp(displayName, plugin) == 0) return plugin;
    return std::string(displayName) + " (" + plugin + ")";
}

void relabelExtension(int p) {
    HWND w = window();
    LPARAM data = ovListGetItemData(w, IdcExtensionList, p);
    bool selected = ovListGetCurSel(w, IdcExtensionList) == p;
    ovListDeleteString(w, IdcExtensionList, p);
    int at = ovListInsertString(w, IdcExtensionList, p,
                                extensionLabel(uint32_t(data), editedExtensionNames[p]).c_str());
    if (at < 0) return;
    ovListSetItemData(w, IdcExtensionList, at, data);
    if (selected) ovListSetCurSel(w, IdcExtensionList, at);
}

HTREEITEM insertTreeItem(const AreaRecord& area) {
    HTREEITEM parent = area.id == 0 ? 0 : HTREEITEM(idMapGet(areaTreeItems.map, area.parentId));
    HTREEITEM item = ovTreeInsertItem(window(), IdcAreaTree, parent, area.title, LPARAM(area.id));
    // Without a map entry the area still shows; its sub-areas then go to the root level.
    if (item != 0) (void)idMapSet(areaTreeItems.map, area.id, uint32_t(item));
    return item;
}

// Appends an entry to list 1027 and returns its position.
int addExtensionEntry(const char* name, uint32_t pluginId) {
    HWND w = window();
    int p = ovListInsertString(w, IdcExtensionList, -1, name);
    if (p < 0) return p;
    ovListSetItemData(w, IdcExtensionList, p, LPARAM(pluginId));
    if (p < int(MaxAreaExtensions)) {
        copyText(editedExtensionNames[p], sizeof editedExtensionNames[p], name);
        editedExtensionArgs[p][0] = '\0';
    }
    ovEnableDlgItem(w, IdcEditExtension, TRUE);
    ovEnableDlgItem(w, IdcRemoveExtension, TRUE);
    return p;
}

// The area ids shown below `item`, so that their map entries go with the deleted subtree.
void collectSubtreeIds(HTREEITEM item, std::vector<uint32_t>& ids) {
    std::vector<HTREEITEM> pending{item};
    while (!pending.empty()) {
        HTREEITEM current = pending.back();
        pending.pop_back();
        ids.push_back(uint32_t(ovTreeGetItemData(window(), IdcAreaTree, current)));
        for (HTREEITEM child = ovTreeGetChild(window(), IdcAreaTree, current); child != 0;
             child = ovTreeGetNextSibling(window(), IdcAreaTree, child))
            pending.push_back(child);
    }
}

} // namespace

void resetAreaEditor() {
    destroyIdMap(areaTreeItems.map);
    areaTreeItems.map = createIdMap(0);
    currentAreaId = NoArea;
    loadedArea = ShownArea{};
    keepingEdits = false;
    std::memset(editedExtensionNames, 0, sizeof editedExtensionNames);
    std::memset(editedExtensionArgs, 0, sizeof editedExtensionArgs);
}

void populateAreaTree(uint32_t id) {
    // Depth first with a stack of our own: a damaged file may chain thousands of areas. The
    // visited marks stop cycles even when the map could not record an item.
    std::vector<bool> visited(MaxAreas, false);
    std::vector<uint32_t> pending{id};
    while (!pending.empty()) {
        uint32_t current = pending.back();
        pending.pop_back();
        AreaRecord area;
        if (current >= MaxAreas || visited[current] || !getArea(current, area)) continue;
        visited[current] = true;
        if (idMapGet(areaTreeItems.map, current) != 0) continue; // shown under another parent
        (void)insertTreeItem(area);
        uint16_t count = area.childCount < MaxAreaChildren ? area.childCount : MaxAreaChildren;
        for (int i = count - 1; i >= 0; --i)
            pending.push_back(area.childIds[i]);
    }
}

namespace {

void loadSelectedArea() {
    HTREEITEM item;
    uint32_t id;
    if (!selectedArea(item, id)) return;
    currentAreaId = id;
    HWND w = window();
    ovEnableDlgItem(w, IdcDeleteArea, id != 0);
    AreaRecord area;
    if (!getArea(id, area)) {
        loadedArea = shownArea();
        return;
    }
    char text[16];
    std::snprintf(text, sizeof text, "%08x", id);
    ovSetDlgItemText(w, IdcAreaId, text);
    setNumber(IdcAreaMinAccess, area.minAccess);
    setNumber(IdcAreaMaxAccess, area.maxAccess);
    ovSetDlgItemText(w, IdcAreaTitle, area.title);
    ovListReset(w, IdcExtensionList);
    std::memset(editedExtensionNames, 0, sizeof editedExtensionNames);
    std::memset(editedExtensionArgs, 0, sizeof editedExtensionArgs);
    uint16_t count =
        area.extensionCount < MaxAreaExtensions ? area.extensionCount : MaxAreaExtensions;
    for (int i = 0; i < count; ++i) {
        // An entry whose plug-in is gone stays listed, marked, so that the sysop can remove it.
        int p = addExtensionEntry(
            extensionLabel(area.extensionPluginIds[i], area.extensionNames[i]).c_str(),
            area.extensionPluginIds[i]);
        if (p < 0 || p >= int(MaxAreaExtensions)) continue;
        copyText(editedExtensionNames[p], sizeof editedExtensionNames[p], area.extensionNames[i]);
        copyText(editedExtensionArgs[p], sizeof editedExtensionArgs[p], area.extensionArgs[i]);
    }
    loadedArea = shownArea();
}

// Saves the window's fields into area `id`; false when a field was refused or the save failed,
// the edits then staying in the window.
bool saveArea(uint32_t id, HTREEITEM item) {
    AreaRecord area;
    if (!getArea(id, area)) return false;
    HWND w = window();
    if (!accessRange(area.minAccess, area.maxAccess)) return false;
    std::memset(area.title, 0, sizeof area.title);
    ovGetDlgItemText(w, IdcAreaTitle, area.title, 31); // 30 characters
    int count = ovListGetCount(w, IdcExtensionList);
    if (count >= 0) {
        int n = count < int(MaxAreaExtensions) ? count : int(MaxAreaExtensions);
        area.extensionCount = uint16_t(n);
        for (int k = 0; k < n; ++k) {
            area.extensionPluginIds[k] = uint32_t(ovListGetItemData(w, IdcExtensionList, k));
            std::memset(area.extensionNames[k], 0, sizeof area.extensionNames[k]);
            copyText(area.extensionNames[k], sizeof area.extensionNames[k],
                     editedExtensionNames[k]);
            std::memset(area.extensionArgs[k], 0, sizeof area.extensionArgs[k]);
            copyText(area.extensionArgs[k], sizeof area.extensionArgs[k], editedExtensionArgs[k]);
        }
    }
    if (!putArea(id, area)) return false; // the previous file stays; so do the edits
    ovTreeSetItemText(w, IdcAreaTree, item, area.title);
    loadedArea = shownArea();
    return true;
}

// Back to the area whose edits stay, without asking again.
void keepShownArea() {
    HTREEITEM item = HTREEITEM(idMapGet(areaTreeItems.map, currentAreaId));
    if (item == 0) return;
    keepingEdits = true;
    ovTreeSelectItem(window(), IdcAreaTree, item);
    keepingEdits = false;
}

} // namespace

void showSelectedArea() {
    if (keepingEdits) return;
    HTREEITEM item;
    uint32_t id;
    if (!selectedArea(item, id)) return;
    if (currentAreaId != NoArea && id != currentAreaId && areaHasUnsavedEdits()) {
        int answer = ovMessageBox(window(), "Save the changes to this area?", ProductName,
                                  MB_YESNOCANCEL | MB_ICONWARNING);
        HTREEITEM shown = HTREEITEM(idMapGet(areaTreeItems.map, currentAreaId));
        bool stay = answer != IDYES && answer != IDNO;
        if (answer == IDYES && (shown == 0 || !saveArea(currentAreaId, shown))) stay = true;
        if (stay) {
            keepShownArea();
            return;
        }
    }
    loadSelectedArea();
}

bool areaHasUnsavedEdits() {
    return currentAreaId != NoArea && !(shownArea() == loadedArea);
}

void saveSelectedArea() {
    HTREEITEM item;
    uint32_t id;
    if (selectedArea(item, id)) (void)saveArea(id, item);
}

void newSubArea() {
    AreaRecord area;
    if (currentAreaId == NoArea || !addSubArea(currentAreaId, area)) return;
    HTREEITEM item = insertTreeItem(area);
    if (item == 0) return;
    ovTreeSelectItem(window(), IdcAreaTree, item); // shows it through TVN_SELCHANGED
    ovSetFocus(window(), IdcAreaTree);
}

void deleteSelectedArea() {
    HTREEITEM item;
    uint32_t id;
    AreaRecord area;
    if (!selectedArea(item, id) || !getArea(id, area)) return;
    std::vector<uint32_t> ids;
    collectSubtreeIds(item, ids);
    char question[160];
    size_t below = ids.size() - 1;
    if (below == 0)
        std::snprintf(question, sizeof question, "Delete the area \"%s\"?", area.title);
    else
        std::snprintf(question, sizeof question, "Delete the area \"%s\" and its %zu %s?",
                      area.title, below, below == 1 ? "sub-area" : "sub-areas");
    if (ovMessageBox(window(), question, ProductName, MB_YESNO | MB_ICONWARNING) != IDYES) return;
    if (!deleteArea(id)) return;
    for (uint32_t shown : ids)
        idMapRemove(areaTreeItems.map, shown);
    // Its edits go with it. The tree moves the selection to a neighbour and reports it, which
    // shows that area.
    currentAreaId = NoArea;
    ovTreeDeleteItem(window(), IdcAreaTree, item);
}

void editSelectedDescription() {
    HTREEITEM item;
    uint32_t id;
    if (selectedArea(item, id)) (void)editAreaDescription(id, window());
}

void addSelectedPluginToArea() {
    HWND w = window();
    int sel = ovListGetCurSel(w, IdcPluginList);
    if (sel < 0) return;
    LPARAM data = ovListGetItemData(w, IdcPluginList, sel);
    bool sessionCapable = false;
    char name[256];
    if (data == -1 || !getPluginInfo(uint32_t(data), sessionCapable, name)) return;
    (void)addExtensionEntry(name, uint32_t(data));
}

namespace {

void removeExtensionAt(int p) {
    HWND w = window();
    ovListDeleteString(w, IdcExtensionList, p);
    for (int k = p; k + 1 < int(MaxAreaExtensions); ++k) {
        std::memcpy(editedExtensionNames[k], editedExtensionNames[k + 1], 32);
        std::memcpy(editedExtensionArgs[k], editedExtensionArgs[k + 1], 64);
    }
    if (p < int(MaxAreaExtensions)) {
        // What moves into the last place is a tenth entry, which has no values of its own.
        editedExtensionNames[MaxAreaExtensions - 1][0] = '\0';
        editedExtensionArgs[MaxAreaExtensions - 1][0] = '\0';
    }
    if (ovListGetCount(w, IdcExtensionList) == 0) {
        ovEnableDlgItem(w, IdcEditExtension, FALSE);
        ovEnableDlgItem(w, IdcRemoveExtension, FALSE);
    }
}

} // namespace

void removeSelectedExtension() {
    int p = ovListGetCurSel(window(), IdcExtensionList);
    if (p >= 0) removeExtensionAt(p);
}

std::vector<std::string> areasUsingPlugin(uint32_t pluginId) {
    std::vector<std::string> titles;
    std::vector<bool> visited(MaxAreas, false);
    std::vector<uint32_t> pending{0};
    while (!pending.empty()) {
        uint32_t id = pending.back();
        pending.pop_back();
        AreaRecord area;
        if (id >= MaxAreas || visited[id] || !getArea(id, area)) continue;
        visited[id] = true;
        uint16_t count =
            area.extensionCount < MaxAreaExtensions ? area.extensionCount : MaxAreaExtensions;
        for (uint16_t i = 0; i < count; ++i) {
            if (area.extensionPluginIds[i] != pluginId) continue;
            titles.emplace_back(area.title);
            break;
        }
        uint16_t children = area.childCount < MaxAreaChildren ? area.childCount : MaxAreaChildren;
        for (int i = children - 1; i >= 0; --i)
            pending.push_back(area.childIds[i]);
    }
    return titles;
}

void showPluginGone(uint32_t pluginId, bool detached) {
    if (currentAreaId == NoArea) return;
    HWND w = window();
    if (detached && !areaHasUnsavedEdits()) {
        loadSelectedArea();
        return;
    }
    for (int p = ovListGetCount(w, IdcExtensionList) - 1; p >= 0; --p) {
        if (uint32_t(ovListGetItemData(w, IdcExtensionList, p)) != pluginId) continue;
        if (detached)
            removeExtensionAt(p);
        else
            relabelExtension(p);
    }
    if (!detached) return;
    // The stored area lost them too: the edits that stay are the sysop's own.
    for (size_t k = loadedArea.pluginIds.size(); k-- > 0;) {
        if (loadedArea.pluginIds[k] != pluginId) continue;
        loadedArea.pluginIds.erase(loadedArea.pluginIds.begin() + long(k));
        loadedArea.names.erase(loadedArea.names.begin() + long(k));
        loadedArea.args.erase(loadedArea.args.begin() + long(k));
    }
}

void editSelectedExtension() {
    int p = ovListGetCurSel(window(), IdcExtensionList);
    if (p < 0 || p >= int(MaxAreaExtensions)) return;
    copyText(dialogName, sizeof dialogName, editedExtensionNames[p]);
    copyText(dialogArgs, sizeof dialogArgs, editedExtensionArgs[p]);
    if (ovDialogBox(&extensionTemplate, window(), extensionDialogProc, 0) != 1) return;
    copyText(editedExtensionNames[p], sizeof editedExtensionNames[p], dialogName);
    copyText(editedExtensionArgs[p], sizeof editedExtensionArgs[p], dialogArgs);
    relabelExtension(p);
}

bool editAreaDescription(uint32_t id, HWND owner) {
    char cwd[4096];
    std::string directory = getcwd(cwd, sizeof cwd) ? cwd : "";
    directory += "/";
    directory += AreaDirectory;
    char name[64];
    std::snprintf(name, sizeof name, "%s/%08x.txt", AreaDirectory, id);
    // Create the file for the editor, but keep what the sysop already wrote.
    closeFile(openForUpdate(name));
    char command[64];
    std::snprintf(command, sizeof command, "notepad %08x.txt", id);
    if (ovStartProcess(command, directory.c_str())) return true;
    std::string text = std::string("Unable to perform action:  ") + command;
    ovMessageBox(owner, text.c_str(), ProductName, MB_OK | MB_ICONERROR);
    return false;
}
