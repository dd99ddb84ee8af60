// The memo plug-in's two commands in a main window made by the UI runtime.
#include "plugins/standard/ui_harness.h"

namespace {

using ovtest::fileExists;
using ovtest::writeFile;
using plugtest::PluginLibrary;

const std::string ReadText = "&Read messages from users...";
const std::string ClearText = "&Clear all messages";
using Texts = std::vector<std::string>;

class JotboxMenu : public plugtest::PluginUiTest {
protected:
    void SetUp() override {
        PluginUiTest::SetUp();
        ASSERT_TRUE(lib.loaded());
        plugin = lib.wndProc;
    }
    bool startIn(HWND window) {
        const HostServices services = plugtest::testServices();
        return lib.startup(window, ovGetMenu(window), 0, 1, &nextId, &services) != 0;
    }
    PluginLibrary lib{"jotbox.so"};
    UINT nextId = 41000;
};

TEST_F(JotboxMenu, CommandsJoinTheWindowMenuAndLeaveAtShutdown) {
    makeMainWindow({"&File", "&Security", "&Options", "&Window"});
    ASSERT_TRUE(startIn(mainWindow));
    EXPECT_EQ(nextId, 41002u);
    EXPECT_EQ(itemTexts(ovGetSubMenu(bar(), 3)), (Texts{"&Own item", ReadText, ClearText}));
    EXPECT_EQ(itemTexts(ovGetSubMenu(bar(), 2)), Texts{"&Own item"});
    EXPECT_NE(ovGetMenuState(bar(), 41000, MF_BYCOMMAND), UINT(-1));
    EXPECT_EQ(lib.shutdown(mainWindow), 1);
    EXPECT_EQ(itemTexts(ovGetSubMenu(bar(), 3)), Texts{"&Own item"});
    EXPECT_EQ(ovGetMenuState(bar(), 41000, MF_BYCOMMAND), UINT(-1));
}

TEST_F(JotboxMenu, WindowIsFoundIgnoringLetterCase) {
    makeMainWindow({"&File", "&Edit", "&View", "&wINDOW"});
    ASSERT_TRUE(startIn(mainWindow));
    EXPECT_EQ(itemTexts(ovGetSubMenu(bar(), 3)), (Texts{"&Own item", ReadText, ClearText}));
    EXPECT_EQ(lib.shutdown(mainWindow), 1);
}

TEST_F(JotboxMenu, WithoutWindowTheThirdPopUpTakesThem) {
    makeMainWindow({"&File", "&Edit", "&View", "Window"});
    ASSERT_TRUE(startIn(mainWindow));
    EXPECT_EQ(itemTexts(ovGetSubMenu(bar(), 2)), (Texts{"&Own item", ReadText, ClearText}));
    EXPECT_EQ(itemTexts(ovGetSubMenu(bar(), 3)), Texts{"&Own item"});
    EXPECT_EQ(lib.shutdown(mainWindow), 1);
    EXPECT_EQ(itemTexts(ovGetSubMenu(bar(), 2)), Texts{"&Own item"});
}

TEST_F(JotboxMenu, WithoutAThirdPopUpTheBarTakesThem) {
    makeMainWindow({"&File", "&Edit"});
    ASSERT_TRUE(startIn(mainWindow));
    EXPECT_EQ(itemTexts(bar()), (Texts{"&File", "&Edit", ReadText, ClearText}));
    EXPECT_EQ(lib.shutdown(mainWindow), 1);
    EXPECT_EQ(itemTexts(bar()), (Texts{"&File", "&Edit"}));
}

TEST_F(JotboxMenu, OtherInterfaceVersionsAddNothing) {
    makeMainWindow({"&File", "&Edit", "&Window"});
    const HostServices newer = plugtest::testServices(0x10001);
    EXPECT_EQ(lib.startup(mainWindow, bar(), 0, 1, &nextId, &newer), 1);
    const HostServices later = plugtest::testServices(0x20000);
    EXPECT_EQ(lib.startup(mainWindow, bar(), 0, 1, &nextId, &later), 0);
    EXPECT_EQ(nextId, 41000u);
    EXPECT_EQ(itemTexts(ovGetSubMenu(bar(), 2)), Texts{"&Own item"});
}

TEST_F(JotboxMenu, MenuCommandsReadAndClearTheMemos) {
    makeMainWindow({"&File", "&Edit", "&Window"});
    ASSERT_TRUE(startIn(mainWindow));

    // No memos yet: the editor cannot open the file. The sysop is told, from the loop after the
    // window procedure returned, and the library stays loaded until the box was shown.
    ovtest::MessageBoxLog boxes;
    EXPECT_EQ(lib.wndProc(mainWindow, WM_COMMAND, MAKEWPARAM(41000, 0), 0), 1);
    EXPECT_EQ(ovuiFindWindowByTemplate(OVUI_TEMPLATE_MESSAGEBOX), nullptr);
    EXPECT_EQ(lib.shutdown(mainWindow), 0);
    EXPECT_TRUE(ovtest::answerModal([] {}, OVUI_TEMPLATE_MESSAGEBOX,
                                    [](HWND box) { ovuiMessageBoxAnswer(box, IDOK); }));
    const auto told = boxes.next();
    EXPECT_EQ(told.caption + ": " + told.text, "Memo to sysop: There are no messages from users.");
    EXPECT_EQ(ovuiFindWindowByTemplate(OVUI_TEMPLATE_EDITOR), nullptr);
    EXPECT_FALSE(fileExists("jotbox.txt"));

    writeFile("jotbox.txt", "[a]:  \"b\"\r\n");
    ASSERT_TRUE(ovuiMenuCommand(mainWindow, 41000));
    EXPECT_TRUE(
        ovuiPumpUntil([] { return ovuiFindWindowByTemplate(OVUI_TEMPLATE_EDITOR); }, 10000));

    ASSERT_TRUE(ovuiMenuCommand(mainWindow, 41001));
    EXPECT_TRUE(ovuiPumpUntil([] { return !fileExists("jotbox.txt"); }, 10000));
    EXPECT_EQ(lib.wndProc(mainWindow, WM_COMMAND, MAKEWPARAM(41001, 0), 0), 1); // nothing left

    EXPECT_EQ(lib.wndProc(mainWindow, WM_COMMAND, MAKEWPARAM(41002, 0), 0), 0);
    EXPECT_EQ(lib.wndProc(mainWindow, WM_CLOSE, MAKEWPARAM(41000, 0), 0), 0);
    EXPECT_EQ(lib.shutdown(mainWindow), 1);
    EXPECT_EQ(lib.wndProc(mainWindow, WM_COMMAND, MAKEWPARAM(41001, 0), 0), 0);
}

TEST_F(JotboxMenu, InstalledTwiceGetsTwoPairsAndGivesBothBack) {
    makeMainWindow({"&File", "&Edit", "&Window"});
    ASSERT_TRUE(startIn(mainWindow));
    ASSERT_TRUE(startIn(mainWindow));
    EXPECT_EQ(nextId, 41004u);
    EXPECT_EQ(ovGetMenuItemCount(ovGetSubMenu(bar(), 2)), 5);
    writeFile("jotbox.txt", "x");
    EXPECT_EQ(lib.wndProc(mainWindow, WM_COMMAND, MAKEWPARAM(41003, 0), 0), 1);
    EXPECT_FALSE(fileExists("jotbox.txt"));
    EXPECT_EQ(lib.shutdown(mainWindow), 1);
    EXPECT_EQ(lib.shutdown(mainWindow), 1);
    EXPECT_EQ(itemTexts(ovGetSubMenu(bar(), 2)), Texts{"&Own item"});
}

} // namespace
