// Windows: creation, snapshot, default dialog behaviour, modal nesting, loop services.
#include "demo_dialogs.h"
#include "support/test_support.h"

#include <atomic>
#include <csignal>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace demo;
using Ui = demo::UiTest;

TEST_F(Ui, SnapshotDescribesEveryControlKindBeforeAndAfterInput) {
    HWND dlg = ovCreateDialog(&kDemo, nullptr, demoProc, 42);
    ASSERT_NE(dlg, nullptr);
    ASSERT_EQ(eventsOf(WM_INITDIALOG).size(), 1u);
    EXPECT_EQ(eventsOf(WM_INITDIALOG)[0].lParam, 42);
    ASSERT_TRUE(ovSetDlgItemText(dlg, kPassword, "secret"));
    ASSERT_NE(ovListAddString(dlg, kSortedList, "beta"), -1);
    HTREEITEM root = ovTreeInsertItem(dlg, kTree, 0, "Root", 7);
    ASSERT_NE(root, 0u);
    ASSERT_TRUE(ovListViewInsertColumn(dlg, kListView, 0, "", 20));
    ASSERT_EQ(ovListViewInsertItem(dlg, kListView, 0, "", 0), 0);

    nlohmann::json w = windowJson(dlg);
    ASSERT_FALSE(w.is_null());
    EXPECT_EQ(w["kind"], "dialog");
    EXPECT_EQ(w["title"], "Demo");
    EXPECT_EQ(w["template"], kTemplate);
    EXPECT_TRUE(w["visible"].get<bool>());
    EXPECT_TRUE(w["closeBox"].get<bool>());
    EXPECT_EQ(w["focus"], kName); // the first tab stop
    std::set<std::string> kinds;
    for (auto& c : w["controls"])
        kinds.insert(c["kind"].get<std::string>());
    for (const char* k : {"static", "groupbox", "button", "defbutton", "checkbox", "edit",
                          "listbox", "combobox", "treeview", "listview", "bitmap", "icon"})
        EXPECT_TRUE(kinds.count(k)) << k;
    EXPECT_EQ(controlJson(dlg, kPassword)["text"], "");
    EXPECT_EQ(controlJson(dlg, kBitmap)["resource"], 106);
    EXPECT_FALSE(controlJson(dlg, kDisabledButton)["enabled"].get<bool>());
    EXPECT_EQ(controlJson(dlg, kTree)["nodes"][0]["data"], 7);
    auto menu = w["menu"];
    ASSERT_EQ(menu.size(), 2u);
    EXPECT_EQ(menu[0]["text"], "&File");
    EXPECT_TRUE(menu[0]["popup"][1]["separator"].get<bool>());
    EXPECT_TRUE(menu[1]["popup"][0]["checked"].get<bool>());
    EXPECT_TRUE(menu[1]["popup"][1]["grayed"].get<bool>());
    EXPECT_EQ(menu[1]["popup"][2]["popup"][0]["id"], kMenuDeep);

    uint64_t before = ovuiStateVersion();
    ovuiTypeText(dlg, kName, "Ada");
    ovuiClick(dlg, kCheck);
    ovuiSelect(dlg, kSortedList, 0);
    ovuiPumpUntilIdle();
    EXPECT_GT(ovuiStateVersion(), before);
    EXPECT_EQ(controlJson(dlg, kName)["text"], "Ada");
    EXPECT_TRUE(controlJson(dlg, kCheck)["checked"].get<bool>());
    EXPECT_EQ(controlJson(dlg, kSortedList)["selected"], 0);
    EXPECT_EQ(windowJson(dlg)["focus"], kSortedList);
    auto cmds = eventsOf(WM_COMMAND);
    ASSERT_EQ(cmds.size(), 3u);
    EXPECT_EQ(cmds[0].id, kName);
    EXPECT_EQ(cmds[0].code, EN_CHANGE);
    EXPECT_EQ(cmds[1].id, kCheck);
    EXPECT_EQ(cmds[1].code, BN_CLICKED);
    EXPECT_EQ(cmds[1].lParam, reinterpret_cast<LPARAM>(ovGetDlgItem(dlg, kCheck)));
    EXPECT_EQ(cmds[2].code, LBN_SELCHANGE);
}

