// The active connections dialog with real Telnet callers.
#include "server_harness.h"

#include <nlohmann/json.hpp>

#include "server/sessions/session_list.h"
#include "server/sysop/connections_dialog.h"
#include "server/sysop/main_window_resources.h"

namespace {

class ConnectionsTest : public ServerTest {
protected:
    void SetUp() override {
        ServerTest::SetUp();
        preparePreferences();
        startServer();
    }
    HWND openDialog() {
        EXPECT_TRUE(ovuiMenuCommand(main, CmdActiveConnections));
        return waitForWindow(ConnectionsDialogId);
    }
    std::string cell(HWND dlg, int row, int col) {
        char buf[256] = {};
        ovListViewGetItemText(dlg, IdcConnectionList, row, col, buf, sizeof buf);
        return buf;
    }
    // The list view as the snapshot shows it.
    nlohmann::json listView(HWND dlg) {
        auto snap = nlohmann::json::parse(ovuiSnapshotJson());
        for (auto& w : snap["windows"])
            if (w["id"].get<uint64_t>() == reinterpret_cast<uintptr_t>(dlg))
                for (auto& c : w["controls"])
                    if (c["id"] == IdcConnectionList) return c;
        return {};
    }
};

TEST_F(ConnectionsTest, EmptyListAndDisconnectWithNobody) {
    HWND dlg = openDialog();
    ASSERT_NE(dlg, nullptr);
    char title[64] = {};
    ovGetWindowText(dlg, title, sizeof title);
    EXPECT_STREQ(title, "Active connections");
    auto lv = listView(dlg);
    ASSERT_EQ(lv["columns"].size(), 4u);
    EXPECT_EQ(lv["columns"][0]["header"], "");
    EXPECT_EQ(lv["columns"][0]["width"], 20);
    EXPECT_EQ(lv["columns"][1]["header"], "Online since");
    EXPECT_EQ(lv["columns"][1]["width"], 120);
    EXPECT_EQ(lv["columns"][2]["header"], "User's login");
    EXPECT_EQ(lv["columns"][2]["width"], 80);
    EXPECT_EQ(lv["columns"][3]["header"], "Connection name");
    EXPECT_EQ(lv["columns"][3]["width"], 220);
    EXPECT_EQ(lv["images"], nlohmann::json::array({112, 113}));
    EXPECT_EQ(ovListViewGetCount(dlg, IdcConnectionList), 0);
    ASSERT_TRUE(ovuiClick(dlg, IdcDisconnectCaller));
    onUiThread([] {});
    EXPECT_EQ(ovListViewGetCount(dlg, IdcConnectionList), 0);
    ASSERT_TRUE(ovuiClick(dlg, IDOK));
    EXPECT_TRUE(waitForWindowGone(ConnectionsDialogId));
}

TEST_F(ConnectionsTest, DisconnectDropsTheSelectedCallerEvenAfterANewArrival) {
    ovtest::LoopbackClient first = callIn();
    ovtest::LoopbackClient second = callIn();
    ASSERT_TRUE(ovtest::waitUntil([] { return snapshotSessions().size() == 2; }));
    const auto sessions = snapshotSessions(); // newest first

    HWND dlg = openDialog();
    ASSERT_NE(dlg, nullptr);
    ASSERT_EQ(ovListViewGetCount(dlg, IdcConnectionList), 2);
    EXPECT_EQ(cell(dlg, 0, 0), "");
    EXPECT_EQ(cell(dlg, 0, 1), sessions[0].onlineSince);
    EXPECT_EQ(cell(dlg, 0, 2), ""); // still at the login prompt
    EXPECT_EQ(cell(dlg, 0, 3), sessions[0].description);
    EXPECT_EQ(cell(dlg, 1, 3), sessions[1].description);
    EXPECT_EQ(cell(dlg, 0, 3).rfind("TCP from 127.0.0.1:", 0), 0u);
    auto lv = listView(dlg);
    EXPECT_EQ(lv["rows"][0]["imageResource"], NetworkIconId);

    // A third caller arrives after the fill; row 1 still means the first caller.
    ovtest::LoopbackClient third = callIn();
    ASSERT_TRUE(ovtest::waitUntil([] { return snapshotSessions().size() == 3; }));
    ASSERT_TRUE(ovuiListViewSelect(dlg, IdcConnectionList, 1));
    ASSERT_TRUE(ovuiClick(dlg, IdcDisconnectCaller));
    EXPECT_EQ(ovtest::answerMessageBox(IDYES),
              std::string("Disconnect this caller?\n") + sessions[1].description);
    EXPECT_TRUE(first.waitForClose());
    // Refilled at once: the newest caller first, the dropped one gone.
    EXPECT_TRUE(ovtest::waitUntil([&] {
        return ovListViewGetCount(dlg, IdcConnectionList) == 2 &&
               cell(dlg, 1, 3) == sessions[0].description;
    }));
    EXPECT_NE(cell(dlg, 0, 3), sessions[1].description);

    // The others are still connected and listed.
    ASSERT_TRUE(second.send("x"));
    ASSERT_TRUE(third.send("x"));
    ASSERT_TRUE(ovuiClick(dlg, IdcRefreshConnections));
    onUiThread([] {});
    EXPECT_EQ(ovListViewGetCount(dlg, IdcConnectionList), 2);
    ASSERT_TRUE(ovuiCloseBox(dlg));
    EXPECT_TRUE(waitForWindowGone(ConnectionsDialogId));
}

} // namespace
