// The caller page's rules from outside: addresses, trusted proxies, origins, paths.
#include <gtest/gtest.h>

#include "server/connections/web_rules.h"

namespace {

std::string dotted(const uint8_t a[4]) {
    return std::to_string(a[0]) + "." + std::to_string(a[1]) + "." + std::to_string(a[2]) + "." +
           std::to_string(a[3]);
}

TEST(WebRules, ListeningAddress) {
    WebAddress a;
    ASSERT_TRUE(parseWebAddress("8080", a));
    EXPECT_EQ(dotted(a.host), "0.0.0.0");
    EXPECT_EQ(a.port, 8080);
    ASSERT_TRUE(parseWebAddress("127.0.0.1:0", a));
    EXPECT_EQ(dotted(a.host), "127.0.0.1");
    EXPECT_EQ(a.port, 0);
    ASSERT_TRUE(parseWebAddress("localhost:80", a));
    EXPECT_EQ(dotted(a.host), "127.0.0.1");
    for (const char* bad : {"", "http", "65536", "1.2.3:80", "1.2.3.256:80", "::1:80", "80x",
                            "1.2.3.4:", "example.org:80", "1.2.3.4.5:80"})
        EXPECT_FALSE(parseWebAddress(bad, a)) << bad;
}

TEST(WebRules, ForwardedAddressWalksFromTheRightPastOurOwnProxies) {
    std::string rejected;
    auto proxies = parseTrustedProxies("127.0.0.1, 10.0.0.0/8 bogus 192.168.1.300 ,", &rejected);
    EXPECT_EQ(rejected, "bogus 192.168.1.300");
    ASSERT_EQ(proxies.size(), 2u);
    const uint8_t proxy[4] = {10, 1, 2, 3}, stranger[4] = {11, 0, 0, 1};
    EXPECT_TRUE(isTrusted(proxies, proxy));
    EXPECT_FALSE(isTrusted(proxies, stranger));

    uint8_t out[4];
    ASSERT_TRUE(forwardedClient("203.0.113.9", proxies, out));
    EXPECT_EQ(dotted(out), "203.0.113.9");
    // A caller may send any X-Forwarded-For of their own: only what our proxies added counts.
    ASSERT_TRUE(forwardedClient("1.1.1.1, 203.0.113.9, 10.0.0.5", proxies, out));
    EXPECT_EQ(dotted(out), "203.0.113.9");
    ASSERT_TRUE(forwardedClient("10.0.0.7, 10.0.0.5", proxies, out));
    EXPECT_EQ(dotted(out), "10.0.0.7"); // only proxies: the leftmost is all we know
    EXPECT_FALSE(forwardedClient("", proxies, out));
    EXPECT_FALSE(forwardedClient("203.0.113.9, unknown", proxies, out));
    EXPECT_FALSE(forwardedClient("2001:db8::1", proxies, out));
}

TEST(WebRules, OnlyThePagesOwnOriginUnlessNamed) {
    const std::vector<std::string> none;
    EXPECT_TRUE(originAllowed("", "bbs.example.org", none)); // a program, not a page
    EXPECT_TRUE(originAllowed("http://127.0.0.1:8080", "127.0.0.1:8080", none));
    EXPECT_TRUE(originAllowed("https://BBS.example.org", "bbs.example.org", none));
    EXPECT_TRUE(originAllowed("https://bbs.example.org:443", "bbs.example.org", none));
    EXPECT_TRUE(originAllowed("http://bbs.example.org", "bbs.example.org:80", none));
    EXPECT_FALSE(originAllowed("http://127.0.0.1:8081", "127.0.0.1:8080", none));
    EXPECT_FALSE(originAllowed("https://evil.example", "bbs.example.org", none));
    EXPECT_FALSE(originAllowed("null", "bbs.example.org", none));
    EXPECT_FALSE(originAllowed("file://bbs.example.org", "bbs.example.org", none));
    EXPECT_FALSE(originAllowed("http://a@bbs.example.org", "bbs.example.org", none));
    EXPECT_FALSE(originAllowed("http://bbs.example.org", "", none));

    const auto allowed = parseAllowedOrigins("https://friends.example/, http://x.example:81");
    ASSERT_EQ(allowed,
              (std::vector<std::string>{"https://friends.example", "http://x.example:81"}));
    EXPECT_TRUE(originAllowed("https://friends.example", "bbs.example.org", allowed));
    EXPECT_FALSE(originAllowed("https://friends.example.evil", "bbs.example.org", allowed));
    EXPECT_TRUE(originAllowed("https://any.example", "bbs.example.org", {"*"}));
}

TEST(WebRules, RoutesAndThePageTitle) {
    std::string asset;
    EXPECT_EQ(routeWebRequest("GET", "/ws", asset), WebRoute::Terminal);
    EXPECT_EQ(routeWebRequest("GET", "/ws?x=1", asset), WebRoute::Terminal);
    EXPECT_EQ(routeWebRequest("GET", "/index.html", asset), WebRoute::Asset);
    EXPECT_EQ(asset, "/");
    EXPECT_EQ(routeWebRequest("HEAD", "/caller.js?v=2", asset), WebRoute::Asset);
    EXPECT_EQ(asset, "/caller.js");
    EXPECT_EQ(routeWebRequest("POST", "/", asset), WebRoute::NotAllowed);
    for (const char* bad : {"/../etc/passwd", "/a/b.js", "//x", "x", "/%2e%2e", "/..", "/a b"})
        EXPECT_EQ(routeWebRequest("GET", bad, asset), WebRoute::NotFound) << bad;

    EXPECT_EQ(fillPageTemplate("<title>@BOARD_NAME@</title><h1>@BOARD_NAME@</h1>", "A<&>\"'"),
              "<title>A&lt;&amp;&gt;&quot;&#39;</title><h1>A&lt;&amp;&gt;&quot;&#39;</h1>");
}

} // namespace
