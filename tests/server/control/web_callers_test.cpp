// Callers from the caller page against the whole server: admitted, listed, logged, timed out
// and dropped like Telnet callers, and what the listener does with hostile visitors.
#include "server_harness.h"
#include "support/web_client.h"

#include <cstdlib>

#include "server/connections/web_listener.h"
#include "server/preferences/preferences.h"
#include "server/sessions/session_list.h"
#include "server/sysop/connections_dialog.h"
#include "server/sysop/main_window_resources.h"

namespace {

using namespace std::chrono_literals;
using ovtest::WebClient;

class WebCallersTest : public ServerTest {
protected:
    void start(uint32_t maxUsers, uint32_t idleMs, const char* trustedProxies = nullptr) {
        setenv("OVHOST_WEB", "127.0.0.1:0", 1);
        if (trustedProxies)
            setenv("OVHOST_WEB_TRUSTED_PROXIES", trustedProxies, 1);
        else
            unsetenv("OVHOST_WEB_TRUSTED_PROXIES");
        preparePreferences([&] {
            ASSERT_TRUE(setMaxUsers(maxUsers));
            ASSERT_TRUE(setIdleTimeoutMs(idleMs));
            ASSERT_TRUE(setParanoidLogging(true));
        });
        idleDescriptors = ovtest::openDescriptorCount();
        startServer();
        const std::string address = webListenerAddress();
        ASSERT_EQ(address.rfind("http://127.0.0.1:", 0), 0u) << address;
        webPort = uint16_t(std::stoi(address.substr(17)));
    }
    void TearDown() override {
        ServerTest::TearDown();
        unsetenv("OVHOST_WEB");
        unsetenv("OVHOST_WEB_TRUSTED_PROXIES");
        // Stopping the listener waits for its threads; every socket and loop is closed.
        EXPECT_EQ(runningWebThreads(), 0u);
        EXPECT_EQ(waitingWebVisitors(), 0u);
        EXPECT_TRUE(ovtest::waitUntil([&] {
            return ovtest::openDescriptorCount() <= idleDescriptors;
        })) << ovtest::openDescriptorCount()
            << " descriptors, " << idleDescriptors << " before";
    }
    // A raw HTTP request; the whole answer up to the close.
    std::string request(const std::string& text) {
        ovtest::LoopbackClient c;
        if (!c.connectTo(webPort) || !c.send(text)) return {};
        return c.readToClose();
    }
    std::string log() { return ovtest::readFile("bbslog.txt"); }
    std::string describeLocal(WebClient& c) {
        return "WEB from 127.0.0.1:" + std::to_string(c.localPort()) +
               " (remote) to 127.0.0.1:" + std::to_string(webPort) + " (local)";
    }

