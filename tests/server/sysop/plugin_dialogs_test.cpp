// The "Installed plug-ins" list and its buttons: installing through the open-file dialog,
// uninstalling, configuring, and the failure messages.
#include "editor_fixture.h"

#include "plugin_test_support.h"
#include "server/plugins/plugin_registry.h"
#include "server/plugins/plugin_session.h"
#include "server/sysop/main_window_resources.h"
#include "server/sysop/plugin_dialogs.h"

#include <filesystem>

namespace {

const std::string InstallFailed = "Failed to install or load the selected DLL as a plug-in.";
const std::string UninstallFailed =
    "Failed to uninstall the selected plug-in.\nAn error may have occurred within the plug-in, "
    "or\nit may currently be in use by one or more users.";

class PluginDialogs : public EditorTest {
protected:
    // Clicks "Install new..." and chooses `name` (relative to the working directory).
    bool installByDialog(const std::string& name, nlohmann::json* shown = nullptr) {
        return clickAndAnswer(IdcInstallPlugin, OVUI_TEMPLATE_OPENFILE, [&](HWND dlg) {
            if (shown) *shown = windowJson(dlg);
            ovuiOpenFileChoose(dlg, name);
        });
    }

    // Answers the message box that `id` opens with OK and returns its snapshot.
    // With `confirmed`, the uninstall question comes first and is answered Yes.
    nlohmann::json clickExpectingMessage(int id, bool confirmed = false) {
        nlohmann::json box;
        std::vector<ovtest::ModalAnswer> answers;
        if (confirmed)
            answers.push_back(
                {OVUI_TEMPLATE_MESSAGEBOX, [](HWND dlg) { ovuiMessageBoxAnswer(dlg, IDYES); }});
        answers.push_back({OVUI_TEMPLATE_MESSAGEBOX, [&](HWND dlg) {
                               box = windowJson(dlg);
                               ovuiMessageBoxAnswer(dlg, IDOK);
                           }});
        EXPECT_TRUE(clickAndAnswer(id, answers));
        return box;
    }

    void uninstallSelected() {
        EXPECT_EQ(clickAnswering(IdcUninstallPlugin, IDYES), "Uninstall the plug-in \"Recorder\"?");
    }

    bool buttonsEnabled(bool configure, bool uninstall, bool add) {
        return enabled(IdcConfigurePlugin) == configure &&
               enabled(IdcUninstallPlugin) == uninstall && enabled(IdcAddToArea) == add;
    }

