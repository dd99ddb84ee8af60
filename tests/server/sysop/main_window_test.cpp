// The editors inside the server's own main window procedure, which routes to them.
#include "editor_fixture.h"

#include "plugin_test_support.h"
#include "server/areas/area_tree.h"
#include "server/plugins/plugin_registry.h"
#include "server/sysop/main_window_resources.h"
#include "server/users/user_db.h"

namespace {

class RealMainWindow : public EditorTest {};

TEST_F(RealMainWindow, FillsTheEditorsAndRoutesTheirControls) {
    TestPlugin recorder("ovtest_recorder.so");
    ASSERT_TRUE(recorder.ok());
    ovtest::writeFile("bbsusers.dat", std::string("\x0D\x0A\x1A\x00\0\0\0\0", 8));
    UserRecord user;
    ASSERT_TRUE(addUser(user, "zoe"));
    AreaRecord games;
    ASSERT_TRUE(addSubArea(0, games));
    ASSERT_TRUE(installPlugin(recorder.path().c_str(), &nextMenuCommandId));
    unloadAllPlugins();

    openMainWindow(true);
    EXPECT_EQ(listTexts(IdcUserList), (std::vector<std::string>{"zoe"}));
    EXPECT_EQ(ovTreeGetCount(main, IdcAreaTree), 2);
    EXPECT_EQ(listTexts(IdcPluginList), (std::vector<std::string>{"Recorder"}));

    // The user editor.
    select(IdcUserList, 0);
    EXPECT_EQ(text(IdcUserLogin), "zoe");
    type(IdcUserAccess, "65535");
    click(IdcSaveUser);
    ASSERT_TRUE(findUser(user, "zoe"));
    EXPECT_EQ(user.accessLevel, 65535);
    ASSERT_TRUE(clickAndAnswer(IdcNewUser, 119, [](HWND dlg) {
        ovuiTypeText(dlg, 1048, "Mary Ann");
        ovuiClick(dlg, IDOK);
    }));
    EXPECT_EQ(listTexts(IdcUserList), (std::vector<std::string>{"maryann", "zoe"}));
    EXPECT_EQ(text(IdcUserLogin), "maryann");

    // The area editor with an extension of the plug-in.
    selectTree(treeItemOf(games.id));
    EXPECT_TRUE(enabled(IdcDeleteArea));
    choose(IdcPluginList, 0);
    EXPECT_TRUE(enabled(IdcAddToArea));
    click(IdcAddToArea);
    type(IdcAreaTitle, "Games");
    click(IdcSaveArea);
    ASSERT_TRUE(getArea(games.id, games));
    EXPECT_STREQ(games.title, "Games");
    EXPECT_EQ(games.extensionCount, 1);
    EXPECT_STREQ(games.extensionNames[0], "Recorder");

    // The plug-in buttons.
    click(IdcConfigurePlugin);
    EXPECT_EQ(recorder->configureCalls, 1);
    // Still in an area: Yes uninstalls it and takes it out of the area.
    EXPECT_EQ(clickAnswering(IdcUninstallPlugin, IDYES),
              "Uninstall the plug-in \"Recorder\"?\nIt is still used in: Games.\n\nYes: uninstall "
              "it and remove it from these areas.\nNo: uninstall it and leave its entries, marked "
              "as missing.\nCancel: keep it.");
    EXPECT_TRUE(listTexts(IdcPluginList).empty());
    EXPECT_FALSE(enabled(IdcUninstallPlugin));
    EXPECT_TRUE(listTexts(IdcExtensionList).empty());
    ASSERT_TRUE(getArea(games.id, games));
    EXPECT_EQ(games.extensionCount, 0);
    EXPECT_EQ(messageBoxes().size(), 1u);
}

} // namespace
