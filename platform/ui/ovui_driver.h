// The UI runtime seen from the sysop console and from tests: a versioned snapshot of every
// window, input that becomes exactly the messages a real window system sends, and a headless
// loop driver. All functions may be called from any thread. Input is queued in order and
// checked on the UI thread against the state it meets there: input naming a window or control
// that no longer exists, a disabled or hidden one, or a window under a modal dialog is ignored
// (and counted). Window ids in the snapshot are the HWND values; see README.md for the schema.
#pragma once

#include "ovui.h"

#include <cstdint>
#include <functional>
#include <string>

#define OVUI_CXX_API __attribute__((visibility("default")))

struct OvuiEvent {
    enum class Kind { StateChanged, MessageBox };
    Kind kind = Kind::StateChanged;
    uint64_t version = 0;
    HWND window = nullptr; // MessageBox: the box
    std::string caption;   // MessageBox
    std::string text;      // MessageBox
};

// Called on the thread that made the change, never with the runtime lock held. It must be
// quick and must not wait for the UI thread. Pass nullptr to remove it.
OVUI_CXX_API void ovuiSetObserver(std::function<void(const OvuiEvent&)> observer);

OVUI_CXX_API uint64_t ovuiStateVersion();
// True once the version differs from `since`; false after timeoutMs.
OVUI_CXX_API bool ovuiWaitForChange(uint64_t since, int timeoutMs);
OVUI_CXX_API std::string ovuiSnapshotJson();
inline HWND ovuiWindowFromId(uint64_t id) {
    return reinterpret_cast<HWND>(uintptr_t(id));
}

// Input. Each returns false only when it cannot be queued (bad argument).
OVUI_CXX_API bool ovuiClick(HWND window, int controlId);
OVUI_CXX_API bool ovuiDoubleClick(HWND window, int controlId, intptr_t indexOrItem);
OVUI_CXX_API bool ovuiTypeText(HWND window, int controlId, const std::string& text);
OVUI_CXX_API bool ovuiSelect(HWND window, int controlId, int index); // list box, combo, list view
OVUI_CXX_API bool ovuiTreeSelect(HWND window, int controlId, HTREEITEM item);
OVUI_CXX_API bool ovuiTreeExpand(HWND window, int controlId, HTREEITEM item, bool expand);
OVUI_CXX_API bool ovuiListViewSelect(HWND window, int controlId, int row);
OVUI_CXX_API bool ovuiComboSelect(HWND window, int controlId, int index);
OVUI_CXX_API bool ovuiComboType(HWND window, int controlId, const std::string& text);
OVUI_CXX_API bool ovuiMenuCommand(HWND window, UINT commandId);
OVUI_CXX_API bool ovuiKey(HWND window, const std::string& key); // "enter", "escape", "tab"
OVUI_CXX_API bool ovuiCloseBox(HWND window);
OVUI_CXX_API bool ovuiMinimize(HWND window);
OVUI_CXX_API bool ovuiRestore(HWND window);
OVUI_CXX_API bool ovuiTrayClick();
OVUI_CXX_API bool ovuiTrayDoubleClick();
OVUI_CXX_API bool ovuiPageOpened(); // "TaskbarCreated" to every top-level window
OVUI_CXX_API bool ovuiMessageBoxAnswer(HWND box, int result);
OVUI_CXX_API bool ovuiOpenFileBrowse(HWND window, const std::string& dir);
OVUI_CXX_API bool ovuiOpenFileChoose(HWND window, const std::string& name);
OVUI_CXX_API bool ovuiOpenFileCancel(HWND window);
OVUI_CXX_API bool ovuiEditorSave(HWND window, const std::string& text);
// The editor's text as the sysop has it so far, unsaved (sent before a close, so that the close
// can ask about it).
OVUI_CXX_API bool ovuiEditorText(HWND window, const std::string& text);
OVUI_CXX_API bool ovuiEditorClose(HWND window);
// How many queued inputs were ignored so far.
OVUI_CXX_API uint64_t ovuiIgnoredInputCount();

// Headless loop driver. On the UI thread: run the loop until nothing is queued / until cond
// holds (false after timeoutMs). ovuiWaitFor works on any thread: it pumps on the UI thread and
// waits for state changes elsewhere; cond must use only thread-safe calls.
OVUI_CXX_API void ovuiPumpUntilIdle();
OVUI_CXX_API bool ovuiPumpUntil(const std::function<bool()>& cond, int timeoutMs);
OVUI_CXX_API bool ovuiWaitFor(const std::function<bool()>& cond, int timeoutMs);

// The newest live window made from this template id (built-ins: OVUI_TEMPLATE_*), or null.
OVUI_CXX_API HWND ovuiFindWindowByTemplate(int templateId);
OVUI_CXX_API HWND ovuiTopModal(); // the innermost running modal dialog, or null
OVUI_CXX_API int ovuiModalDepth();
// Tests: destroys every window, the tray icon, timers and watches (no modal loop may run).
OVUI_CXX_API void ovuiResetForTests();

constexpr int OVUI_TEMPLATE_MESSAGEBOX = -100;
constexpr int OVUI_TEMPLATE_OPENFILE = -101;
constexpr int OVUI_TEMPLATE_EDITOR = -102;
