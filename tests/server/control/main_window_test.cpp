// The main window as the sysop meets it: start steps, the Security switches, hiding to the
// tray and coming back, the about box, and exit while callers are online.
#include "server_harness.h"

#include <unistd.h>

#include <cstring>

#include "plugin_test_support.h"
#include "server/areas/area_tree.h"
#include "server/connections/telnet_listener.h"
#include "server/control/startup.h"
#include "server/plugins/plugin_registry.h"
#include "server/preferences/preferences.h"
#include "server/sysop/app_state.h"
#include "server/sysop/main_window_resources.h"
#include "server/sysop/tray.h"
#include "server/users/user_db.h"

namespace {

using MainWindowTest = ServerTest;

TEST_F(MainWindowTest, StartsListeningWithTrayTipAndChecksFromThePreferences) {
    preparePreferences([] {
        ASSERT_TRUE(setMaxUsers(5));
        ASSERT_TRUE(setAllowNewAccounts(false));
        ASSERT_TRUE(setParanoidLogging(true));
        ASSERT_TRUE(setPluginsMayChangeAccess(false));
        ASSERT_TRUE(setUnrevealingLogin(true));
    });
    startServer();
    ASSERT_NE(main, nullptr);
    EXPECT_EQ(ovuiFindWindowByTemplate(MainDialogId), main);
    char title[64] = {};
    ovGetWindowText(main, title, sizeof title);
    EXPECT_STREQ(title, "Ossivane BBS");
    EXPECT_TRUE(ovIsWindowVisible(main));
    EXPECT_TRUE(isListening());
    EXPECT_NE(wmSocket.load(), 0u);
    EXPECT_NE(wmToolTray.load(), 0u);
    EXPECT_NE(wmTaskbarCreated.load(), 0u);

    char tip[TrayTipSize];
    currentTrayTip(tip);
    EXPECT_STREQ(tip, "0 user(s) out of a maximum of 5");
    EXPECT_EQ(currentTrayLevel(), 0);

    EXPECT_FALSE(menuChecked(CmdAllowNewAccounts));
    EXPECT_TRUE(menuChecked(CmdParanoidLogging));
    EXPECT_FALSE(menuChecked(CmdPluginsChangeAccess));
    EXPECT_TRUE(menuChecked(CmdUnrevealingLogin));
    // Help, Contents is there but greyed.
    EXPECT_NE(ovGetMenuState(ovGetMenu(main), CmdHelpContents, MF_BYCOMMAND) & MF_GRAYED, 0u);

    // A caller gets through to the login prompt.
    ovtest::LoopbackClient caller = callIn();
    caller.close();

    stopServer();
    EXPECT_FALSE(isListening());
    EXPECT_EQ(ovuiFindWindowByTemplate(MainDialogId), nullptr);
}

TEST_F(MainWindowTest, SecuritySwitchesRewriteTheirByteAtOnce) {
    preparePreferences();
    startServer();
    struct Switch {
        UINT command;
        size_t offset;
        bool (*get)();
    } switches[] = {
        {CmdAllowNewAccounts, 20, getAllowNewAccounts},
        {CmdPluginsChangeAccess, 21, getPluginsMayChangeAccess},
        {CmdParanoidLogging, 17, getParanoidLogging},
        {CmdUnrevealingLogin, 22, getUnrevealingLogin},
    };
    for (const Switch& s : switches) {
        SCOPED_TRACE(s.command);
        const bool before = s.get();
        const std::string fileBefore = prefFile();
        ASSERT_EQ(fileBefore.size(), PreferencesSize);
        EXPECT_EQ(menuChecked(s.command), before);

        ASSERT_TRUE(ovuiMenuCommand(main, s.command));
        ASSERT_TRUE(ovtest::waitUntil([&] { return s.get() != before; }));
        const std::string fileAfter = prefFile();
        ASSERT_EQ(fileAfter.size(), PreferencesSize);
        EXPECT_EQ(uint8_t(fileAfter[s.offset]), before ? 0 : 1);
        // Only that byte changed.
        std::string expected = fileBefore;
        expected[s.offset] = fileAfter[s.offset];
        EXPECT_EQ(fileAfter, expected);
        EXPECT_TRUE(ovtest::waitUntil([&] { return menuChecked(s.command) == !before; }));

        ASSERT_TRUE(ovuiMenuCommand(main, s.command));
        ASSERT_TRUE(ovtest::waitUntil([&] { return s.get() == before; }));
        EXPECT_EQ(prefFile(), fileBefore);
        EXPECT_TRUE(ovtest::waitUntil([&] { return menuChecked(s.command) == before; }));
    }
}

TEST_F(MainWindowTest, MinimiseAndHideLeaveTheTrayIconWhoseDoubleClickRestores) {
    preparePreferences();
    startServer();
    ASSERT_TRUE(ovuiMinimize(main));
    ASSERT_TRUE(ovtest::waitUntil([&] { return !ovIsWindowVisible(main); }));

    // A single click does nothing, a double click brings the window back.
    ASSERT_TRUE(ovuiTrayClick());
    onUiThread([] {});
    EXPECT_FALSE(ovIsWindowVisible(main));
    ASSERT_TRUE(ovuiTrayDoubleClick());
    ASSERT_TRUE(ovtest::waitUntil([&] { return ovIsWindowVisible(main) != 0; }));
    EXPECT_FALSE(ovIsIconic(main));

    // Maximise is refused.
    ovPostMessage(main, WM_SYSCOMMAND, SC_MAXIMIZE, 0);
    onUiThread([] {});
    EXPECT_TRUE(ovIsWindowVisible(main));

    ASSERT_TRUE(ovuiMenuCommand(main, CmdHide));
    ASSERT_TRUE(ovtest::waitUntil([&] { return !ovIsWindowVisible(main); }));
    ASSERT_TRUE(ovuiTrayDoubleClick());
    ASSERT_TRUE(ovtest::waitUntil([&] { return ovIsWindowVisible(main) != 0; }));
}

TEST_F(MainWindowTest, RestartedTaskbarGetsTheIconBackWithItsTip) {
    preparePreferences([] { ASSERT_TRUE(setMaxUsers(7)); });
    startServer();
    // The shell lost its icons: the runtime's tray is empty until the window adds it again.
    onUiThread([] {
        OvNotifyIconData gone{};
        gone.hwnd = mainWindow.load();
        gone.id = 1;
        ovShellNotifyIcon(NIM_DELETE, &gone);
    });
    ASSERT_EQ(ovuiSnapshotJson().find("\"tip\":\"0 user(s) out of a maximum of 7\""),
              std::string::npos);
    ASSERT_TRUE(ovuiPageOpened());
    EXPECT_TRUE(ovtest::waitUntil([] {
        return ovuiSnapshotJson().find("\"tip\":\"0 user(s) out of a maximum of 7\"") !=
               std::string::npos;
    }));
}

TEST_F(MainWindowTest, AboutBoxShowsTheVersionAndClosesOnOk) {
    preparePreferences();
    startServer();
    ASSERT_TRUE(ovuiMenuCommand(main, CmdAbout));
    HWND about = waitForWindow(AboutDialogId);
    ASSERT_NE(about, nullptr);
    char title[64] = {}, version[64] = {};
    ovGetWindowText(about, title, sizeof title);
    ovGetDlgItemText(about, 1000, version, sizeof version);
    EXPECT_STREQ(title, "About Ossivane BBS...");
    EXPECT_STREQ(version, "Version 1.00b1, build 311 (14 Apr 99)");
    EXPECT_EQ(ovGetParent(about), main);
    ASSERT_TRUE(ovuiClick(about, IDOK));
    EXPECT_TRUE(waitForWindowGone(AboutDialogId));
}

TEST_F(MainWindowTest, EnterAndEscapeDoNothingInTheMainWindow) {
    preparePreferences();
    startServer();
    ASSERT_TRUE(ovuiKey(main, "escape"));
    ASSERT_TRUE(ovuiKey(main, "enter"));
    onUiThread([] {});
    EXPECT_FALSE(serverStopped());
    EXPECT_TRUE(ovIsWindowVisible(main));
}

TEST_F(MainWindowTest, WithoutPreferencesTheNoticeComesBeforeTheMainWindow) {
    testing::internal::CaptureStdout();
    launchServer(); // no osvbpref.dat in the fresh directory
    SeenMessageBox box = waitForMessageBox();
    EXPECT_EQ(box.caption, "Preferences file not found");
    EXPECT_EQ(box.text,
              "Ossivane did not find a preferences file (osvbpref.dat) in the working directory; "
              "the default configuration is being used.  You should choose \"Configure\" from "
              "the \"File\" menu to set the configuration options.");
    EXPECT_EQ(mainWindow.load(), nullptr);
    EXPECT_EQ(ovuiFindWindowByTemplate(100), nullptr); // the splash has closed
    ASSERT_TRUE(ovuiMessageBoxAnswer(box.box, IDOK));
    waitForMainWindow();
    const std::string out = testing::internal::GetCapturedStdout();
    const char* steps[] = {"Initializing Common Controls...",
                           "Loading preferences...",
                           "Initializing Windows Sockets 1.1...",
                           "Initializing Windows Telephony 1.4...",
                           "Loading BBS layout...",
                           "Version 1.00b1, build 311 (14 Apr 99)",
                           "Message box \"Preferences file not found\""};
    size_t at = 0;
    for (const char* step : steps) {
        size_t found = out.find(step, at);
        EXPECT_NE(found, std::string::npos) << step << " in\n" << out;
        if (found != std::string::npos) at = found;
    }
    // The defaults are in use; nothing was written.
    EXPECT_EQ(getTelnetPort(), 23);
    EXPECT_FALSE(ovtest::fileExists("osvbpref.dat"));
}

TEST_F(MainWindowTest, StopBeforeTheMainWindowShutsDownWithoutOpeningIt) {
    launchServer();
    SeenMessageBox box = waitForMessageBox();
    ASSERT_EQ(box.caption, "Preferences file not found");
    requestServerStop(); // as SIGTERM while the notice waits
    ASSERT_TRUE(ovtest::waitUntil([this] { return serverStopped(); }));
    EXPECT_EQ(ovuiFindWindowByTemplate(MainDialogId), nullptr);
    EXPECT_FALSE(isListening());
}

TEST_F(MainWindowTest, StopWhileADialogIsOpenCancelsItAndClosesTheWindow) {
    preparePreferences();
    startServer();
    ASSERT_TRUE(ovuiMenuCommand(main, CmdTelnet));
    ASSERT_NE(waitForWindow(120), nullptr);
    requestServerStop();
    ASSERT_TRUE(ovtest::waitUntil([this] { return serverStopped(); }));
    EXPECT_EQ(ovuiFindWindowByTemplate(120), nullptr);
    EXPECT_EQ(getTelnetPort(), port); // cancelled, nothing stored
}

TEST_F(MainWindowTest, ExitDropsEveryCallerBeforeThePluginsUnload) {
    TestPlugin recorder("ovtest_recorder.so");
    ASSERT_TRUE(recorder.ok());
    preparePreferences();
    UINT counter = FirstPluginMenuCommandId;
    ASSERT_TRUE(installPlugin(recorder.path().c_str(), &counter));
    unloadAllPlugins();
    ASSERT_TRUE(loadAreaTree());
    AreaRecord root;
    ASSERT_TRUE(getArea(0, root));
    root.extensionCount = 1;
    root.extensionPluginIds[0] = 0;
    std::strcpy(root.extensionNames[0], "Waiting room");
    std::strcpy(root.extensionArgs[0], "wait");
    ASSERT_TRUE(putArea(0, root));
    freeAreaTree();
    UserRecord u;
    ASSERT_TRUE(addUser(u, "alice"));
    std::strcpy(u.password, "secret");
    ASSERT_TRUE(updateUser(u));
    recorder->shutdownCalls = 0;
    recorder->startupCalls = 0;

    startServer();
    ASSERT_EQ(recorder->startupCalls, 1);
    ovtest::LoopbackClient waiting = callIn();
    ovtest::LoopbackClient idle = callIn();
    ASSERT_TRUE(waiting.send("alice\r\n"));
    char prompt[PrefTextSize];
    getPrefText(PrefText::PasswordPrompt, prompt);
    ASSERT_NE(waiting.readUntil(prompt).find(prompt), std::string::npos);
    ASSERT_TRUE(waiting.send("secret\r\n"));
    ASSERT_NE(waiting.readUntil("]  ").find("Waiting room"), std::string::npos);
    ASSERT_TRUE(waiting.send("A"));
    ASSERT_NE(waiting.readUntil("recorder:wait").find("recorder:wait"), std::string::npos);
    ASSERT_TRUE(ovtest::waitUntil([&] { return atomicRead(recorder->sessionsInside) == 1; }));

    ASSERT_TRUE(ovuiMenuCommand(main, CmdExit));
    ASSERT_TRUE(ovtest::waitUntil([this] { return serverStopped(); }));
    EXPECT_TRUE(waiting.waitForClose());
    EXPECT_TRUE(idle.waitForClose());
    EXPECT_EQ(recorder->shutdownCalls, 1);
    // The caller had already been dropped and had left the plug-in when it was shut down.
    EXPECT_EQ(recorder->insideAtShutdown, 0);
    EXPECT_FALSE(isListening());
}

TEST_F(MainWindowTest, TelnetPortInUseIsNoticedOnceAndTheServerRunsOn) {
    uint16_t taken = 0;
    int holder = ovtest::listenOnFreePort(taken);
    ASSERT_GE(holder, 0);
    preparePreferences([&] { ASSERT_TRUE(setTelnetPort(taken)); });
    testing::internal::CaptureStderr();
    startServer();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find(std::to_string(taken)), std::string::npos) << err;
    EXPECT_FALSE(isListening());
    HWND notice = waitForWindow(130);
    ASSERT_NE(notice, nullptr);
    char text[256] = {};
    ovGetDlgItemText(notice, 1000, text, sizeof text);
    EXPECT_NE(std::string(text).find("port " + std::to_string(taken)), std::string::npos);
    // Not modal: the main window still takes commands underneath.
    EXPECT_EQ(ovuiTopModal(), main);
    ASSERT_TRUE(ovuiMenuCommand(main, CmdAbout));
    HWND about = waitForWindow(AboutDialogId);
    ASSERT_NE(about, nullptr);
    ASSERT_TRUE(ovuiClick(about, IDOK));
    ASSERT_TRUE(waitForWindowGone(AboutDialogId));
    ASSERT_TRUE(ovuiClick(notice, IDOK));
    EXPECT_TRUE(waitForWindowGone(130));
    close(holder);
}

