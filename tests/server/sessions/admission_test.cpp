// Several callers at once: the user limit, the tray load, and callers racing for one new name.
#include <algorithm>
#include <cstring>

#include "server/sysop/tray.h"
#include "session_harness.h"

using namespace sesstest;
using ovtest::LoopbackClient;

namespace {

// The tray watches the load, as in the server.
class AdmissionTest : public SessionTest {
protected:
    void SetUp() override {
        SessionTest::SetUp();
        setLoadObserver(showUserLoad);
    }
    void TearDown() override { setLoadObserver(nullptr); }
};

bool reachesLoginPrompt(LoopbackClient& c) {
    return c.readUntil(LoginPrompt).find(LoginPrompt) != std::string::npos;
}

TEST_F(AdmissionTest, SixthCallerIsRefusedAtTheLimitOfFive) {
    SessionServer server;
    std::vector<LoopbackClient> admitted;
    for (int i = 0; i < 5; ++i) {
        admitted.push_back(server.call());
        ASSERT_TRUE(reachesLoginPrompt(admitted.back())) << i;
    }
    EXPECT_EQ(activeUserCount(), 5u);
    LoopbackClient sixth = server.call();
    EXPECT_EQ(sixth.readToClose(), Negotiation + Banner + TooMany);
    // Everyone at the login prompt counts, and is listed with the refused one gone again.
    EXPECT_TRUE(ovtest::waitUntil([] { return snapshotSessions().size() == 5; }));
    auto events = logEvents();
    ASSERT_EQ(events.size(), 8u);
    EXPECT_EQ(std::count(events.begin(), events.begin() + 6, "CONNECT"), 6);
    EXPECT_EQ(events[6], "TOO MANY USERS");
    EXPECT_EQ(events[7], "DISCONNECT: Connection closed without logoff");
    EXPECT_NE(ovtest::readFile("bbslog.txt").find("Current limit:  5\r\n"), std::string::npos);

    // One leaves: the next caller is admitted again.
    admitted[0].close();
    ASSERT_TRUE(ovtest::waitUntil([] { return activeUserCount() == 4; }));
    LoopbackClient next = server.call();
    EXPECT_TRUE(reachesLoginPrompt(next));
}

TEST_F(AdmissionTest, LimitOfZeroRefusesEveryone) {
    ASSERT_TRUE(setMaxUsers(0));
    SessionServer server;
    LoopbackClient c = server.call();
    EXPECT_EQ(c.readToClose(), Negotiation + Banner + TooMany);
    EXPECT_NE(ovtest::readFile("bbslog.txt").find("Current limit:  0\r\n"), std::string::npos);
    EXPECT_EQ(activeUserCount(), 0u);
    EXPECT_EQ(currentTrayLevel(), 0); // untouched by refusals
}

TEST(TrayLevel, FollowsTheLoadInSixSteps) {
    EXPECT_EQ(trayLevelFor(0, 5), 0);
    EXPECT_EQ(trayLevelFor(1, 5), 1);
    EXPECT_EQ(trayLevelFor(5, 5), 5);
    EXPECT_EQ(trayLevelFor(1, 10), 0);
    EXPECT_EQ(trayLevelFor(3, 10), 1);
    EXPECT_EQ(trayLevelFor(1, 3), 1);
    EXPECT_EQ(trayLevelFor(2, 3), 3);
    EXPECT_EQ(trayLevelFor(3, 3), 5);
    EXPECT_EQ(trayLevelFor(7, 3), 5);           // limit lowered below the load
    EXPECT_EQ(trayLevelFor(2, 0), 5);           // limit changed to 0 while callers are on
    EXPECT_EQ(trayLevelFor(0xFFFFFFFFu, 1), 5); // no overflow
    char tip[TrayTipSize];
    formatUserCountTip(tip, 3, 10);
    EXPECT_STREQ(tip, "3 user(s) out of a maximum of 10");
}

TEST_F(AdmissionTest, TrayShowsTheLoadOfCallersAtTheLoginPrompt) {
    ASSERT_TRUE(setMaxUsers(3));
    SessionServer server;
    std::vector<LoopbackClient> callers;
    const int levels[] = {1, 3, 5};
    for (int i = 0; i < 3; ++i) {
        callers.push_back(server.call());
        ASSERT_TRUE(reachesLoginPrompt(callers.back()));
        EXPECT_EQ(currentTrayLevel(), levels[i]);
    }
    char tip[TrayTipSize];
    currentTrayTip(tip);
    EXPECT_STREQ(tip, "3 user(s) out of a maximum of 3");
    callers.clear();
    ASSERT_TRUE(ovtest::waitUntil([] { return activeUserCount() == 0; }));
    EXPECT_EQ(currentTrayLevel(), 0);
    currentTrayTip(tip);
    EXPECT_STREQ(tip, "0 user(s) out of a maximum of 3");
}

TEST_F(AdmissionTest, TwoCallersRacingForOneNameGetItOnce) {
    SessionServer server;
    LoopbackClient a = server.call(), b = server.call();
    for (LoopbackClient* c : {&a, &b}) {
        ASSERT_TRUE(c->send("new\r\n"));
        ASSERT_NE(c->readUntil(HandlePrompt).find(HandlePrompt), std::string::npos);
    }
    std::thread other([&] { EXPECT_TRUE(b.send("frank\r\n")); });
    ASSERT_TRUE(a.send("frank\r\n"));
    other.join();
    // Each sees either the password prompt (winner) or the refusal and the prompt again.
    std::string seenA = a.readUntil(":  "), seenB = b.readUntil(":  ");
    bool aWon = seenA.find(NewPasswordPrompt) != std::string::npos;
    bool bWon = seenB.find(NewPasswordPrompt) != std::string::npos;
    EXPECT_NE(aWon, bWon);
    EXPECT_NE((aWon ? seenB : seenA).find(NameInUse + HandlePrompt), std::string::npos);
}

TEST_F(AdmissionTest, NobodyLogsInToANameStillBeingCreated) {
    SessionServer server;
    LoopbackClient maker = server.call();
    ASSERT_TRUE(maker.send("new\r\ngina\r\n"));
    ASSERT_NE(maker.readUntil(NewPasswordPrompt).find(NewPasswordPrompt), std::string::npos);
    ASSERT_TRUE(isUserReserved("gina"));

    // The half-made account has an empty password; it must not let anyone in.
    LoopbackClient intruder = server.call();
    ASSERT_TRUE(intruder.send("gina\r\n\r\n"));
    EXPECT_NE(intruder.readUntil(Failure).find(PasswordPrompt + "\r\n" + Failure),
              std::string::npos);
    EXPECT_NE(ovtest::readFile("bbslog.txt").find("Attempted login:  gina\r\n"), std::string::npos);

    ASSERT_TRUE(maker.send("pw\r\npw\r\nGina\r\nN"));
    EXPECT_NE(maker.readUntil(areasMarker("gina")).find(areasMarker("gina")), std::string::npos);
    EXPECT_FALSE(isUserReserved("gina"));
    ASSERT_TRUE(intruder.send("gina\r\npw\r\n"));
    EXPECT_NE(intruder.readUntil(areasMarker("gina")).find(areasMarker("gina")), std::string::npos);
}

TEST_F(AdmissionTest, DisconnectSessionDropsExactlyThatCaller) {
    SessionServer server;
    LoopbackClient first = server.call();
    ASSERT_TRUE(reachesLoginPrompt(first));
    LoopbackClient second = server.call();
    ASSERT_TRUE(reachesLoginPrompt(second));
    auto rows = snapshotSessions();
    ASSERT_EQ(rows.size(), 2u);
    // Newest first: drop the older caller by its id, even though a third arrives meanwhile.
    uint32_t olderId = rows[1].connectionId;
    LoopbackClient third = server.call();
    ASSERT_TRUE(reachesLoginPrompt(third));
    EXPECT_TRUE(disconnectSession(olderId));
    EXPECT_FALSE(disconnectSession(olderId));
    EXPECT_TRUE(first.waitForClose());
    ASSERT_TRUE(second.send("\r\n"));
    EXPECT_NE(second.readUntil(LoginPrompt).find(LoginPrompt), std::string::npos);
    EXPECT_EQ(snapshotSessions().size(), 2u);
    disconnectAll();
    EXPECT_TRUE(snapshotSessions().empty());
    EXPECT_TRUE(second.waitForClose());
    EXPECT_TRUE(third.waitForClose());
    disconnectAll(); // empty list: nothing to do
}

} // namespace