TEST_F(Ui, EnterEscapeCloseBoxAndMinimizeFollowTheDesktop) {
    HWND dlg = ovCreateDialog(&kDemo, nullptr, demoProc, 0);
    ASSERT_NE(dlg, nullptr);
    // Enter presses the default button; Escape is IDCANCEL.
    ovuiKey(dlg, "enter");
    ovuiPumpUntilIdle();
    ASSERT_EQ(eventsOf(WM_COMMAND).size(), 1u);
    EXPECT_EQ(eventsOf(WM_COMMAND)[0].id, IDOK);
    EXPECT_FALSE(ovShowWindow(dlg, SW_SHOW)); // ovEndDialog only hid the modeless dialog
    clearEvents();
    ASSERT_TRUE(ovEnableDlgItem(dlg, IDOK, FALSE));
    uint64_t ignored = ovuiIgnoredInputCount();
    ovuiKey(dlg, "enter");
    ovuiPumpUntilIdle();
    EXPECT_TRUE(eventsOf(WM_COMMAND).empty());
    EXPECT_EQ(ovuiIgnoredInputCount(), ignored + 1);
    // With the focus on a push button, Enter presses that button.
    ASSERT_TRUE(ovSetFocus(dlg, kApply));
    ovuiKey(dlg, "enter");
    ovuiPumpUntilIdle();
    ASSERT_EQ(eventsOf(WM_COMMAND).size(), 1u);
    EXPECT_EQ(eventsOf(WM_COMMAND)[0].id, kApply);
    clearEvents();
    ovuiKey(dlg, "tab");
    ovuiPumpUntilIdle();
    EXPECT_NE(ovGetFocus(dlg), kApply);
    // The close box: WM_SYSCOMMAND SC_CLOSE, then WM_CLOSE, then IDCANCEL.
    ovuiCloseBox(dlg);
    ovuiPumpUntilIdle();
    auto all = events();
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[0].msg, UINT(WM_SYSCOMMAND));
    EXPECT_EQ(all[0].wParam, WPARAM(SC_CLOSE));
    EXPECT_EQ(all[1].msg, UINT(WM_CLOSE));
    EXPECT_EQ(all[2].msg, UINT(WM_COMMAND));
    EXPECT_EQ(all[2].id, IDCANCEL);
    EXPECT_FALSE(ovShowWindow(dlg, SW_SHOW));
    clearEvents();
    ovuiMinimize(dlg);
    ovuiPumpUntilIdle();
    EXPECT_TRUE(ovIsIconic(dlg));
    EXPECT_TRUE(windowJson(dlg)["minimized"].get<bool>());
    ovuiClick(dlg, kApply); // a minimised window takes no clicks
    ovuiRestore(dlg);
    ovuiClick(dlg, kApply);
    ovuiPumpUntilIdle();
    EXPECT_FALSE(ovIsIconic(dlg));
    ASSERT_EQ(eventsOf(WM_COMMAND).size(), 1u);
    ASSERT_TRUE(ovDestroyWindow(dlg));
    EXPECT_EQ(eventsOf(WM_DESTROY).size(), 1u);
    EXPECT_FALSE(ovIsWindow(dlg));
    EXPECT_FALSE(ovSetDlgItemText(dlg, kName, "gone"));
}

// Ends whatever modal dialogs are left, so that a failed answerer cannot hang the test.
static void endAllModals() {
    for (int i = 0; i < 100 && ovuiModalDepth() > 0; ++i) {
        uint64_t v = ovuiStateVersion();
        if (HWND m = ovuiTopModal()) ovEndDialog(m, -5);
        ovuiWaitForChange(v, 100);
    }
}

TEST_F(Ui, ModalDialogsThreeDeepAnsweredFromATestThread) {
    std::atomic<bool> ownerWasDisabled{false}, clickUnderModalIgnored{false};
    std::thread answerer([&] {
        struct Cleanup {
            ~Cleanup() { endAllModals(); }
        } cleanup;
        for (int level = 1; level <= 3; ++level) {
            int tpl = kLevel1 + level - 1;
            ASSERT_TRUE(
                ovuiWaitFor([&] { return ovuiFindWindowByTemplate(tpl) != nullptr; }, 10000));
            HWND dlg = ovuiFindWindowByTemplate(tpl);
            ASSERT_TRUE(ovuiWaitFor([&] { return ovuiTopModal() == dlg; }, 10000));
            if (level == 3) {
                HWND owner = ovGetParent(dlg);
                ownerWasDisabled = !ovIsWindowEnabled(owner);
                uint64_t ignored = ovuiIgnoredInputCount();
                ovuiClick(owner, IDOK);
                clickUnderModalIgnored =
                    ovuiWaitFor([&] { return ovuiIgnoredInputCount() > ignored; }, 10000);
                ovuiTypeText(dlg, kName, "deep");
                ovuiKey(dlg, "enter");
            } else {
                ovuiClick(dlg, kOpenNested);
            }
        }
        // Back in level 2, then level 1: each ends with OK.
        for (int tpl : {kLevel2, kLevel1}) {
            HWND dlg = ovuiFindWindowByTemplate(tpl);
            ASSERT_TRUE(ovuiWaitFor([&] { return ovuiTopModal() == dlg; }, 10000));
            ovuiClick(dlg, IDOK);
            ASSERT_TRUE(ovuiWaitFor([&] { return !ovIsWindow(dlg); }, 10000));
        }
    });
    INT_PTR r = ovDialogBox(&kNested[0], nullptr, nestedProc, 1);
    answerer.join();
    EXPECT_TRUE(ownerWasDisabled);
    EXPECT_TRUE(clickUnderModalIgnored);
    // Level 3 gave 300, level 2 then 200 + 300, level 1 100 + 500.
    EXPECT_EQ(nestedResults(), (std::vector<INT_PTR>{300, 500}));
    EXPECT_EQ(r, 600);
    EXPECT_EQ(ovuiModalDepth(), 0);
    EXPECT_EQ(ovuiFindWindowByTemplate(kLevel1), nullptr);
}

