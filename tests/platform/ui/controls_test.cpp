// Controls: list boxes, edits, combo boxes, tree and list views.
#include "demo_dialogs.h"

#include <thread>

using namespace demo;
using Controls = demo::UiTest;

TEST_F(Controls, SortedListBoxWithItemDataAndExactFind) {
    HWND dlg = ovCreateDialog(&kDemo, nullptr, demoProc, 0);
    for (const char* name : {"mike", "Alpha", "charlie", "bravo", "ALPHA"})
        ASSERT_NE(ovListAddString(dlg, kSortedList, name), -1);
    char text[32];
    std::vector<std::string> order;
    for (int i = 0; i < ovListGetCount(dlg, kSortedList); ++i) {
        ASSERT_GT(ovListGetText(dlg, kSortedList, i, text, sizeof text), 0);
        order.push_back(text);
    }
    EXPECT_EQ(order, (std::vector<std::string>{"Alpha", "ALPHA", "bravo", "charlie", "mike"}));
    // Equal to the last entry: behind it, like any equal entry.
    ASSERT_EQ(ovListAddString(dlg, kSortedList, "MIKE"), 5);
    ASSERT_GT(ovListGetText(dlg, kSortedList, 4, text, sizeof text), 0);
    EXPECT_STREQ(text, "mike");
    int charlie = ovListFindStringExact(dlg, kSortedList, -1, "CHARLIE");
    ASSERT_EQ(charlie, 3);
    ASSERT_TRUE(ovListSetItemData(dlg, kSortedList, charlie, 1234));
    EXPECT_EQ(ovListGetItemData(dlg, kSortedList, charlie), 1234);
    EXPECT_EQ(ovListFindStringExact(dlg, kSortedList, 0, "alpha"), 1); // after 0
    EXPECT_EQ(ovListFindStringExact(dlg, kSortedList, 1, "alpha"), 0); // wraps
    EXPECT_EQ(ovListFindStringExact(dlg, kSortedList, -1, "alph"), -1);
    // Programmatic selection does not notify; the user's does.
    ASSERT_TRUE(ovListSetCurSel(dlg, kSortedList, charlie));
    ovuiPumpUntilIdle();
    EXPECT_TRUE(eventsOf(WM_COMMAND).empty());
    // Inserting before the selection keeps it on the same entry; deleting it clears it.
    ASSERT_EQ(ovListAddString(dlg, kSortedList, "aardvark"), 0);
    EXPECT_EQ(ovListGetCurSel(dlg, kSortedList), 4);
    EXPECT_EQ(ovListGetItemData(dlg, kSortedList, 4), 1234);
    ASSERT_TRUE(ovListDeleteString(dlg, kSortedList, 4));
    EXPECT_EQ(ovListGetCurSel(dlg, kSortedList), -1);
    EXPECT_FALSE(ovListDeleteString(dlg, kSortedList, 99));
    EXPECT_EQ(ovListGetItemData(dlg, kSortedList, 99), -1);
    ovuiSelect(dlg, kSortedList, 1);
    ovuiSelect(dlg, kPlainList, 0); // empty: ignored
    ovuiPumpUntilIdle();
    ASSERT_EQ(eventsOf(WM_COMMAND).size(), 1u);
    EXPECT_EQ(eventsOf(WM_COMMAND)[0].code, LBN_SELCHANGE);
    EXPECT_EQ(ovListGetCurSel(dlg, kSortedList), 1);
    // The plain list keeps insertion order and does not notify.
    ovListAddString(dlg, kPlainList, "zulu");
    ovListAddString(dlg, kPlainList, "alpha");
    EXPECT_EQ(ovListInsertString(dlg, kPlainList, 1, "middle"), 1);
    EXPECT_EQ(ovListInsertString(dlg, kPlainList, 9, "far"), -1);
    ovListGetText(dlg, kPlainList, 0, text, sizeof text);
    EXPECT_STREQ(text, "zulu");
    clearEvents();
    ovuiDoubleClick(dlg, kPlainList, 2);
    ovuiPumpUntilIdle();
    EXPECT_TRUE(eventsOf(WM_COMMAND).empty());
    EXPECT_EQ(ovListGetCurSel(dlg, kPlainList), 2);
    ovListReset(dlg, kPlainList);
    EXPECT_EQ(ovListGetCount(dlg, kPlainList), 0);
    EXPECT_EQ(ovListGetCount(dlg, kTree), -1); // not a list box
}

