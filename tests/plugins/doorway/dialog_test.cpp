// The door list in the plug-in's configuration dialog, its menu command, and the plug-in on a
// host that lends only the first four services.
#include "door_file.h"
#include "plugins/standard/ui_harness.h"

#include <algorithm>

namespace {

using ovtest::readFile;
using ovtest::writeFile;
using plugtest::configureWith;
using plugtest::dlgText;
using plugtest::postStep;

constexpr int List = 1000, Name = 1001, Command = 1002, Directory = 1003, Minutes = 1004,
              DropFile = 1005, Single = 1006, New = 1010, Remove = 1011;

std::string row(HWND dlg, int index) {
    std::string text;
    for (int col = 0; col < 6; ++col) {
        char cell[256] = {};
        ovListViewGetItemText(dlg, List, index, col, cell, sizeof cell);
        text += std::string(col ? "|" : "") + cell;
    }
    return text;
}

class DoorDialog : public plugtest::PluginUiTest {
protected:
    plugtest::PluginLibrary lib{"doorway.so"};
};

} // namespace

TEST_F(DoorDialog, ListsTheDoorsAndSavesWhatTheSysopChanged) {
    writeFile("doorway.dat", doorFile({{"Hangman", "/usr/games/hangman", "", 1800, 0, false},
                                       {"Lord", "dosemu %D", "doors/lord", 0, 1, true}}));
    makeMainWindow({"&File", "&Edit", "&Window"});
    const HostServices services = plugtest::testServices();
    UINT next = 41000;
    ASSERT_TRUE(lib.startup(mainWindow, bar(), 0, 1, &next, &services));
    EXPECT_EQ(next, 41001u);
    EXPECT_EQ(itemTexts(ovGetSubMenu(bar(), 2)).back(), "&Door log...");

    std::vector<std::string> shown;
    // Input is queued: what it did is read in a step after it.
    configureWith(lib.configure, mainWindow, [&](HWND dlg) {
        shown.push_back(row(dlg, 0));
        shown.push_back(row(dlg, 1));
        shown.push_back(dlgText(dlg, Name) + "|" + dlgText(dlg, Minutes));
        ovuiListViewSelect(dlg, List, 1);
        postStep([&, dlg] {
            shown.push_back(dlgText(dlg, Name) + "|" + dlgText(dlg, Directory) + "|" +
                            std::to_string(ovIsDlgButtonChecked(dlg, Single)));
            ovuiTypeText(dlg, Minutes, "20");
            postStep([&, dlg] {
                shown.push_back(row(dlg, 1));
                // A new door under a name already taken is refused until it has its own.
                ovuiClick(dlg, New);
                ovuiTypeText(dlg, Name, "lord");
                ovuiClick(dlg, IDOK);
                postStep([&, dlg] {
                    HWND box = ovuiFindWindowByTemplate(OVUI_TEMPLATE_MESSAGEBOX);
                    shown.push_back(box ? "refused" : "not refused");
                    ovuiMessageBoxAnswer(box, IDOK);
                    ovuiTypeText(dlg, Name, "Robots");
                    ovuiTypeText(dlg, Command, "/usr/games/robots");
                    ovuiComboSelect(dlg, DropFile, 2);
                    ovuiClick(dlg, Single);
                    ovuiListViewSelect(dlg, List, 0);
                    ovuiClick(dlg, Remove);
                    ovuiClick(dlg, IDOK);
                });
            });
        });
    });
    ASSERT_EQ(shown.size(), 6u);
    EXPECT_EQ(shown[0], "Hangman|/usr/games/hangman|(own)|30|None|several");
    EXPECT_EQ(shown[1], "Lord|dosemu %D|doors/lord|none|DOOR32.SYS|one");
    EXPECT_EQ(shown[2], "Hangman|30");
    EXPECT_EQ(shown[3], "Lord|doors/lord|1");
    EXPECT_EQ(shown[4], "Lord|dosemu %D|doors/lord|20|DOOR32.SYS|one");
    EXPECT_EQ(shown[5], "refused");
    EXPECT_EQ(readFile("doorway.dat"), doorFile({{"Lord", "dosemu %D", "doors/lord", 1200, 1, true},
                                                 {"Robots", "/usr/games/robots", "", 0, 2, true}}));

    // Cancel keeps the file as it was.
    const std::string saved = readFile("doorway.dat");
    configureWith(lib.configure, mainWindow, [&](HWND dlg) {
        ovuiClick(dlg, Remove);
        ovuiClick(dlg, IDCANCEL);
    });
    EXPECT_EQ(readFile("doorway.dat"), saved);
    EXPECT_EQ(lib.shutdown(mainWindow), 1);
    EXPECT_EQ(itemTexts(ovGetSubMenu(bar(), 2)).back(), "&Own item");
}

TEST_F(DoorDialog, ADamagedDoorFileGivesTheWholeRecordsItHolds) {
    std::string damaged = doorFile({{"One", "/bin/true", "", 0, 7, false},
                                    {"Two", "/bin/true", "", 0, 0, false},
                                    {"Three", "/bin/true", "", 0, 0, false}});
    damaged[4] = 9;                       // claims more doors than it holds
    damaged.resize(damaged.size() - 100); // and the last record is cut short
    damaged[8 + 31] = 'x';                // a name without its terminator
    writeFile("doorway.dat", damaged);
    ASSERT_TRUE(lib.start());
    makeMainWindow({"&File"});
    std::vector<std::string> shown;
    configureWith(lib.configure, mainWindow, [&](HWND dlg) {
        for (int i = 0; i < ovListViewGetCount(dlg, List); ++i)
            shown.push_back(row(dlg, i));
        ovuiClick(dlg, IDCANCEL);
    });
    EXPECT_EQ(shown, (std::vector<std::string>{"One|/bin/true|(own)|none|None|several",
                                               "Two|/bin/true|(own)|none|None|several"}));
}

TEST_F(DoorDialog, ExportsTheSevenAndAnOlderHostGetsAClearLineInsteadOfADoor) {
    std::vector<std::string> names = plugtest::exportedSymbols(lib.path);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names,
              (std::vector<std::string>{"BBSConfigure", "BBSRegister", "BBSSession", "BBSShutdown",
                                        "BBSStartup", "BBSUnregister", "BBSWndProc"}));

    writeFile("doorway.dat", doorFile({{"Echo", "/bin/cat", "", 0, 0, false}}));
    ASSERT_TRUE(lib.start()); // the test host lends the first four services only
    plugtest::FakeAccount account;
    account.args = "Echo";
    plugtest::CallerLink link(lib.session, account);
    EXPECT_EQ(link.restAfterFinish(), "\r\nDoors need a newer version of the server.\r\n");
    EXPECT_EQ(link.result, 1);
    EXPECT_EQ(link.endSession, 0u);
}
