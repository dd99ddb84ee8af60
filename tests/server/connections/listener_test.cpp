// The Telnet listener on the UI runtime's loop: real callers over 127.0.0.1 reach sessions
// through WM_SOCKET, a taken port is told on standard error, and running out of descriptors
// drops the excess caller instead of spinning.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "ovui_driver.h"
#include "server/connections/telnet_listener.h"
#include "server/control/headless_host.h"
#include "server/preferences/preferences.h"
#include "server/sessions/session_list.h"
#include "server/sessions/session_threads.h"
#include "server/sysop/tray.h"
#include "support/server_fixture.h"
#include "support/test_support.h"

namespace {

const std::string Opening = "\xff\xfb\x03\xff\xfd\x03\xff\xfb\x01"
                            "Ossivane BBS\r\nVersion 1.00b1, build 311 (14 Apr 99)\r\n\r\n";

nlohmann::json trayState() {
    return nlohmann::json::parse(ovuiSnapshotJson())["tray"];
}

uint16_t freePort() {
    uint16_t port = 0;
    int fd = ovtest::listenOnFreePort(port);
    ::close(fd);
    return port;
}

class ListenerTest : public ovtest::ServerFixture {
protected:
    void SetUp() override {
        ServerFixture::SetUp();
        port = freePort();
        ASSERT_TRUE(setTelnetPort(port));
    }
    void TearDown() override {
        stopHeadlessHost();
        EXPECT_TRUE(ovtest::waitUntil([] { return runningSessionThreads() == 0; }));
    }
    uint16_t port = 0;
};

TEST_F(ListenerTest, CallerReachesASessionThroughTheMainWindow) {
    ASSERT_TRUE(startHeadlessHost());
    EXPECT_TRUE(isListening());
    ovtest::LoopbackClient c;
    ASSERT_TRUE(c.connectTo(port));
    EXPECT_EQ(c.readUntil("Login:  "),
              Opening + "Login as \"new\" to create a new account.\r\n\r\nLogin:  ");
    // A blocking socket: the session waits for the caller's line however long it takes.
    ASSERT_TRUE(c.send("\r\n"));
    EXPECT_EQ(c.readUntil("Login:  "), "\r\nLogin:  ");
    EXPECT_EQ(currentTrayLevel(), 1);
    stopHeadlessHost(); // drops the caller, as closing the main window does
    EXPECT_TRUE(c.waitForClose());
    EXPECT_FALSE(isListening());
    ovtest::LoopbackClient late;
    EXPECT_FALSE(late.connectTo(port));
}

TEST_F(ListenerTest, TrayInTheRuntimeShowsLoadAndTip) {
    ASSERT_TRUE(setMaxUsers(3));
    ASSERT_TRUE(startHeadlessHost());
    EXPECT_EQ(trayState()["tip"], "0 user(s) out of a maximum of 3");
    EXPECT_EQ(trayState()["level"], 0);
    std::vector<ovtest::LoopbackClient> callers(2);
    for (auto& c : callers) {
        ASSERT_TRUE(c.connectTo(port));
        ASSERT_NE(c.readUntil("Login:  ").find("Login:  "), std::string::npos);
    }
    EXPECT_EQ(trayState()["level"], 3);
    EXPECT_EQ(trayState()["tip"], "2 user(s) out of a maximum of 3");
    // A restarted taskbar gets the icon back as it was.
    removeTrayIcon();
    ASSERT_EQ(trayState()["present"], false);
    ASSERT_TRUE(ovuiPageOpened());
    EXPECT_TRUE(ovuiWaitFor([] { return trayState()["present"] == true; }, 10000));
    EXPECT_EQ(trayState()["level"], 3);
    stopHeadlessHost();
    EXPECT_EQ(trayState()["present"], false);
}

TEST_F(ListenerTest, CallersArrivingTogetherEachGetASession) {
    ASSERT_TRUE(setMaxUsers(20));
    ASSERT_TRUE(startHeadlessHost());
    std::vector<ovtest::LoopbackClient> callers(8);
    std::vector<std::thread> dialers;
    for (auto& c : callers)
        dialers.emplace_back([&c, this] { EXPECT_TRUE(c.connectTo(port)); });
    for (auto& t : dialers)
        t.join();
    for (auto& c : callers)
        EXPECT_NE(c.readUntil("Login:  ").find("Login:  "), std::string::npos);
    EXPECT_EQ(snapshotSessions().size(), callers.size());
}

TEST_F(ListenerTest, TakenPortLeavesTheServerRunningWithoutTelnet) {
    uint16_t taken = 0;
    int holder = ovtest::listenOnFreePort(taken);
    ASSERT_TRUE(setTelnetPort(taken));
    testing::internal::CaptureStderr();
    EXPECT_FALSE(startHeadlessHost());
    std::string said = testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find("ovhost: cannot listen for Telnet on port " + std::to_string(taken) + ": "),
              std::string::npos)
        << said;
    EXPECT_FALSE(isListening());
    ::close(holder);
}

TEST_F(ListenerTest, UseTcpOffBindsNothing) {
    ASSERT_TRUE(setUseTcp(false));
    EXPECT_FALSE(startHeadlessHost());
    EXPECT_FALSE(isListening());
    ovtest::LoopbackClient c;
    EXPECT_FALSE(c.connectTo(port));
}

TEST_F(ListenerTest, OutOfDescriptorsTheExcessCallerIsDroppedNotSpunOn) {
    ASSERT_TRUE(startHeadlessHost());
    int client = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(client, 0);
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit low = saved;
    low.rlim_cur = rlim_t(ovtest::openDescriptorCount() + 64);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
    std::vector<int> fillers;
    for (int fd; (fd = ::dup(client)) >= 0;)
        fillers.push_back(fd);
    ovtest::LoopbackClient excess(client);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::connect(client, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    EXPECT_EQ(excess.readToClose(), ""); // accepted on the spare descriptor and let go
    for (int fd : fillers)
        ::close(fd);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &saved), 0);
    ovtest::LoopbackClient next;
    ASSERT_TRUE(next.connectTo(port));
    EXPECT_NE(next.readUntil("Login:  ").find("Login:  "), std::string::npos);
}

} // namespace