TEST_F(Controls, EditsFilterWhatIsTyped) {
    HWND dlg = ovCreateDialog(&kDemo, nullptr, demoProc, 0);
    ASSERT_TRUE(ovLimitText(dlg, kName, 5));
    ovuiTypeText(dlg, kNumber, "12a3-4");
    ovuiTypeText(dlg, kUpper, "MixEd");
    ovuiTypeText(dlg, kLower, "MixEd");
    ovuiTypeText(dlg, kName, "abcdefgh\nline two");
    ovuiTypeText(dlg, kReadOnly, "nope");
    ovuiTypeText(dlg, kPassword, "hunter2");
    ovuiPumpUntilIdle();
    char text[64];
    ovGetDlgItemText(dlg, kNumber, text, sizeof text);
    EXPECT_STREQ(text, "1234");
    ovGetDlgItemText(dlg, kUpper, text, sizeof text);
    EXPECT_STREQ(text, "MIXED");
    ovGetDlgItemText(dlg, kLower, text, sizeof text);
    EXPECT_STREQ(text, "mixed");
    ovGetDlgItemText(dlg, kName, text, sizeof text);
    EXPECT_STREQ(text, "abcde");
    ovGetDlgItemText(dlg, kReadOnly, text, sizeof text);
    EXPECT_STREQ(text, "fixed");
    ovGetDlgItemText(dlg, kPassword, text, sizeof text);
    EXPECT_STREQ(text, "hunter2");
    EXPECT_EQ(controlJson(dlg, kPassword)["text"], ""); // neither the text nor its length
    EXPECT_TRUE(controlJson(dlg, kPassword)["filled"].get<bool>());
    EXPECT_EQ(ovuiSnapshotJson().find("hunter2"), std::string::npos);
    auto changes = eventsOf(WM_COMMAND);
    ASSERT_EQ(changes.size(), 5u); // not the read-only edit
    for (auto& e : changes)
        EXPECT_EQ(e.code, EN_CHANGE);
    // Typing the same text again changes nothing and reports nothing.
    clearEvents();
    ovuiTypeText(dlg, kNumber, "1234");
    ovuiPumpUntilIdle();
    EXPECT_TRUE(eventsOf(WM_COMMAND).empty());
    // Numbers through the integer helpers; a short buffer truncates.
    BOOL ok = FALSE;
    EXPECT_EQ(ovGetDlgItemInt(dlg, kNumber, &ok, FALSE), 1234u);
    EXPECT_TRUE(ok);
    EXPECT_EQ(ovGetDlgItemInt(dlg, kUpper, &ok, FALSE), 0u);
    EXPECT_FALSE(ok);
    ASSERT_TRUE(ovSetDlgItemInt(dlg, kName, 65535, FALSE));
    EXPECT_EQ(ovGetDlgItemText(dlg, kName, text, 3), 2u);
    EXPECT_STREQ(text, "65");
    // Programmatic text keeps the case rule.
    ASSERT_TRUE(ovSetDlgItemText(dlg, kUpper, "abc"));
    ovGetDlgItemText(dlg, kUpper, text, sizeof text);
    EXPECT_STREQ(text, "ABC");
}

TEST_F(Controls, ComboBoxSelectAndType) {
    HWND dlg = ovCreateDialog(&kDemo, nullptr, demoProc, 0);
    for (const char* rate : {"300", "2400", "9600"})
        ovComboAddString(dlg, kCombo, rate);
    EXPECT_EQ(ovComboGetCount(dlg, kCombo), 3);
    ASSERT_TRUE(ovComboSetCurSel(dlg, kCombo, 1));
    char text[16];
    ovGetDlgItemText(dlg, kCombo, text, sizeof text);
    EXPECT_STREQ(text, "2400");
    ovuiComboSelect(dlg, kCombo, 2);
    ovuiComboType(dlg, kCombo, "fast");
    ovuiPumpUntilIdle();
    ovGetDlgItemText(dlg, kCombo, text, sizeof text);
    EXPECT_STREQ(text, "FAST");
    EXPECT_EQ(ovComboGetCurSel(dlg, kCombo), -1);
    auto cmds = eventsOf(WM_COMMAND);
    ASSERT_EQ(cmds.size(), 2u);
    EXPECT_EQ(cmds[0].code, CBN_SELCHANGE);
    EXPECT_EQ(cmds[1].code, CBN_EDITCHANGE);
    EXPECT_EQ(ovComboFindStringExact(dlg, kCombo, -1, "9600"), 2);
    ovComboReset(dlg, kCombo);
    EXPECT_EQ(ovComboGetCount(dlg, kCombo), 0);
}

