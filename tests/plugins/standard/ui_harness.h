// The UI side of the plug-in tests: a main window with a menu bar made by the UI runtime on the
// test thread (which becomes the UI thread), and a way to work a plug-in's modal dialog.
#pragma once

#include "ovui.h"
#include "ovui_driver.h"
#include "plugins/standard/plugin_harness.h"
#include "support/ui_driver.h"

#include <functional>
#include <string>
#include <vector>

namespace plugtest {

// Runs `step` on the UI thread after everything queued so far (input included).
inline void postStep(std::function<void()> step) {
    ovtest::postToUiThread(std::move(step));
}

// Calls `configure(owner)` on this thread; `drive` gets the dialog made from template 101 while
// its loop runs (ovtest::answerModal) and queues the input that ends it.
void configureWith(BBSConfigureProc configure, HWND owner, const std::function<void(HWND)>& drive);

std::string dlgText(HWND dlg, int id);

class PluginUiTest : public ovtest::WorkDirTest {
protected:
    void SetUp() override;
    void TearDown() override;
    // A main window whose menu bar has these pop-ups (each with one item of its own); its
    // procedure offers every message to `plugin` first, as the server does.
    HWND makeMainWindow(const std::vector<std::string>& popups);
    HMENU bar() const { return ovGetMenu(mainWindow); }
    std::vector<std::string> itemTexts(HMENU menu) const;

    HWND mainWindow = nullptr;
    BBSWndProcProc plugin = nullptr;
};

} // namespace plugtest
