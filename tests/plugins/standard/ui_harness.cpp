#include "plugins/standard/ui_harness.h"

namespace plugtest {
namespace {

BBSWndProcProc offeredTo = nullptr;

INT_PTR mainProc(HWND wnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != WM_INITDIALOG && offeredTo && offeredTo(wnd, message, wParam, lParam))
        return TRUE;
    return FALSE;
}

} // namespace

void configureWith(BBSConfigureProc configure, HWND owner, const std::function<void(HWND)>& drive) {
    EXPECT_TRUE(ovtest::answerModal([&] { EXPECT_EQ(configure(owner), 1); }, 101, drive));
    EXPECT_EQ(ovuiFindWindowByTemplate(101), nullptr);
}

std::string dlgText(HWND dlg, int id) {
    char text[256] = {};
    ovGetDlgItemText(dlg, id, text, sizeof text);
    return text;
}

void PluginUiTest::SetUp() {
    ASSERT_TRUE(ovInitialize());
}

void PluginUiTest::TearDown() {
    offeredTo = nullptr;
    ovuiResetForTests();
}

HWND PluginUiTest::makeMainWindow(const std::vector<std::string>& popups) {
    static const OvMenuTemplate own[] = {{"&Own item", 40001, 0, nullptr, 0}};
    std::vector<OvMenuTemplate> menu;
    for (const std::string& text : popups)
        menu.push_back({text.c_str(), 0, MF_POPUP, own, 1});
    const OvDialogTemplate tpl = {900,         "Main",           300,     200, OV_DS_CAPTION,
                                  menu.data(), int(menu.size()), nullptr, 0};
    offeredTo = plugin;
    mainWindow = ovCreateDialog(&tpl, nullptr, mainProc, 0);
    EXPECT_NE(mainWindow, nullptr);
    return mainWindow;
}

std::vector<std::string> PluginUiTest::itemTexts(HMENU menu) const {
    std::vector<std::string> texts;
    const int count = ovGetMenuItemCount(menu);
    for (int i = 0; i < count; ++i) {
        char text[256] = {};
        ovGetMenuString(menu, UINT(i), text, sizeof text, MF_BYPOSITION);
        texts.push_back(text);
    }
    return texts;
}

} // namespace plugtest