TEST_F(Ui, DialogBoxThatCannotBeCreatedGivesMinusOne) {
    EXPECT_EQ(ovDialogBox(nullptr, nullptr, demoProc, 0), -1);
    OvDialogTemplate broken = kDemo;
    broken.controls = nullptr;
    EXPECT_EQ(ovDialogBox(&broken, nullptr, demoProc, 0), -1);
    EXPECT_EQ(ovDialogBox(&kDemo, reinterpret_cast<HWND>(uintptr_t(0xdead0)), demoProc, 0), -1);
}

TEST_F(Ui, PostedMessagesAndCallsRunInOrder) {
    HWND dlg = ovCreateDialog(&kDemo, nullptr, demoProc, 0);
    static std::vector<int> order;
    order.clear();
    ASSERT_TRUE(ovPostMessage(dlg, WM_USER + 1, 1, 0));
    ASSERT_TRUE(ovPostCall([](void*) { order.push_back(-1); }, nullptr));
    ASSERT_TRUE(ovPostMessage(dlg, WM_USER + 1, 2, 0));
    EXPECT_FALSE(ovPostMessage(reinterpret_cast<HWND>(uintptr_t(0xdead0)), WM_USER, 0, 0));
    EXPECT_FALSE(ovPostCall(nullptr, nullptr));
    ovuiPumpUntilIdle();
    auto user = eventsOf(WM_USER + 1);
    ASSERT_EQ(user.size(), 2u);
    EXPECT_EQ(user[0].wParam, 1u);
    EXPECT_EQ(user[1].wParam, 2u);
    ASSERT_EQ(order.size(), 1u);
    // Registered messages: same name, same value, in the registered range.
    UINT a = ovRegisterWindowMessage("WM_SOCKET");
    EXPECT_GE(a, 0xC000u);
    EXPECT_EQ(ovRegisterWindowMessage("WM_SOCKET"), a);
    EXPECT_NE(ovRegisterWindowMessage("WM_TOOLTRAY"), a);
    EXPECT_EQ(ovRegisterWindowMessage(""), 0u);
    EXPECT_EQ(ovFindWindow("Demo"), dlg);
    EXPECT_EQ(ovFindWindow("Nobody"), nullptr);
}

TEST_F(Ui, TimersDeliverWmTimerUntilKilled) {
    HWND dlg = ovCreateDialog(&kDemo, nullptr, demoProc, 0);
    ASSERT_EQ(ovSetTimer(dlg, 7, 5), 7u);
    EXPECT_EQ(ovSetTimer(reinterpret_cast<HWND>(uintptr_t(0xdead0)), 7, 5), 0u);
    ASSERT_TRUE(ovuiPumpUntil([] { return eventsOf(WM_TIMER).size() >= 2; }, 10000));
    EXPECT_EQ(eventsOf(WM_TIMER)[0].id, 7);
    EXPECT_TRUE(ovKillTimer(dlg, 7));
    EXPECT_FALSE(ovKillTimer(dlg, 7));
}