    uint16_t webPort = 0;
    int idleDescriptors = 0;
};

TEST_F(WebCallersTest, ListedLoggedAndDroppedFromActiveConnectionsLikeAnyCaller) {
    start(5, 0);
    WebClient c;
    ASSERT_TRUE(c.connect(webPort));
    EXPECT_EQ(c.status(), 101);
    ASSERT_NE(c.readUntil("Login:  "), "") << c.text;
    EXPECT_EQ(c.text.rfind("Ossivane BBS\r\nVersion ", 0), 0u) << c.text;
    const std::string who = describeLocal(c);
    ASSERT_TRUE(ovtest::waitUntil([] { return snapshotSessions().size() == 1; }));
    EXPECT_EQ(std::string(snapshotSessions()[0].description), who);

    // Typed as UTF-8, read in the code page: "é" in a name is the code page's 0x82.
    ASSERT_TRUE(c.send("caf\xc3\xa9\r"));
    ASSERT_NE(c.readUntil("caf\xc3\xa9\r\n"), "") << c.text; // the echo, back in UTF-8

    ASSERT_TRUE(ovuiMenuCommand(main, CmdActiveConnections));
    HWND dlg = waitForWindow(ConnectionsDialogId);
    ASSERT_NE(dlg, nullptr);
    char cell[256] = {};
    ovListViewGetItemText(dlg, IdcConnectionList, 0, 3, cell, sizeof cell);
    EXPECT_EQ(std::string(cell), who);
    ASSERT_TRUE(ovuiListViewSelect(dlg, IdcConnectionList, 0));
    ASSERT_TRUE(ovuiClick(dlg, IdcDisconnectCaller));
    EXPECT_NE(ovtest::answerMessageBox(IDYES), "");
    EXPECT_TRUE(c.waitForClose());
    EXPECT_TRUE(ovtest::waitUntil([] { return snapshotSessions().empty(); }));
    ASSERT_TRUE(ovuiCloseBox(dlg));
    EXPECT_TRUE(waitForWindowGone(ConnectionsDialogId));

    // Dropped by the sysop, the entry still names the address, as the CONNECT entry does.
    EXPECT_TRUE(ovtest::waitUntil([&] {
        return log().find("DISCONNECT\r\n   " + who +
                          "\r\n   Reason:  Connection closed without logoff") != std::string::npos;
    })) << log();
    EXPECT_NE(log().find("CONNECT\r\n   " + who + "\r\n"), std::string::npos) << log();
}

TEST_F(WebCallersTest, RefusedOverTheUserLimitAndDroppedWhenIdle) {
    start(1, 1500);
    WebClient first, second;
    ASSERT_TRUE(first.connect(webPort));
    ASSERT_NE(first.readUntil("Login:  "), "") << first.text;
    const std::string firstWho = describeLocal(first);
    ASSERT_TRUE(second.connect(webPort));
    char tooMany[PrefTextSize];
    getPrefText(PrefText::TooManyUsers, tooMany);
    EXPECT_NE(second.readUntil(std::string(tooMany) + "\r\n"), "") << second.text;
    ASSERT_TRUE(second.waitForClose());
    EXPECT_EQ(second.closeCode(), 1000); // a goodbye the page shows, not a broken line
    EXPECT_EQ(second.text.find("Login:"), std::string::npos);

    // The first caller says nothing and is let go at the idle time-out.
    ASSERT_TRUE(first.waitForClose(10s));
    EXPECT_TRUE(ovtest::waitUntil([&] {
        return log().find(firstWho + "\r\n   Reason:  Timed out") != std::string::npos;
    })) << log();
    EXPECT_NE(log().find("TOO MANY USERS"), std::string::npos);
}

TEST_F(WebCallersTest, HostileVisitorsGetNothingButTheirAnswer) {
    start(5, 0);
    // Another site's page may not open the terminal; the page's own origin may.
    WebClient foreign;
    EXPECT_FALSE(foreign.connect(webPort, {{"Origin", "http://evil.example"}}));
    EXPECT_EQ(foreign.status(), 403);
    WebClient same;
    ASSERT_TRUE(same.connect(webPort, {{"Origin", "http://127.0.0.1:" + std::to_string(webPort)},
                                       {"X-Forwarded-For", "203.0.113.9"}}));
    ASSERT_NE(same.readUntil("Login:  "), "");
    // Nobody vouches for the forwarded address, so the socket's peer is named.
    ASSERT_TRUE(ovtest::waitUntil([] { return snapshotSessions().size() == 1; }));
    EXPECT_EQ(std::string(snapshotSessions()[0].description), describeLocal(same));
    // A message beyond any paste (the page sends pastes in pieces) ends the call. The board
    // answers at the frame's header, so the rest of the send, and with it the client's reading
    // of the close code, may break off.
    (void)same.send(std::string(64 * 1024, 'x'));
    ASSERT_TRUE(same.waitForClose());
    EXPECT_TRUE(same.closeCode() == 1009 || same.closeCode() == 0) << same.closeCode();
    EXPECT_TRUE(ovtest::waitUntil([] { return snapshotSessions().empty(); }));

    auto statusOf = [](const std::string& reply) { return reply.substr(0, reply.find("\r\n")); };
    EXPECT_EQ(
        statusOf(request("GET /../../etc/passwd HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n")),
        "HTTP/1.1 404 Not Found");
    EXPECT_EQ(statusOf(request("POST / HTTP/1.1\r\nHost: x\r\nContent-Length: 0\r\n\r\n")),
              "HTTP/1.1 405 Method Not Allowed");
    EXPECT_EQ(statusOf(request("GET /ws HTTP/1.1\r\nHost: x\r\n\r\n")),
              "HTTP/1.1 426 Upgrade Required");
    // A header block beyond the limit is cut off without an answer.
    EXPECT_EQ(request("GET / HTTP/1.1\r\nX-Long: " + std::string(20000, 'a') + "\r\n\r\n"), "");
    const std::string page = request("GET / HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(statusOf(page), "HTTP/1.1 200 OK");
    EXPECT_NE(page.find("<title>Ossivane BBS</title>"), std::string::npos);
    const std::string licences =
        request("GET /licenses.txt HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    EXPECT_NE(licences.find("The xterm.js authors"), std::string::npos);
    EXPECT_NE(licences.find("Bitstream"), std::string::npos);
    // The big files are asked again by their tag and not sent twice.
    const std::string script =
        request("GET /xterm.js HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    const size_t tagAt = script.find("ETag: ");
    ASSERT_NE(tagAt, std::string::npos);
    const std::string tag = script.substr(tagAt + 6, script.find("\r\n", tagAt) - tagAt - 6);
    EXPECT_EQ(statusOf(request("GET /xterm.js HTTP/1.1\r\nHost: x\r\nIf-None-Match: " + tag +
                               "\r\nConnection: close\r\n\r\n")),
              "HTTP/1.1 304 Not Modified");

    // A visitor who connects and says nothing holds a waiting seat, not the listener.
    ovtest::LoopbackClient silent;
    ASSERT_TRUE(silent.connectTo(webPort));
    EXPECT_TRUE(ovtest::waitUntil([] { return waitingWebVisitors() == 1; }));
    EXPECT_EQ(statusOf(request("GET /caller.js HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n")),
              "HTTP/1.1 200 OK");
}

TEST_F(WebCallersTest, ForwardedAddressOnlyFromATrustedProxy) {
    start(5, 0, "127.0.0.0/8");
    WebClient c;
    ASSERT_TRUE(c.connect(webPort, {{"X-Forwarded-For", "198.51.100.4, 203.0.113.9"}}));
    ASSERT_NE(c.readUntil("Login:  "), "");
    ASSERT_TRUE(ovtest::waitUntil([] { return snapshotSessions().size() == 1; }));
    EXPECT_EQ(std::string(snapshotSessions()[0].description),
              "WEB from 203.0.113.9 via 127.0.0.1:" + std::to_string(c.localPort()) +
                  " (remote) to 127.0.0.1:" + std::to_string(webPort) + " (local)");
}

} // namespace
