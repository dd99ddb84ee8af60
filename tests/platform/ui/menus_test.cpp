// Menus: strings by position, append, delete, check marks, grey items, choosing commands.
#include "demo_dialogs.h"

#include <cctype>

using namespace demo;
using Menus = demo::UiTest;

// Finds the bar's pop-up titled `title` the way a plug-in does: by position, folding case.
static int findPopup(HMENU bar, const std::string& title) {
    char text[256];
    for (int pos = 0; ovGetMenuString(bar, UINT(pos), text, sizeof text, MF_BYPOSITION) > 0;
         ++pos) {
        std::string t = text;
        for (auto& ch : t)
            ch = char(std::toupper(static_cast<unsigned char>(ch)));
        if (t == title) return pos;
    }
    return -1;
}

TEST_F(Menus, StringsByPositionAppendDeleteCheckAndGrey) {
    HWND dlg = ovCreateDialog(&kDemo, nullptr, demoProc, 0);
    HMENU bar = ovGetMenu(dlg);
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(ovGetMenuItemCount(bar), 2);
    EXPECT_EQ(findPopup(bar, "&OPTIONS"), 1);
    EXPECT_EQ(findPopup(bar, "&WINDOW"), -1);
    HMENU options = ovGetSubMenu(bar, 1);
    ASSERT_NE(options, nullptr);
    EXPECT_EQ(ovGetSubMenu(options, 0), nullptr);
    char text[64];
    EXPECT_EQ(ovGetMenuString(options, kMenuCheck, text, sizeof text, MF_BYCOMMAND), 9);
    EXPECT_STREQ(text, "&Check me");
    EXPECT_EQ(ovGetMenuString(ovGetSubMenu(bar, 0), 1, text, sizeof text, MF_BYPOSITION), 0);
    EXPECT_EQ(ovGetMenuString(bar, 7, text, sizeof text, MF_BYPOSITION), 0);
    EXPECT_EQ(ovGetMenuString(bar, kMenuDeep, text, sizeof text, MF_BYCOMMAND), 5); // nested

    // A plug-in appends two commands and redraws the bar.
    ASSERT_TRUE(ovAppendMenu(options, MF_STRING, 41000, "&Read messages from users..."));
    ASSERT_TRUE(ovAppendMenu(options, MF_STRING, 41001, "&Clear all messages"));
    ASSERT_TRUE(ovDrawMenuBar(dlg));
    EXPECT_EQ(ovGetMenuItemCount(options), 5);
    ovuiMenuCommand(dlg, 41001);
    ovuiPumpUntilIdle();
    ASSERT_EQ(eventsOf(WM_COMMAND).size(), 1u);
    EXPECT_EQ(eventsOf(WM_COMMAND)[0].id, 41001);

    // Check marks return the previous state.
    EXPECT_EQ(ovCheckMenuItem(bar, kMenuCheck, MF_BYCOMMAND | MF_UNCHECKED), DWORD(MF_CHECKED));
    EXPECT_EQ(ovCheckMenuItem(bar, kMenuCheck, MF_BYCOMMAND | MF_CHECKED), DWORD(MF_UNCHECKED));
    EXPECT_EQ(ovCheckMenuItem(bar, 777, MF_BYCOMMAND | MF_CHECKED), DWORD(-1));
    EXPECT_EQ(ovGetMenuState(options, 0, MF_BYPOSITION) & MF_CHECKED, UINT(MF_CHECKED));

    // Grey items cannot be chosen until enabled again.
    clearEvents();
    ASSERT_EQ(ovEnableMenuItem(bar, 41000, MF_BYCOMMAND | MF_GRAYED), MF_ENABLED);
    ovuiMenuCommand(dlg, 41000);
    ovuiPumpUntilIdle();
    EXPECT_TRUE(eventsOf(WM_COMMAND).empty());
    ASSERT_EQ(ovEnableMenuItem(bar, 41000, MF_BYCOMMAND | MF_ENABLED), MF_GRAYED);
    ovuiMenuCommand(dlg, 41000);
    ovuiPumpUntilIdle();
    EXPECT_EQ(eventsOf(WM_COMMAND).size(), 1u);

    // Delete by command (found inside the pop-up) and by position.
    ASSERT_TRUE(ovDeleteMenu(bar, 41000, MF_BYCOMMAND));
    ASSERT_TRUE(ovDeleteMenu(options, 3, MF_BYPOSITION)); // 41001 is now at position 3
    EXPECT_FALSE(ovDeleteMenu(bar, 41001, MF_BYCOMMAND));
    EXPECT_EQ(ovGetMenuItemCount(options), 3);
    clearEvents();
    ovuiMenuCommand(dlg, 41001);
    ovuiPumpUntilIdle();
    EXPECT_TRUE(eventsOf(WM_COMMAND).empty());

    // A pop-up of our own, and a whole pop-up deleted by position.
    HMENU popup = ovCreatePopupMenu();
    ASSERT_TRUE(ovAppendMenu(popup, MF_STRING, 42000, "Mine"));
    ASSERT_TRUE(ovAppendMenu(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(popup), "&Plug-in"));
    auto menu = windowJson(dlg)["menu"];
    ASSERT_EQ(menu.size(), 3u);
    EXPECT_EQ(menu[2]["popup"][0]["text"], "Mine");
    ASSERT_TRUE(ovDeleteMenu(bar, 2, MF_BYPOSITION));
    EXPECT_EQ(ovGetMenuItemCount(popup), -1); // destroyed with its item
    EXPECT_EQ(ovGetMenuItemCount(bar), 2);
}
