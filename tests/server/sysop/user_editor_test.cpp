// The user editor in the main window: showing, saving, deleting and creating accounts.
#include "editor_fixture.h"

#include "server/base/time_text.h"
#include "server/sysop/main_window_resources.h"
#include "server/users/user_db.h"

#include <atomic>
#include <cstring>
#include <thread>

namespace {

constexpr int NewUserDialog = 119;
constexpr int NewLoginEdit = 1048;

class UserEditor : public EditorTest {
protected:
    void SetUp() override {
        EditorTest::SetUp();
        // The id counter lives for the process; a header of 0 sets it back to a fresh start.
        ovtest::writeFile("bbsusers.dat", std::string("\x0D\x0A\x1A\x00\0\0\0\0", 8));
        loadUserList();
    }

    // Makes accounts before the window opens, so that loadUserList lists them.
    void addAccount(const char* name, const char* password, uint16_t access) {
        UserRecord rec;
        ASSERT_TRUE(addUser(rec, name));
        std::strcpy(rec.password, password);
        rec.accessLevel = access;
        rec.uploadKb = 12;
        rec.downloadKb = 345;
        ASSERT_TRUE(updateUser(rec));
    }

    void selectUser(const std::string& name) {
        auto names = listTexts(IdcUserList);
        for (size_t i = 0; i < names.size(); ++i)
            if (names[i] == name) return select(IdcUserList, int(i));
        FAIL() << "no list entry " << name;
    }

    UserRecord stored(const char* name) {
        UserRecord rec;
        EXPECT_TRUE(findUser(rec, name));
        return rec;
    }

