// What the console needs from the UI runtime, as a table of functions so that tests can run the
// console over a runtime of their own. ovuiConsoleDriver() binds the real runtime.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

// One input event from a page, already checked for shape. Which fields matter depends on type:
// click, doubleClick, typeText, select, treeSelect, treeExpand, listViewSelect, comboSelect,
// comboType, menuCommand, key, closeBox, minimize, restore, trayClick, trayDoubleClick,
// pageOpened, messageBoxAnswer, openFileBrowse, openFileChoose, openFileCancel, editorSave,
// editorClose.
struct ConsoleInput {
    std::string type;
    uint64_t window = 0; // window (or message box) handle as the snapshot names it
    int control = 0;     // control id, menu command id, or message box answer
    int64_t index = -1;  // list row, combo entry, tree item handle
    bool flag = false;   // treeExpand: expand or collapse
    std::string text;    // typed text, key name, path, editor contents
};

struct ConsoleDriver {
    std::function<uint64_t()> stateVersion;
    // Blocks until the version differs from `since` or the time-out passes; returns the version.
    std::function<uint64_t(uint64_t since, int timeoutMs)> waitForChange;
    std::function<std::string()> snapshotJson;
    // False when the runtime refused the event (unknown id, disabled, below a modal dialog).
    std::function<bool(const ConsoleInput&)> input;
    // Registers a printer for message boxes and splash texts, or removes it (empty function).
    std::function<void(std::function<void(const std::string& line)>)> setAnnouncer;
};

ConsoleDriver ovuiConsoleDriver();

// Starts the console over `driver` on "host:port" (port 0 picks a free one).
// With an empty token a fresh one is made for this run.
[[nodiscard]] bool startConsoleWith(const ConsoleDriver& driver, const std::string& hostPort,
                                    const std::string& token = {});
// The port the running console listens on, 0 if none.
int consolePort();
