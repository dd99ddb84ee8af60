#include "server/sysop/plugin_dialogs.h"

#include "server/areas/area_tree.h"
#include "server/base/product.h"
#include "server/plugins/plugin_registry.h"
#include "server/sysop/app_state.h"
#include "server/sysop/area_editor.h"
#include "server/sysop/main_window_resources.h"
#include "server/sysop/ui_thread.h"

#include <new>
#include <string>
#include <vector>

namespace {

constexpr const char* FailureCaption = "Not successful";
constexpr const char* InstallFailedText =
    "Failed to install or load the selected DLL as a plug-in.";
constexpr const char* UninstallFailedText =
    "Failed to uninstall the selected plug-in.\nAn error may have occurred within the plug-in, "
    "or\nit may currently be in use by one or more users.";

HWND window() {
    return mainWindow.load();
}

void addEntry(const char* name, uint32_t id) {
    HWND w = window();
    int index = ovListAddString(w, IdcPluginList, name);
    if (index < 0) return;
    ovListSetItemData(w, IdcPluginList, index, LPARAM(id));
    ovListSetCurSel(w, IdcPluginList, index);
}

// The first entry of that name; when one plug-in is installed twice, both entries carry its
// name, so the one whose plug-in has already left the loaded list is the one that goes.
void removeEntry(const char* name) {
    HWND w = window();
    int first = ovListFindStringExact(w, IdcPluginList, -1, name);
    if (first < 0) return;
    int index = first;
    do {
        bool sessionCapable = false;
        char loadedName[256];
        LPARAM id = ovListGetItemData(w, IdcPluginList, index);
        if (!getPluginInfo(uint32_t(id), sessionCapable, loadedName)) break;
        index = ovListFindStringExact(w, IdcPluginList, index, name);
    } while (index > first);
    if (index <= first) index = first;
    ovListDeleteString(w, IdcPluginList, index);
}

// The registry works on the UI thread, but a server stop may unload from elsewhere.
const ListSink pluginListSink{
    [](const char* name, uint32_t id) {
        runOnUiThread([n = std::string(name), id] { addEntry(n.c_str(), id); });
    },
    [](const char* name) { runOnUiThread([n = std::string(name)] { removeEntry(n.c_str()); }); },
};

// The selected plug-in's id; false without a selection or item data.
bool selectedPlugin(uint32_t& id) {
    int sel = ovListGetCurSel(window(), IdcPluginList);
    if (sel < 0) return false;
    LPARAM data = ovListGetItemData(window(), IdcPluginList, sel);
    if (data == -1) return false;
    id = uint32_t(data);
    return true;
}

void showFailure(const char* text) {
    ovMessageBox(window(), text, FailureCaption, MB_OK | MB_ICONERROR);
}

} // namespace

void initPluginDialogs() {
    setPluginListSink(&pluginListSink);
}

void installPluginFromDialog() {
    char file[256] = {};
    OvOpenFileName ofn{};
    ofn.owner = window();
    ofn.title = "Install which plug-in?";
    ofn.filterDescription = "Plug-ins (DLLs)";
    ofn.filterPattern = "*.so"; // the platform's libraries
    ofn.defaultExtension = "so";
    ofn.file = file;
    ofn.fileSize = sizeof file;
    ofn.flags = OV_OFN_FILEMUSTEXIST | OV_OFN_PATHMUSTEXIST | OV_OFN_NOCHANGEDIR;
    if (!ovGetOpenFileName(&ofn)) return;
    if (installPlugin(file, &nextMenuCommandId))
        refreshPluginButtons(); // listAddPlugin has added and selected the new entry
    else
        showFailure(InstallFailedText);
}

void uninstallSelectedPlugin() {
    uint32_t id;
    bool sessionCapable = false;
    char name[256];
    if (!selectedPlugin(id) || !getPluginInfo(id, sessionCapable, name)) return;
    std::vector<std::string> areas = areasUsingPlugin(id);
    std::string question = std::string("Uninstall the plug-in \"") + name + "\"?";
    UINT buttons = MB_YESNO;
    if (!areas.empty()) {
        // Yes takes its entries out of the areas too; No leaves them, shown as missing.
        question += "\nIt is still used in: ";
        for (size_t i = 0; i < areas.size(); ++i)
            question += (i ? ", " : "") + areas[i];
        question += ".\n\nYes: uninstall it and remove it from these areas.\nNo: uninstall it "
                    "and leave its entries, marked as missing.\nCancel: keep it.";
        buttons = MB_YESNOCANCEL;
    }
    int answer = ovMessageBox(window(), question.c_str(), ProductName, buttons | MB_ICONWARNING);
    if (areas.empty() ? answer != IDYES : answer != IDYES && answer != IDNO) return;
    if (!uninstallPlugin(id)) {
        showFailure(UninstallFailedText);
        return;
    }
    refreshPluginButtons(); // listRemovePlugin has removed the entry
    bool detach = !areas.empty() && answer == IDYES;
    if (detach && !removePluginEntries(id))
        showFailure("The plug-in's entries could not be removed from the area file.");
    showPluginGone(id, detach);
}

void configureSelectedPlugin() {
    uint32_t id;
    if (selectedPlugin(id)) (void)configurePlugin(id);
}

void refreshPluginButtons() {
    HWND w = window();
    if (ovListGetCurSel(w, IdcPluginList) < 0) {
        ovEnableDlgItem(w, IdcConfigurePlugin, FALSE);
        ovEnableDlgItem(w, IdcUninstallPlugin, FALSE);
        ovEnableDlgItem(w, IdcAddToArea, FALSE);
        return;
    }
    ovEnableDlgItem(w, IdcConfigurePlugin, TRUE);
    ovEnableDlgItem(w, IdcUninstallPlugin, TRUE);
    uint32_t id;
    bool sessionCapable = false;
    char name[256];
    if (selectedPlugin(id) && getPluginInfo(id, sessionCapable, name))
        ovEnableDlgItem(w, IdcAddToArea, sessionCapable ? TRUE : FALSE);
}