    // Opens dialog 119 with "New user...", types `name` and confirms it.
    void createThroughDialog(const std::string& name) {
        ASSERT_TRUE(clickAndAnswer(IdcNewUser, NewUserDialog, [&](HWND dlg) {
            ovuiTypeText(dlg, NewLoginEdit, name);
            ovuiKey(dlg, "enter");
        }));
    }
};

TEST_F(UserEditor, ListsAccountsAndShowsTheSelectedOne) {
    addAccount("zoe", "secret", 20);
    addAccount("adam", "pw", 7);
    openMainWindow();
    EXPECT_EQ(listTexts(IdcUserList), (std::vector<std::string>{"adam", "zoe"}));
    EXPECT_EQ(ovListGetItemData(main, IdcUserList, 1), 0); // zoe was made first
    EXPECT_FALSE(enabled(IdcDeleteUser));

    selectUser("zoe");
    UserRecord zoe = stored("zoe");
    char first[32];
    formatTime(first, zoe.firstLogin);
    EXPECT_EQ(text(IdcUserLogin), "zoe");
    EXPECT_EQ(text(IdcUserPassword), ""); // write-only: the stored one is never shown
    EXPECT_EQ(text(IdcUserAccess), "20");
    EXPECT_EQ(text(IdcUserRealName), "");
    EXPECT_EQ(text(IdcUserFirstLogin), first);
    EXPECT_EQ(text(IdcUserLastLogin), first);
    EXPECT_EQ(text(IdcUserUploadKb), "12");
    EXPECT_EQ(text(IdcUserDownloadKb), "345");
    EXPECT_TRUE(enabled(IdcDeleteUser));
}

TEST_F(UserEditor, WithoutSelectionNothingHappens) {
    addAccount("zoe", "secret", 20);
    openMainWindow();
    type(IdcUserPassword, "changed");
    click(IdcSaveUser);
    click(IdcCancelUser);
    EXPECT_EQ(stored("zoe").password, std::string("secret"));
    EXPECT_EQ(text(IdcUserLogin), "");
    EXPECT_FALSE(enabled(IdcDeleteUser));
    click(IdcDeleteUser); // disabled: the input is ignored
    EXPECT_EQ(listTexts(IdcUserList).size(), 1u);
}

TEST_F(UserEditor, Utf8BoxShowsAndSavesOnlyItsOwnBit) {
    addAccount("zoe", "secret", 20);
    addAccount("ann", "secret", 1);
    UserRecord ansi = stored("zoe");
    ansi.userFlags = AnsiTerminalFlag;
    ASSERT_TRUE(updateUser(ansi));
    openMainWindow();
    selectUser("zoe");
    EXPECT_EQ(ovIsDlgButtonChecked(main, IdcUserUtf8), UINT(BST_UNCHECKED));
    click(IdcUserUtf8);
    click(IdcSaveUser);
    EXPECT_EQ(stored("zoe").userFlags, AnsiTerminalFlag | Utf8TerminalFlag);
    selectUser("ann");
    EXPECT_EQ(ovIsDlgButtonChecked(main, IdcUserUtf8), UINT(BST_UNCHECKED));
    selectUser("zoe");
    EXPECT_EQ(ovIsDlgButtonChecked(main, IdcUserUtf8), UINT(BST_CHECKED));
    click(IdcUserUtf8);
    click(IdcSaveUser);
    EXPECT_EQ(stored("zoe").userFlags, AnsiTerminalFlag);
}

TEST_F(UserEditor, SaveCutsRefusesAccessOutOfRangeAndKeepsWhatSessionsChanged) {
    addAccount("zoe", "secret", 20);
    openMainWindow();
    selectUser("zoe");
    // A session logs in after the account was shown.
    UserRecord meanwhile = stored("zoe");
    meanwhile.loginCount = 9;
    ASSERT_TRUE(updateUser(meanwhile));

    type(IdcUserPassword, std::string(31, 'p'));
    type(IdcUserAccess, "70000");
    type(IdcUserRealName, std::string(300, 'r'));
    // Refused with the range named; nothing of the account is saved.
    for (const char* access : {"70000", "123456789012345678901234567890"}) {
        type(IdcUserAccess, access);
        ASSERT_TRUE(clickAndAnswer(IdcSaveUser, OVUI_TEMPLATE_MESSAGEBOX,
                                   [](HWND box) { ovuiMessageBoxAnswer(box, IDOK); }));
        EXPECT_EQ(messageBoxes().back().second, "Access must be a number from 0 to 65535.");
        EXPECT_EQ(stored("zoe").accessLevel, 20);
        EXPECT_STREQ(stored("zoe").password, "secret");
        EXPECT_EQ(text(IdcUserAccess), access);
    }
    type(IdcUserAccess, "65535");
    click(IdcSaveUser);
    UserRecord rec = stored("zoe");
    EXPECT_EQ(std::string(rec.password), std::string(30, 'p'));
    EXPECT_EQ(rec.accessLevel, 65535);
    EXPECT_EQ(std::string(rec.realName), std::string(254, 'r'));
    EXPECT_EQ(rec.loginCount, 9u);
    EXPECT_EQ(rec.downloadKb, 345u);

    // An emptied Pass box keeps the password; a new one replaces it whole.
    type(IdcUserAccess, "");
    type(IdcUserPassword, "");
    click(IdcSaveUser);
    rec = stored("zoe");
    EXPECT_EQ(rec.accessLevel, 0);
    EXPECT_EQ(std::string(rec.password), std::string(30, 'p'));
    type(IdcUserPassword, "new");
    click(IdcSaveUser);
    EXPECT_STREQ(stored("zoe").password, "new");

    // Cancel shows the stored values again.
    type(IdcUserAccess, "5");
    click(IdcCancelUser);
    EXPECT_EQ(text(IdcUserAccess), "0");
}

TEST_F(UserEditor, DeleteRemovesTheEntryAndEmptiesTheFields) {
    addAccount("zoe", "secret", 20);
    addAccount("adam", "pw", 7);
    openMainWindow();
    selectUser("zoe");
    type(IdcUserRealName, "Edits that go with it");
    // No keeps the account.
    EXPECT_EQ(clickAnswering(IdcDeleteUser, IDNO), "Delete the user zoe?");
    UserRecord rec;
    EXPECT_TRUE(findUser(rec, "zoe"));
    EXPECT_EQ(text(IdcUserRealName), "Edits that go with it");
    EXPECT_EQ(clickAnswering(IdcDeleteUser, IDYES), "Delete the user zoe?");
    EXPECT_FALSE(findUser(rec, "zoe"));
    EXPECT_EQ(listTexts(IdcUserList), (std::vector<std::string>{"adam"}));
    EXPECT_EQ(listSelection(IdcUserList), -1);
    EXPECT_EQ(text(IdcUserLogin), "");
    EXPECT_EQ(text(IdcUserPassword), "");
    EXPECT_FALSE(enabled(IdcDeleteUser));
    EXPECT_EQ(messageBoxes().size(), 2u); // nothing asked about the deleted account's edits
}

TEST_F(UserEditor, UnsavedEditsAskBeforeAnotherAccountIsShown) {
    addAccount("zoe", "secret", 20);
    addAccount("adam", "pw", 7);
    openMainWindow();
    selectUser("zoe");
    const std::string question = "Save the changes to the user zoe?";
    auto pickAdam = [&](int answer) {
        return answerBox([&] { return ovuiSelect(main, IdcUserList, 0); }, answer);
    };
    type(IdcUserAccess, "99");
    // Cancel stays on zoe with the edits.
    EXPECT_EQ(pickAdam(IDCANCEL), question);
    EXPECT_EQ(listTexts(IdcUserList)[size_t(listSelection(IdcUserList))], "zoe");
    EXPECT_EQ(text(IdcUserAccess), "99");
    // Save with a refused number stays too.
    type(IdcUserAccess, "70000");
    std::vector<std::string> texts =
        answerBoxes([&] { return ovuiSelect(main, IdcUserList, 0); }, {IDYES, IDOK});
    EXPECT_EQ(texts,
              (std::vector<std::string>{question, "Access must be a number from 0 to 65535."}));
    EXPECT_EQ(text(IdcUserLogin), "zoe");
    EXPECT_EQ(stored("zoe").accessLevel, 20);
    // Save stores them, then shows adam.
    type(IdcUserAccess, "99");
    EXPECT_EQ(pickAdam(IDYES), question);
    EXPECT_EQ(stored("zoe").accessLevel, 99);
    EXPECT_EQ(text(IdcUserLogin), "adam");
    // Discard throws them away.
    type(IdcUserRealName, "Not kept");
    EXPECT_EQ(answerBox([&] { return ovuiSelect(main, IdcUserList, 1); }, IDNO),
              "Save the changes to the user adam?");
    EXPECT_EQ(text(IdcUserLogin), "zoe");
    EXPECT_STREQ(stored("adam").realName, "");
    // Without edits nothing is asked.
    select(IdcUserList, 0);
    EXPECT_EQ(text(IdcUserLogin), "adam");
    EXPECT_EQ(messageBoxes().size(), 5u);
}

TEST_F(UserEditor, DeletingAnAccountWhileItsCallerUsesItIsSafe) {
    addAccount("zoe", "secret", 20);
    openMainWindow();
    selectUser("zoe");
    std::atomic<bool> stop{false};
    std::atomic<int> rounds{0};
    std::thread caller([&] {
        // A session re-reads its account before every area screen and counts what it does.
        while (!stop) {
            UserRecord rec;
            if (findUser(rec, "zoe")) {
                ++rec.loginCount;
                (void)updateUser(rec);
            }
            ++rounds;
        }
    });
    ASSERT_TRUE(ovtest::waitUntil([&] { return rounds.load() > 5; }));
    EXPECT_EQ(clickAnswering(IdcDeleteUser, IDYES), "Delete the user zoe?");
    int after = rounds.load();
    ASSERT_TRUE(ovtest::waitUntil([&] { return rounds.load() > after + 5; }));
    stop = true;
    caller.join();
    UserRecord rec;
    EXPECT_FALSE(findUser(rec, "zoe"));
    EXPECT_TRUE(listTexts(IdcUserList).empty());
    EXPECT_EQ(ovtest::fileSizeOf("bbsusers.dat"), 8u + 368u);
}

TEST_F(UserEditor, AnAccountThatVanishedShowsEmptyFieldsAndIsNotSaved) {
    addAccount("zoe", "secret", 20);
    openMainWindow();
    selectUser("zoe");
    // Deleted behind the editor's back (the list follows, so put the entry back by hand).
    ASSERT_TRUE(deleteUser("zoe"));
    ovListSetItemData(main, IdcUserList, ovListAddString(main, IdcUserList, "zoe"), 0);
    select(IdcUserList, 0);
    EXPECT_EQ(text(IdcUserLogin), "");
    EXPECT_FALSE(enabled(IdcDeleteUser));
    type(IdcUserPassword, "x");
    click(IdcSaveUser);
    UserRecord rec;
    EXPECT_FALSE(findUser(rec, "zoe"));
}

TEST_F(UserEditor, NewUserDialogNormalizesAndSelectsTheAccount) {
    openMainWindow();
    createThroughDialog("John Smith!");
    UserRecord rec = stored("johnsmith");
    EXPECT_EQ(listTexts(IdcUserList), (std::vector<std::string>{"johnsmith"}));
    EXPECT_EQ(listSelection(IdcUserList), 0);
    EXPECT_EQ(ovListGetItemData(main, IdcUserList, 0), LPARAM(rec.id));
    EXPECT_EQ(text(IdcUserLogin), "johnsmith");
    EXPECT_EQ(text(IdcUserAccess), "0");
    EXPECT_TRUE(enabled(IdcDeleteUser));

    std::string longest = "abcdefghijklmnopqrstuvwxyz01234"; // 31
    createThroughDialog(longest);
    EXPECT_TRUE(findUser(rec, longest.c_str()));
    EXPECT_EQ(text(IdcUserLogin), longest);
    // Longer names are cut to 31 characters as typed.
    createThroughDialog(std::string(40, 'q'));
    EXPECT_TRUE(findUser(rec, std::string(31, 'q').c_str()));
    EXPECT_TRUE(messageBoxes().empty());
}

TEST_F(UserEditor, RefusedNamesChangeNothingAndSayNothing) {
    addAccount("zoe", "secret", 20);
    openMainWindow();
    for (const char* name : {"ZOE", "x", "New", "  "}) {
        createThroughDialog(name);
        EXPECT_EQ(listTexts(IdcUserList), (std::vector<std::string>{"zoe"})) << name;
        EXPECT_EQ(listSelection(IdcUserList), -1) << name;
    }
    EXPECT_EQ(ovtest::fileSizeOf("bbsusers.dat"), 8u + 368u);
    EXPECT_TRUE(messageBoxes().empty());
}

TEST_F(UserEditor, EscapeLeavesTheDialogOpenAndTheCloseBoxCancels) {
    openMainWindow();
    std::atomic<bool> stillOpen{false};
    std::atomic<bool> focusedOnName{false};
    ASSERT_TRUE(clickAndAnswer(IdcNewUser, NewUserDialog, [&](HWND dlg) {
        focusedOnName = windowJson(dlg)["focus"] == NewLoginEdit;
        ovuiKey(dlg, "escape");
        ovuiTypeText(dlg, NewLoginEdit, "typed");
        // Input is handled in order: once the text is there, Esc has been handled too.
        waitForWindowState([&] {
            char buf[32] = {};
            ovGetDlgItemText(dlg, NewLoginEdit, buf, sizeof buf);
            return std::string(buf) == "typed";
        });
        stillOpen = ovIsWindow(dlg) && ovuiTopModal() == dlg;
        ovuiCloseBox(dlg);
    }));
    EXPECT_TRUE(focusedOnName);
    EXPECT_TRUE(stillOpen);
    EXPECT_TRUE(listTexts(IdcUserList).empty());
    UserRecord rec;
    EXPECT_FALSE(findUser(rec, "typed"));
    EXPECT_EQ(ovuiFindWindowByTemplate(NewUserDialog), nullptr);
}

TEST_F(UserEditor, NewUserDialogLooksAsDesigned) {
    openMainWindow();
    ASSERT_TRUE(clickAndAnswer(IdcNewUser, NewUserDialog, [&](HWND dlg) {
        auto j = windowJson(dlg);
        EXPECT_EQ(j["title"], "Enter new login name (2 to 31 characters)");
        EXPECT_TRUE(j["closeBox"].get<bool>());
        EXPECT_EQ(j["owner"].get<uint64_t>(), reinterpret_cast<uintptr_t>(main));
        bool defaultOk = false;
        for (auto& c : j["controls"])
            if (c["id"] == IDOK) defaultOk = c["kind"] == "defbutton" && c["text"] == "OK";
        EXPECT_TRUE(defaultOk);
        ovuiClick(dlg, IDOK); // empty: refused by the database
    }));
    EXPECT_TRUE(listTexts(IdcUserList).empty());
}

TEST_F(UserEditor, AccountsMadeByCallersAppearAtOnce) {
    openMainWindow();
    std::thread caller([] {
        UserRecord rec;
        EXPECT_TRUE(addUser(rec, "caller"));
        EXPECT_TRUE(addUser(rec, "another"));
        EXPECT_TRUE(deleteUser("another"));
    });
    EXPECT_TRUE(ovuiPumpUntil(
        [&] { return listTexts(IdcUserList) == std::vector<std::string>{"caller"}; }, 10000));
    caller.join();
    ovuiPumpUntilIdle();
    EXPECT_EQ(listTexts(IdcUserList), (std::vector<std::string>{"caller"}));
    EXPECT_EQ(ovListGetItemData(main, IdcUserList, 0), 0);
}

} // namespace