TEST_F(Controls, TreeSelectionNotifiesIncludingDeleteOfTheSelection) {
    HWND dlg = ovCreateDialog(&kDemo, nullptr, demoProc, 0);
    HTREEITEM root = ovTreeInsertItem(dlg, kTree, 0, "Main", 0);
    HTREEITEM a = ovTreeInsertItem(dlg, kTree, root, "A", 1);
    HTREEITEM b = ovTreeInsertItem(dlg, kTree, root, "B", 2);
    HTREEITEM c = ovTreeInsertItem(dlg, kTree, root, "C", 3);
    HTREEITEM a1 = ovTreeInsertItem(dlg, kTree, a, "A1", 11);
    ASSERT_TRUE(root && a && b && c && a1);
    EXPECT_EQ(ovTreeInsertItem(dlg, kTree, 0xBAD, "x", 0), 0u);
    EXPECT_EQ(ovTreeGetChild(dlg, kTree, root), a);
    EXPECT_EQ(ovTreeGetNextSibling(dlg, kTree, a), b);
    EXPECT_EQ(ovTreeGetParent(dlg, kTree, a1), a);
    EXPECT_EQ(ovTreeGetItemData(dlg, kTree, a1), 11);

    ASSERT_TRUE(ovTreeSelectItem(dlg, kTree, b));
    auto n = eventsOf(WM_NOTIFY);
    ASSERT_EQ(n.size(), 1u);
    EXPECT_EQ(n[0].code, int(TVN_SELCHANGED));
    EXPECT_EQ(n[0].oldItem, 0u);
    EXPECT_EQ(n[0].newItem, b);
    EXPECT_EQ(n[0].newData, 2);
    EXPECT_EQ(n[0].action, UINT(TVC_UNKNOWN));
    ASSERT_TRUE(ovTreeSelectItem(dlg, kTree, b)); // no change, no notification
    EXPECT_EQ(eventsOf(WM_NOTIFY).size(), 1u);

    // Deleting the selection moves it to the next sibling, else the previous, else the parent.
    clearEvents();
    ASSERT_TRUE(ovTreeDeleteItem(dlg, kTree, b));
    EXPECT_EQ(ovTreeGetSelection(dlg, kTree), c);
    ASSERT_TRUE(ovTreeDeleteItem(dlg, kTree, c));
    EXPECT_EQ(ovTreeGetSelection(dlg, kTree), a);
    n = eventsOf(WM_NOTIFY);
    ASSERT_EQ(n.size(), 2u);
    EXPECT_EQ(n[0].oldItem, b);
    EXPECT_EQ(n[0].oldData, 2);
    EXPECT_EQ(n[0].newItem, c);
    EXPECT_EQ(n[1].newItem, a);
    ovuiTreeSelect(dlg, kTree, a1);
    ovuiPumpUntilIdle();
    EXPECT_EQ(eventsOf(WM_NOTIFY).back().action, UINT(TVC_BYMOUSE));
    ASSERT_TRUE(ovTreeDeleteItem(dlg, kTree, a)); // with its child, the selection
    EXPECT_EQ(ovTreeGetSelection(dlg, kTree), root);
    EXPECT_EQ(ovTreeGetCount(dlg, kTree), 1);
    EXPECT_FALSE(ovTreeDeleteItem(dlg, kTree, a1));
    EXPECT_EQ(eventsOf(WM_NOTIFY).back().newItem, root);

    // The snapshot shows nodes, expansion and selection; input on unknown items is ignored.
    HTREEITEM d = ovTreeInsertItem(dlg, kTree, root, "D", 4);
    ovuiTreeExpand(dlg, kTree, root, true);
    uint64_t ignored = ovuiIgnoredInputCount();
    ovuiTreeSelect(dlg, kTree, a);
    ovuiPumpUntilIdle();
    EXPECT_EQ(ovuiIgnoredInputCount(), ignored + 1);
    auto tree = controlJson(dlg, kTree);
    EXPECT_TRUE(tree["nodes"][0]["expanded"].get<bool>());
    EXPECT_TRUE(tree["nodes"][0]["selected"].get<bool>());
    EXPECT_EQ(tree["nodes"][0]["children"][0]["item"], d);
    ovTreeDeleteAll(dlg, kTree);
    EXPECT_EQ(ovTreeGetSelection(dlg, kTree), 0u);
}