    TestPlugin recorder{"ovtest_recorder.so"};
};

TEST_F(PluginDialogs, InstallsALibraryChosenInTheOpenFileDialog) {
    namespace fs = std::filesystem;
    fs::copy_file(ovtest::binDir() + "/jotbox.so", "jotbox.so");
    openMainWindow();
    EXPECT_TRUE(buttonsEnabled(false, false, false));
    nlohmann::json dialog;
    ASSERT_TRUE(installByDialog("jotbox.so", &dialog));
    EXPECT_EQ(dialog["title"], "Install which plug-in?");
    EXPECT_EQ(dialog["openFile"]["filterDescription"], "Plug-ins (DLLs)");
    EXPECT_EQ(dialog["openFile"]["filterPattern"], "*.so");
    EXPECT_EQ(dialog["owner"].get<uint64_t>(), reinterpret_cast<uintptr_t>(main));

    EXPECT_EQ(listTexts(IdcPluginList), (std::vector<std::string>{"Memo to sysop"}));
    EXPECT_EQ(listSelection(IdcPluginList), 0);
    EXPECT_EQ(ovListGetItemData(main, IdcPluginList, 0), 0);
    EXPECT_TRUE(buttonsEnabled(true, true, true));
    // Beneath the working directory the path is stored relative to it.
    PluginRecord rec;
    std::string bytes = pluginFileBytes();
    ASSERT_EQ(bytes.size(), 8u + PluginRecordSize);
    decodePluginRecord(reinterpret_cast<const uint8_t*>(bytes.data()) + 8, rec);
    EXPECT_STREQ(rec.path, "jotbox.so");
    EXPECT_TRUE(messageBoxes().empty());

    // The default extension completes a name typed without one.
    ASSERT_TRUE(installByDialog("jotbox"));
    EXPECT_EQ(listTexts(IdcPluginList).size(), 2u);
    EXPECT_EQ(pluginFileBytes().size(), 8u + 2 * PluginRecordSize);
}

TEST_F(PluginDialogs, AFileThatIsNoPluginIsReportedAndACancelDoesNothing) {
    ovtest::writeFile("notes.so", "not a library");
    openMainWindow();
    ASSERT_TRUE(clickAndAnswer(IdcInstallPlugin, OVUI_TEMPLATE_OPENFILE,
                               [](HWND dlg) { ovuiOpenFileCancel(dlg); }));
    EXPECT_TRUE(messageBoxes().empty());
    EXPECT_FALSE(ovtest::fileExists(PluginFileName));

    // The message box follows the file dialog inside the same click.
    nlohmann::json box;
    ASSERT_TRUE(clickAndAnswer(
        IdcInstallPlugin,
        {{OVUI_TEMPLATE_OPENFILE, [](HWND dlg) { ovuiOpenFileChoose(dlg, "notes.so"); }},
         {OVUI_TEMPLATE_MESSAGEBOX, [&](HWND b) {
              box = windowJson(b);
              ovuiMessageBoxAnswer(b, IDOK);
          }}}));
    EXPECT_EQ(box["title"], "Not successful");
    EXPECT_EQ(box["messageBox"]["text"], InstallFailed);
    EXPECT_EQ(box["messageBox"]["icon"], "error");
    auto shown = messageBoxes();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0], std::make_pair(std::string("Not successful"), InstallFailed));
    EXPECT_TRUE(listTexts(IdcPluginList).empty());
    EXPECT_TRUE(buttonsEnabled(false, false, false));
}

TEST_F(PluginDialogs, ButtonsFollowTheSelection) {
    ASSERT_TRUE(recorder.ok());
    openMainWindow();
    ASSERT_TRUE(installPlugin(recorder.path().c_str(), &nextMenuCommandId));
    recorder->sessionCapable = 0;
    std::snprintf(recorder->name, sizeof recorder->name, "%s", "Admin only");
    ASSERT_TRUE(installPlugin(recorder.path().c_str(), &nextMenuCommandId));
    ovuiPumpUntilIdle();
    EXPECT_EQ(listTexts(IdcPluginList), (std::vector<std::string>{"Admin only", "Recorder"}));
    EXPECT_EQ(listSelection(IdcPluginList), 0); // the newest entry is selected

    choose(IdcPluginList, 0);
    EXPECT_TRUE(buttonsEnabled(true, true, false));
    choose(IdcPluginList, 1);
    EXPECT_TRUE(buttonsEnabled(true, true, true));
    choose(IdcPluginList, 0);
    EXPECT_TRUE(buttonsEnabled(true, true, false));

    // Configure reaches the selected plug-in's BBSConfigure.
    click(IdcConfigurePlugin);
    EXPECT_EQ(recorder->configureCalls, 1);
}

TEST_F(PluginDialogs, UninstallWhileACallerIsInsideFailsWithAMessage) {
    ASSERT_TRUE(recorder.ok());
    openMainWindow();
    ASSERT_TRUE(installPlugin(recorder.path().c_str(), &nextMenuCommandId));
    ovuiPumpUntilIdle();
    uint32_t id = uint32_t(ovListGetItemData(main, IdcPluginList, 0));
    choose(IdcPluginList, 0);

    // A caller runs the plug-in as an extension.
    PluginSessionContext caller;
    BBSSessionProc session = nullptr;
    ASSERT_TRUE(attachSession(id, caller, session));
    nlohmann::json box = clickExpectingMessage(IdcUninstallPlugin, true);
    EXPECT_EQ(box["title"], "Not successful");
    EXPECT_EQ(box["messageBox"]["text"], UninstallFailed);
    EXPECT_EQ(box["messageBox"]["icon"], "error");
    EXPECT_EQ(listTexts(IdcPluginList), (std::vector<std::string>{"Recorder"}));
    EXPECT_EQ(recorder->shutdownCalls, 0);
    EXPECT_TRUE(buttonsEnabled(true, true, true));
    detachSession(caller);

    // Once the caller has left, it goes, and with the last entry all three buttons go grey.
    uninstallSelected();
    EXPECT_TRUE(listTexts(IdcPluginList).empty());
    EXPECT_EQ(recorder->unregisterCalls, 1);
    EXPECT_TRUE(buttonsEnabled(false, false, false));
    EXPECT_EQ(messageBoxes().size(), 3u);
    bool sessionCapable;
    char name[256];
    EXPECT_FALSE(getPluginInfo(id, sessionCapable, name));
}