TEST_F(MainWindowTest, APluginThatTakesACommandTakesItFromTheWindow) {
    TestPlugin stealer("ovtest_stealer.so");
    ASSERT_TRUE(stealer.ok());
    preparePreferences();
    UINT counter = FirstPluginMenuCommandId;
    ASSERT_TRUE(installPlugin(stealer.path().c_str(), &counter));
    unloadAllPlugins();
    startServer();
    ASSERT_EQ(ovListGetCount(main, 1041), 1);
    // Its own menu command goes to the plug-in and nowhere else.
    const int callsBefore = stealer->wndProcCalls;
    onUiThread(
        [this] { ovSendMessage(main, WM_COMMAND, MAKEWPARAM(FirstPluginMenuCommandId, 0), 0); });
    EXPECT_GT(stealer->wndProcCalls, callsBefore);
    EXPECT_EQ(stealer->lastMessage, UINT(WM_COMMAND));
    EXPECT_EQ(LOWORD(stealer->lastWParam), FirstPluginMenuCommandId);
    EXPECT_FALSE(serverStopped());
    // The window's own commands are offered first but left to the window.
    ASSERT_TRUE(ovuiMenuCommand(main, CmdAbout));
    HWND about = waitForWindow(AboutDialogId);
    ASSERT_NE(about, nullptr);
    EXPECT_EQ(LOWORD(stealer->lastWParam), CmdAbout);
    ASSERT_TRUE(ovuiClick(about, IDOK));
    ASSERT_TRUE(waitForWindowGone(AboutDialogId));
}

} // namespace