TEST_F(Controls, TreeSelectionFromAnotherThreadIsNotifiedOnTheUiThread) {
    HWND dlg = ovCreateDialog(&kDemo, nullptr, demoProc, 0);
    HTREEITEM item = ovTreeInsertItem(dlg, kTree, 0, "Main", 5);
    std::thread other([&] { EXPECT_TRUE(ovTreeSelectItem(dlg, kTree, item)); });
    other.join();
    EXPECT_EQ(ovTreeGetSelection(dlg, kTree), item);
    EXPECT_TRUE(eventsOf(WM_NOTIFY).empty()); // posted, not yet run
    ovuiPumpUntilIdle();
    ASSERT_EQ(eventsOf(WM_NOTIFY).size(), 1u);
    EXPECT_EQ(eventsOf(WM_NOTIFY)[0].newData, 5);
}

TEST_F(Controls, ListViewColumnsRowsImagesAndSelection) {
    HWND dlg = ovCreateDialog(&kDemo, nullptr, demoProc, 0);
    const int icons[] = {112, 113};
    EXPECT_FALSE(ovListViewSetImages(dlg, kListView, icons, 0));
    ASSERT_TRUE(ovListViewSetImages(dlg, kListView, icons, 2));
    ASSERT_TRUE(ovListViewInsertColumn(dlg, kListView, 0, "", 20));
    ASSERT_TRUE(ovListViewInsertColumn(dlg, kListView, 1, "Online since", 120));
    ASSERT_TRUE(ovListViewInsertColumn(dlg, kListView, 2, "User's login", 80));
    ASSERT_EQ(ovListViewInsertItem(dlg, kListView, 0, "", 1), 0);
    ASSERT_EQ(ovListViewInsertItem(dlg, kListView, 1, "", 0), 1);
    ASSERT_TRUE(ovListViewSetItemText(dlg, kListView, 0, 2, "ada"));
    EXPECT_FALSE(ovListViewSetItemText(dlg, kListView, 0, 3, "no column"));
    EXPECT_FALSE(ovListViewSetItemText(dlg, kListView, 5, 1, "no row"));
    char text[16];
    ovListViewGetItemText(dlg, kListView, 0, 2, text, sizeof text);
    EXPECT_STREQ(text, "ada");
    EXPECT_EQ(ovListViewGetSelected(dlg, kListView), -1);
    ovuiListViewSelect(dlg, kListView, 1);
    ovuiPumpUntilIdle();
    EXPECT_EQ(ovListViewGetSelected(dlg, kListView), 1);
    auto n = eventsOf(WM_NOTIFY);
    ASSERT_EQ(n.size(), 1u);
    EXPECT_EQ(n[0].code, int(LVN_ITEMCHANGED));
    EXPECT_EQ(n[0].newItem, 1u);
    auto lv = controlJson(dlg, kListView);
    EXPECT_EQ(lv["columns"][1]["header"], "Online since");
    EXPECT_EQ(lv["rows"][0]["imageResource"], 113);
    EXPECT_EQ(lv["rows"][0]["cells"][2], "ada");
    EXPECT_TRUE(lv["rows"][1]["selected"].get<bool>());
    clearEvents();
    ASSERT_TRUE(ovListViewSetItemData(dlg, kListView, 0, 77));
    ovuiDoubleClick(dlg, kListView, 0);
    ovuiPumpUntilIdle();
    n = eventsOf(WM_NOTIFY);
    ASSERT_EQ(n.size(), 3u); // row 1 deselected, row 0 selected, then the double click
    EXPECT_EQ(n[2].code, int(NM_DBLCLK));
    EXPECT_EQ(n[2].newItem, 0u);
    EXPECT_EQ(n[2].newData, 77);
    ASSERT_TRUE(ovListViewDeleteAll(dlg, kListView));
    EXPECT_EQ(ovListViewGetCount(dlg, kListView), 0);
    EXPECT_EQ(ovListViewGetSelected(dlg, kListView), -1);
}
