// A web caller's connection on its own, over a real WebSocket on 127.0.0.1.
#include "support/test_support.h"
#include "support/web_client.h"

#include <poll.h>
#include <unistd.h>

#include <future>
#include <thread>

#include "server/connections/web_connection.h"

namespace {

using namespace std::chrono_literals;

// The board's side of one caller: accepted and upgraded to a WebSocket; the socket, or -1.
int acceptUpgraded(int listener, WebLink& link) {
    int fd = accept(listener, nullptr, nullptr);
    if (fd < 0) return -1;
    beast::error_code ec;
    link.ws.next_layer().socket().assign(tcp::v4(), fd, ec);
    bool done = false;
    link.ws.async_accept([&](beast::error_code e) {
        ec = e;
        done = true;
    });
    return link.runUntil([&] { return done; }, nullptr) && !ec ? fd : -1;
}

// The page speaks only UTF-8: a connection set back to the code page (an account that chose
// DOS characters) still sends box lines as UTF-8 and reads what is typed into the code page.
TEST(WebConnection, SpeaksUtf8EvenWhenSetToTheCodePage) {
    uint16_t port = 0;
    int listener = ovtest::listenOnFreePort(port);
    ASSERT_GE(listener, 0);
    std::string typed;
    std::thread board([&] {
        WebLink link;
        int fd = acceptUpgraded(listener, link);
        if (fd < 0) return;
        WebConnection c(link, WebPeer{});
        c.setCharset(Connection::Charset::Cp437);
        (void)c.setTimeouts(10000, 10000);
        if (!c.writeString("\xB3\xC4 ok\r\n")) return;
        char line[LineBufferSize];
        if (c.readLine(line)) typed = line;
    });
    ovtest::WebClient caller;
    ASSERT_TRUE(caller.connect(port));
    EXPECT_NE(caller.readUntil("\u2502\u2500 ok\r\n"), "") << caller.text;
    ASSERT_TRUE(caller.send("caf\xc3\xa9 \xe2\x82\xac\r"));
    EXPECT_TRUE(caller.waitForClose()); // the connection's goodbye
    EXPECT_EQ(caller.closeCode(), 1000);
    board.join();
    close(listener);
    EXPECT_EQ(typed, "caf\x82 ?"); // the euro sign is not in the code page
}

// A door's look for keys: two messages in one packet are both handed out without waiting for
// the socket again, and a ping alone is no key, so the look ends with its own wait.
TEST(WebConnection, ReadAvailableTakesWhatTheLinkHoldsAndIsNotHeldByAPing) {
    uint16_t port = 0;
    int listener = ovtest::listenOnFreePort(port);
    ASSERT_GE(listener, 0);
    std::promise<std::string> keys;
    std::promise<bool> pingLookEnded;
    std::thread board([&] {
        WebLink link;
        int fd = acceptUpgraded(listener, link);
        if (fd < 0) return;
        WebConnection c(link, WebPeer{});
        (void)c.setTimeouts(60000, 60000); // far beyond the test's bounds
        std::string got;
        char buf[8];
        uint32_t n = 0;
        while (got.size() < 2 && c.readAvailable(buf, sizeof buf, 60000, -1, &n))
            got.append(buf, n);
        keys.set_value(got);
        pollfd ping{fd, POLLIN, 0}; // the look starts once the ping is there
        (void)::poll(&ping, 1, 20000);
        pingLookEnded.set_value(c.readAvailable(buf, sizeof buf, 100, -1, &n) && n == 0);
    });
    ovtest::LoopbackClient raw;
    ASSERT_TRUE(raw.connectTo(port));
    ASSERT_TRUE(raw.send("GET / HTTP/1.1\r\nHost: x\r\nUpgrade: websocket\r\n"
                         "Connection: Upgrade\r\nSec-WebSocket-Version: 13\r\n"
                         "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n\r\n"));
    EXPECT_NE(raw.readUntil("\r\n\r\n").find("101"), std::string::npos);
    // Binary frames of one byte each, masked with zeros, in one send; then a ping.
    const std::string a("\x82\x81\0\0\0\0a", 7), b("\x82\x81\0\0\0\0b", 7);
    ASSERT_TRUE(raw.send(a + b));
    auto gotKeys = keys.get_future();
    ASSERT_EQ(gotKeys.wait_for(20s), std::future_status::ready);
    EXPECT_EQ(gotKeys.get(), "ab");
    ASSERT_TRUE(raw.send(std::string("\x89\x80\0\0\0\0", 6)));
    auto ended = pingLookEnded.get_future();
    ASSERT_EQ(ended.wait_for(20s), std::future_status::ready);
    EXPECT_TRUE(ended.get());
    raw.close();
    board.join();
    close(listener);
}

} // namespace
