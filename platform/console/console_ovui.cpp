// Binds the console to the UI runtime's driver interface.
#include "platform/console/console_driver.h"

#include "ovui_driver.h"

namespace {

bool applyInput(const ConsoleInput& ev) {
    HWND w = ovuiWindowFromId(ev.window);
    const std::string& t = ev.type;
    const int index = static_cast<int>(ev.index);
    if (ev.index < INT32_MIN || ev.index > INT32_MAX)
        if (t != "treeSelect" && t != "treeExpand") return false;
    if (t == "click") return ovuiClick(w, ev.control);
    if (t == "doubleClick") return ovuiDoubleClick(w, ev.control, static_cast<intptr_t>(ev.index));
    if (t == "typeText") return ovuiTypeText(w, ev.control, ev.text);
    if (t == "select") return ovuiSelect(w, ev.control, index);
    if (t == "treeSelect") return ovuiTreeSelect(w, ev.control, static_cast<HTREEITEM>(ev.index));
    if (t == "treeExpand")
        return ovuiTreeExpand(w, ev.control, static_cast<HTREEITEM>(ev.index), ev.flag);
    if (t == "listViewSelect") return ovuiListViewSelect(w, ev.control, index);
    if (t == "comboSelect") return ovuiComboSelect(w, ev.control, index);
    if (t == "comboType") return ovuiComboType(w, ev.control, ev.text);
    if (t == "menuCommand") return ovuiMenuCommand(w, static_cast<UINT>(ev.control));
    if (t == "key") return ovuiKey(w, ev.text);
    if (t == "closeBox") return ovuiCloseBox(w);
    if (t == "minimize") return ovuiMinimize(w);
    if (t == "restore") return ovuiRestore(w);
    if (t == "trayClick") return ovuiTrayClick();
    if (t == "trayDoubleClick") return ovuiTrayDoubleClick();
    if (t == "pageOpened") return ovuiPageOpened();
    if (t == "messageBoxAnswer") return ovuiMessageBoxAnswer(w, ev.control);
    if (t == "openFileBrowse") return ovuiOpenFileBrowse(w, ev.text);
    if (t == "openFileChoose") return ovuiOpenFileChoose(w, ev.text);
    if (t == "openFileCancel") return ovuiOpenFileCancel(w);
    if (t == "editorSave") return ovuiEditorSave(w, ev.text);
    if (t == "editorText") return ovuiEditorText(w, ev.text);
    if (t == "editorClose") return ovuiEditorClose(w);
    return false;
}

} // namespace

ConsoleDriver ovuiConsoleDriver() {
    ConsoleDriver d;
    d.stateVersion = [] { return ovuiStateVersion(); };
    d.waitForChange = [](uint64_t since, int timeoutMs) {
        ovuiWaitForChange(since, timeoutMs);
        return ovuiStateVersion();
    };
    d.snapshotJson = [] { return ovuiSnapshotJson(); };
    d.input = applyInput;
    d.setAnnouncer = [](std::function<void(const std::string&)> print) {
        if (!print) {
            ovuiSetObserver(nullptr);
            return;
        }
        ovuiSetObserver([print](const OvuiEvent& ev) {
            if (ev.kind == OvuiEvent::Kind::MessageBox)
                print("Message box \"" + ev.caption + "\": " + ev.text);
        });
    };
    return d;
}
