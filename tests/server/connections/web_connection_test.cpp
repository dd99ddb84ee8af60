// A web caller's connection on its own, over a real WebSocket on 127.0.0.1.
#include "support/test_support.h"
#include "support/web_client.h"

#include <unistd.h>

#include <thread>

#include "server/connections/web_connection.h"

namespace {

using namespace std::chrono_literals;

// The page speaks only UTF-8: a connection set back to the code page (an account that chose
// DOS characters) still sends box lines as UTF-8 and reads what is typed into the code page.
TEST(WebConnection, SpeaksUtf8EvenWhenSetToTheCodePage) {
    uint16_t port = 0;
    int listener = ovtest::listenOnFreePort(port);
    ASSERT_GE(listener, 0);
    std::string typed;
    std::thread board([&] {
        int fd = accept(listener, nullptr, nullptr);
        if (fd < 0) return;
        WebLink link;
        beast::error_code ec;
        link.ws.next_layer().socket().assign(tcp::v4(), fd, ec);
        bool done = false;
        link.ws.async_accept([&](beast::error_code e) {
            ec = e;
            done = true;
        });
        if (!link.runUntil([&] { return done; }, nullptr) || ec) return;
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

} // namespace