TEST_F(PluginDialogs, UninstallRefusedByThePluginIsReported) {
    ASSERT_TRUE(recorder.ok());
    openMainWindow();
    ASSERT_TRUE(installPlugin(recorder.path().c_str(), &nextMenuCommandId));
    ovuiPumpUntilIdle();
    choose(IdcPluginList, 0);
    recorder->shutdownResult = FALSE;
    nlohmann::json box = clickExpectingMessage(IdcUninstallPlugin, true);
    EXPECT_EQ(box["messageBox"]["text"], UninstallFailed);
    EXPECT_EQ(listTexts(IdcPluginList).size(), 1u);
    recorder->shutdownResult = TRUE;
}

TEST_F(PluginDialogs, SamePluginTwiceIsListedTwiceAndRemovedOneByOne) {
    ASSERT_TRUE(recorder.ok());
    openMainWindow();
    ASSERT_TRUE(installPlugin(recorder.path().c_str(), &nextMenuCommandId));
    ASSERT_TRUE(installPlugin(recorder.path().c_str(), &nextMenuCommandId));
    ovuiPumpUntilIdle();
    EXPECT_EQ(listTexts(IdcPluginList), (std::vector<std::string>{"Recorder", "Recorder"}));
    LPARAM second = ovListGetItemData(main, IdcPluginList, 1);
    LPARAM first = ovListGetItemData(main, IdcPluginList, 0);
    ASSERT_NE(first, second);
    choose(IdcPluginList, 1);
    uninstallSelected();
    EXPECT_EQ(listTexts(IdcPluginList).size(), 1u);
    // The entry that stays is the plug-in that is still loaded.
    EXPECT_EQ(ovListGetItemData(main, IdcPluginList, 0), first);
    EXPECT_TRUE(buttonsEnabled(false, false, false)); // nothing is selected now
    choose(IdcPluginList, 0);
    uninstallSelected();
    EXPECT_TRUE(listTexts(IdcPluginList).empty());
    EXPECT_EQ(messageBoxes().size(), 2u); // the two questions
}

TEST_F(PluginDialogs, WithoutSelectionTheButtonsDoNothing) {
    ASSERT_TRUE(recorder.ok());
    openMainWindow();
    ASSERT_TRUE(installPlugin(recorder.path().c_str(), &nextMenuCommandId));
    ovuiPumpUntilIdle();
    ovListSetCurSel(main, IdcPluginList, -1);
    // The buttons are enabled from the installation, but there is nothing to act on.
    uninstallSelectedPlugin();
    configureSelectedPlugin();
    EXPECT_EQ(listTexts(IdcPluginList).size(), 1u);
    EXPECT_EQ(recorder->configureCalls, 0);
    refreshPluginButtons();
    EXPECT_TRUE(buttonsEnabled(false, false, false));
}

TEST_F(PluginDialogs, PluginsLoadedAtStartAreListed) {
    ASSERT_TRUE(recorder.ok());
    ASSERT_TRUE(installPlugin(recorder.path().c_str(), &nextMenuCommandId)); // no window yet
    unloadAllPlugins();
    openMainWindow();
    EXPECT_EQ(listTexts(IdcPluginList), (std::vector<std::string>{"Recorder"}));
    EXPECT_EQ(listSelection(IdcPluginList), 0);
    // The buttons wait for a selection change.
    EXPECT_TRUE(buttonsEnabled(false, false, false));
}

} // namespace