TEST_F(Ui, DescriptorWatchPostsOncePerDispatchWithoutFlooding) {
    int sv[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
    static int readerFd;
    static int reads;
    readerFd = sv[0];
    reads = 0;
    static const OvDialogTemplate tpl = {600, "Watcher", 50, 50, 0, nullptr, 0, nullptr, 0};
    HWND dlg = ovCreateDialog(
        &tpl, nullptr,
        [](HWND, UINT msg, WPARAM wParam, LPARAM) -> INT_PTR {
            if (msg != WM_APP) return FALSE;
            EXPECT_EQ(wParam, WPARAM(readerFd));
            char c;
            if (read(readerFd, &c, 1) == 1) ++reads; // one byte per notification
            return TRUE;
        },
        0);
    ASSERT_NE(dlg, nullptr);
    ASSERT_TRUE(ovWatchReadable(sv[0], dlg, WM_APP, WPARAM(sv[0])));
    ovuiPumpUntilIdle();
    EXPECT_EQ(reads, 0);
    ASSERT_EQ(write(sv[1], "abc", 3), 3);
    ASSERT_TRUE(ovuiPumpUntil([] { return reads == 3; }, 10000));
    ovuiPumpUntilIdle();
    EXPECT_EQ(reads, 3);
    ASSERT_TRUE(ovUnwatch(sv[0]));
    EXPECT_FALSE(ovUnwatch(sv[0]));
    ASSERT_EQ(write(sv[1], "d", 1), 1);
    ovuiPumpUntilIdle();
    EXPECT_EQ(reads, 3);
    close(sv[0]);
    close(sv[1]);
}

TEST_F(Ui, InputForVanishedDisabledOrBlockedWindowsIsIgnored) {
    HWND dlg = ovCreateDialog(&kDemo, nullptr, demoProc, 0);
    uint64_t ignored = ovuiIgnoredInputCount();
    ovuiClick(dlg, kDisabledButton);
    ovuiClick(dlg, 9999);
    ovuiTypeText(dlg, kReadOnly, "changed");
    ovuiMenuCommand(dlg, kMenuGrey);
    ovuiMenuCommand(dlg, 4242);
    ovuiClick(reinterpret_cast<HWND>(uintptr_t(0xdead0)), IDOK);
    ASSERT_TRUE(ovEnableWindow(dlg, FALSE) == FALSE); // was enabled
    ovuiClick(dlg, kApply);
    ovuiPumpUntilIdle();
    EXPECT_EQ(ovuiIgnoredInputCount(), ignored + 7);
    EXPECT_TRUE(events().size() == 1u); // only WM_INITDIALOG
    char text[16];
    ovGetDlgItemText(dlg, kReadOnly, text, sizeof text);
    EXPECT_STREQ(text, "fixed");
    ASSERT_TRUE(ovEnableWindow(dlg, TRUE));
    ovuiMenuCommand(dlg, kMenuDeep);
    ovuiPumpUntilIdle();
    ASSERT_EQ(eventsOf(WM_COMMAND).size(), 1u);
    EXPECT_EQ(eventsOf(WM_COMMAND)[0].wParam, MAKEWPARAM(kMenuDeep, 0));
    EXPECT_EQ(eventsOf(WM_COMMAND)[0].lParam, 0);
}

TEST_F(Ui, MessageLoopRunsUntilQuitPostedFromAnotherThread) {
    HWND dlg = ovCreateDialog(&kDemo, nullptr, demoProc, 0);
    std::thread other([&] {
        EXPECT_FALSE(ovInitialize()); // the UI thread is taken
        EXPECT_FALSE(ovIsUiThread());
        ovPostMessage(dlg, WM_USER + 5, 0, 0);
        ovPostQuitMessage(3);
    });
    EXPECT_EQ(ovRunMessageLoop(), 3);
    other.join();
    EXPECT_EQ(eventsOf(WM_USER + 5).size(), 1u);
}

static HWND gSignalTarget;

TEST_F(Ui, SignalHandlerPostsWmClose) {
    gSignalTarget = ovCreateDialog(&kDemo, nullptr, demoProc, 0);
    struct sigaction sa {};
    struct sigaction old {};
    sa.sa_handler = [](int) { ovPostMessageFromSignal(gSignalTarget, WM_CLOSE, 0, 0); };
    ASSERT_EQ(sigaction(SIGHUP, &sa, &old), 0);
    raise(SIGHUP);
    ASSERT_EQ(sigaction(SIGHUP, &old, nullptr), 0);
    ASSERT_TRUE(ovuiPumpUntil([] { return !eventsOf(WM_CLOSE).empty(); }, 10000));
    // WM_CLOSE's default handling is IDCANCEL.
    ASSERT_EQ(eventsOf(WM_COMMAND).size(), 1u);
    EXPECT_EQ(eventsOf(WM_COMMAND)[0].id, IDCANCEL);
}
