// The four configuration dialogs opened from File > Configure, driven as the sysop would.
#include "server_harness.h"

#include "server/preferences/preferences.h"
#include "server/sysop/config_dialogs.h"
#include "server/sysop/main_window_resources.h"

namespace {

constexpr const char* NoteText = "Changes will take effect the next time the BBS is started.";

class ConfigDialogTest : public ServerTest {
protected:
    HWND open(UINT command, int templateId) {
        EXPECT_TRUE(ovuiMenuCommand(main, command));
        HWND dlg = waitForWindow(templateId);
        EXPECT_NE(dlg, nullptr);
        if (dlg) {
            EXPECT_EQ(ovGetParent(dlg), main);
        }
        return dlg;
    }
    std::string text(HWND dlg, int id) {
        char buf[300] = {};
        ovGetDlgItemText(dlg, id, buf, sizeof buf);
        return buf;
    }
    std::string title(HWND dlg) {
        char buf[80] = {};
        ovGetWindowText(dlg, buf, sizeof buf);
        return buf;
    }
    // OK, then the note, which closes the dialog once answered.
    void okWithNote(HWND dlg, int templateId) {
        ASSERT_TRUE(ovuiClick(dlg, IDOK));
        SeenMessageBox note = waitForMessageBox();
        EXPECT_EQ(note.caption, "Note");
        EXPECT_EQ(note.text, NoteText);
        EXPECT_NE(ovuiFindWindowByTemplate(templateId), nullptr); // open until the note goes
        ASSERT_TRUE(ovuiMessageBoxAnswer(note.box, IDOK));
        EXPECT_TRUE(waitForWindowGone(templateId));
    }
    // OK refused with a message naming the range; the dialog stays open.
    void okRefused(HWND dlg, int templateId, const std::string& message) {
        ASSERT_TRUE(ovuiClick(dlg, IDOK));
        SeenMessageBox box = waitForMessageBox();
        EXPECT_EQ(box.text, message);
        ASSERT_TRUE(ovuiMessageBoxAnswer(box.box, IDOK));
        EXPECT_EQ(ovuiFindWindowByTemplate(templateId), dlg);
    }
    void SetUp() override {
        ServerTest::SetUp();
        preparePreferences();
        startServer();
    }
};

TEST_F(ConfigDialogTest, GeneralShowsMinutesAndStoresOnOk) {
    ASSERT_TRUE(setIdleTimeoutMs(90000));
    ASSERT_TRUE(setMaxUsers(12));
    HWND dlg = open(CmdGeneralOptions, GeneralDialogId);
    ASSERT_NE(dlg, nullptr);
    EXPECT_EQ(title(dlg), "General preferences");
    EXPECT_EQ(text(dlg, 1058), "1");
    EXPECT_EQ(text(dlg, 1057), "12");
    EXPECT_EQ(text(dlg, 1059), "Y");
    EXPECT_EQ(text(dlg, 1062), "\\");
    EXPECT_EQ(ovIsDlgButtonChecked(dlg, 1050), UINT(BST_CHECKED));
    EXPECT_EQ(ovIsDlgButtonChecked(dlg, 1056), UINT(BST_UNCHECKED));
    // The note after OK says "next start" for everything; the dialog tells which act at once.
    EXPECT_EQ(text(dlg, 1066), "Max. # of simultaneous users and the idle timeout act at once; "
                               "the other settings at the next start.");

    // Emptied "Yes" keeps the key; "n" typed into "No" becomes a capital.
    ASSERT_TRUE(ovuiTypeText(dlg, 1059, ""));
    ASSERT_TRUE(ovuiTypeText(dlg, 1060, "x"));
    ASSERT_TRUE(ovuiClick(dlg, 1065));
    okWithNote(dlg, GeneralDialogId);
    EXPECT_EQ(getIdleTimeoutMs(), 60000u);
    EXPECT_EQ(getMaxUsers(), 12u);
    EXPECT_EQ(getKeyYes(), 'Y');
    EXPECT_EQ(getKeyNo(), 'X');
    EXPECT_TRUE(getUnrevealingLogin());
    uint8_t live[PreferencesSize];
    copyPreferences(live);
    EXPECT_EQ(prefFile(), std::string(reinterpret_cast<char*>(live), PreferencesSize));

    // Typing "y" stores 'Y'.
    ASSERT_TRUE(setKeyYes('J'));
    dlg = open(CmdGeneralOptions, GeneralDialogId);
    ASSERT_NE(dlg, nullptr);
    ASSERT_TRUE(ovuiTypeText(dlg, 1059, "y"));
    okWithNote(dlg, GeneralDialogId);
    EXPECT_EQ(getKeyYes(), 'Y');
}

TEST_F(ConfigDialogTest, GeneralDefaultsThenCancelChangesNothing) {
    ASSERT_TRUE(setMaxUsers(40));
    const std::string before = prefFile();
    HWND dlg = open(CmdGeneralOptions, GeneralDialogId);
    ASSERT_NE(dlg, nullptr);
    ASSERT_TRUE(ovuiClick(dlg, 1052));
    ASSERT_TRUE(ovtest::waitUntil([&] { return text(dlg, 1057) == "5"; }));
    EXPECT_EQ(text(dlg, 1058), "5");
    EXPECT_EQ(text(dlg, 1061), "Q");
    EXPECT_EQ(ovIsDlgButtonChecked(dlg, 1056), UINT(BST_CHECKED));
    EXPECT_EQ(ovIsDlgButtonChecked(dlg, 1065), UINT(BST_UNCHECKED));
    ASSERT_TRUE(ovuiClick(dlg, IDCANCEL));
    EXPECT_TRUE(waitForWindowGone(GeneralDialogId));
    EXPECT_EQ(prefFile(), before);
    EXPECT_EQ(getMaxUsers(), 40u);

    // The close box is Cancel too.
    dlg = open(CmdGeneralOptions, GeneralDialogId);
    ASSERT_NE(dlg, nullptr);
    ASSERT_TRUE(ovuiTypeText(dlg, 1057, "9"));
    ASSERT_TRUE(ovuiCloseBox(dlg));
    EXPECT_TRUE(waitForWindowGone(GeneralDialogId));
    EXPECT_EQ(getMaxUsers(), 40u);
}

TEST_F(ConfigDialogTest, GeneralRefusesNumbersThatDoNotFit) {
    const std::string before = prefFile();
    HWND dlg = open(CmdGeneralOptions, GeneralDialogId);
    ASSERT_NE(dlg, nullptr);
    ASSERT_TRUE(ovuiTypeText(dlg, 1058, "71583")); // 71583 * 60000 = 4294980000
    okRefused(dlg, GeneralDialogId, "The idle time-out must be a number from 0 to 71582.");
    ASSERT_TRUE(ovuiTypeText(dlg, 1057, "4294967296"));
    okRefused(dlg, GeneralDialogId,
              "Max. # of simultaneous users must be a number from 0 to 4294967295.");
    EXPECT_EQ(prefFile(), before);
    ASSERT_TRUE(ovuiTypeText(dlg, 1058, "71582"));
    ASSERT_TRUE(ovuiTypeText(dlg, 1057, ""));
    okWithNote(dlg, GeneralDialogId);
    EXPECT_EQ(getIdleTimeoutMs(), 71582u * 60000u);
    EXPECT_EQ(getMaxUsers(), 0u);
}

TEST_F(ConfigDialogTest, TelnetPortOutOfRangeIsRefused) {
    HWND dlg = open(CmdTelnet, TelnetDialogId);
    ASSERT_NE(dlg, nullptr);
    EXPECT_EQ(title(dlg), "Telnet configuration");
    EXPECT_EQ(text(dlg, 1051), std::to_string(port));
    EXPECT_TRUE(ovIsDlgItemEnabled(dlg, 1051));
    ASSERT_TRUE(ovuiClick(dlg, 1050)); // off: the port field greys out
    ASSERT_TRUE(ovtest::waitUntil([&] { return !ovIsDlgItemEnabled(dlg, 1051); }));
    ASSERT_TRUE(ovuiClick(dlg, 1052)); // Defaults: on, 23, enabled
    ASSERT_TRUE(ovtest::waitUntil([&] { return text(dlg, 1051) == "23"; }));
    EXPECT_TRUE(ovIsDlgItemEnabled(dlg, 1051));
    EXPECT_EQ(ovIsDlgButtonChecked(dlg, 1050), UINT(BST_CHECKED));
    const uint16_t before = getTelnetPort();
    for (const char* bad : {"70000", "0"}) {
        ASSERT_TRUE(ovuiTypeText(dlg, 1051, bad));
        okRefused(dlg, TelnetDialogId, "The Telnet port must be a number from 1 to 65535.");
        EXPECT_EQ(getTelnetPort(), before);
    }
    ASSERT_TRUE(ovuiTypeText(dlg, 1051, "65535"));
    okWithNote(dlg, TelnetDialogId);
    EXPECT_EQ(getTelnetPort(), 65535);
    EXPECT_TRUE(getUseTcp());
    const std::string file = prefFile();
    uint8_t live[PreferencesSize];
    copyPreferences(live);
    EXPECT_EQ(file, std::string(reinterpret_cast<char*>(live), PreferencesSize));
}

TEST_F(ConfigDialogTest, ModemRateTypedOutsideTheListIsStored) {
    ASSERT_TRUE(setMinimumBps(2400));
    HWND dlg = open(CmdModems, ModemDialogId);
    ASSERT_NE(dlg, nullptr);
    EXPECT_EQ(title(dlg), "Modem configuration");
    EXPECT_EQ(text(dlg, 1062), "0"); // no modems configured
    EXPECT_EQ(ovComboGetCount(dlg, 1064), 15);
    char first[16] = {}, last[16] = {};
    ovComboGetText(dlg, 1064, 0, first, sizeof first);
    ovComboGetText(dlg, 1064, 14, last, sizeof last);
    EXPECT_STREQ(first, "300");
    EXPECT_STREQ(last, "128000");
    EXPECT_EQ(text(dlg, 1064), "2400");
    EXPECT_FALSE(ovIsDlgItemEnabled(dlg, 1064)); // useTapi is off
    ASSERT_TRUE(ovuiClick(dlg, 1056));
    ASSERT_TRUE(ovtest::waitUntil([&] { return ovIsDlgItemEnabled(dlg, 1064) != 0; }));
    ASSERT_TRUE(ovuiComboType(dlg, 1064, "31200"));
    okWithNote(dlg, ModemDialogId);
    EXPECT_EQ(getMinimumBps(), 31200u);
    EXPECT_TRUE(getUseTapi());

    // Picked from the list.
    dlg = open(CmdModems, ModemDialogId);
    ASSERT_NE(dlg, nullptr);
    ASSERT_TRUE(ovuiComboSelect(dlg, 1064, 13));
    okWithNote(dlg, ModemDialogId);
    EXPECT_EQ(getMinimumBps(), 115200u);
}

TEST_F(ConfigDialogTest, ResponseStringsStoreEmptiedFieldsWithoutANote) {
    HWND dlg = open(CmdResponseStrings, ResponseStringsDialogId);
    ASSERT_NE(dlg, nullptr);
    EXPECT_EQ(title(dlg), "Response string configuration");
    char stored[PrefTextSize];
    getPrefText(PrefText::LoginPrompt, stored);
    EXPECT_EQ(text(dlg, 1032), stored);
    getPrefText(PrefText::NewAccountName, stored);
    EXPECT_EQ(text(dlg, 1046), stored);

    ASSERT_TRUE(ovuiTypeText(dlg, 1041, ""));
    ASSERT_TRUE(ovuiTypeText(dlg, 1046, "NewBie"));
    const std::string longText(300, 'z');
    ASSERT_TRUE(ovuiTypeText(dlg, 1047, longText));
    ASSERT_TRUE(ovuiClick(dlg, IDOK));
    EXPECT_TRUE(waitForWindowGone(ResponseStringsDialogId));
    getPrefText(PrefText::TooManyUsers, stored);
    EXPECT_STREQ(stored, "");
    getPrefText(PrefText::NewAccountName, stored);
    EXPECT_STREQ(stored, "newbie");
    getPrefText(PrefText::LogoffOptionName, stored);
    EXPECT_EQ(std::string(stored), std::string(254, 'z'));
    uint8_t live[PreferencesSize];
    copyPreferences(live);
    EXPECT_EQ(prefFile(), std::string(reinterpret_cast<char*>(live), PreferencesSize));

    // Cancel stores nothing.
    dlg = open(CmdResponseStrings, ResponseStringsDialogId);
    ASSERT_NE(dlg, nullptr);
    ASSERT_TRUE(ovuiTypeText(dlg, 1032, "changed"));
    ASSERT_TRUE(ovuiClick(dlg, IDCANCEL));
    EXPECT_TRUE(waitForWindowGone(ResponseStringsDialogId));
    getPrefText(PrefText::LoginPrompt, stored);
    EXPECT_STRNE(stored, "changed");
}

} // namespace
