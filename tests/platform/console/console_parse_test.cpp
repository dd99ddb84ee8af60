// The console's input parsing and small helpers, without a server.
#include "platform/console/console_internal.h"

#include <gtest/gtest.h>

#include "support/test_support.h"

#include <set>
#include <sys/stat.h>
#include <unistd.h>

TEST(ConsoleInputParse, AcceptsOneEventOrAnArrayInOrder) {
    std::vector<ConsoleInput> evs;
    ASSERT_TRUE(parseConsoleInput(R"({"type":"click","window":256,"control":1030})", evs));
    ASSERT_EQ(evs.size(), 1u);
    EXPECT_EQ(evs[0].type, "click");
    EXPECT_EQ(evs[0].window, 256u);
    EXPECT_EQ(evs[0].control, 1030);

    ASSERT_TRUE(parseConsoleInput(
        R"([{"type":"typeText","window":5,"control":1022,"text":"Main"},
            {"type":"treeExpand","window":5,"control":1020,"index":65536,"flag":true},
            {"type":"key","window":5,"text":"enter"},{"type":"pageOpened"}])",
        evs));
    ASSERT_EQ(evs.size(), 4u);
    EXPECT_EQ(evs[0].text, "Main");
    EXPECT_EQ(evs[1].index, 65536);
    EXPECT_TRUE(evs[1].flag);
    EXPECT_EQ(evs[2].text, "enter");
    EXPECT_EQ(evs[3].type, "pageOpened");
}

TEST(ConsoleInputParse, RefusesMalformedBodies) {
    std::vector<ConsoleInput> evs;
    const char* bad[] = {
        "",
        "{",
        "null",
        "42",
        "[]",
        R"({"type":"explode","window":1})",
        R"({"window":1,"control":2})",
        R"({"type":"click","window":1})",                      // no control
        R"({"type":"click","window":-1,"control":2})",         // negative handle
        R"({"type":"click","window":"1","control":2})",        // string handle
        R"({"type":"click","window":1,"control":4294967296})", // beyond an int
        R"({"type":"typeText","window":1,"control":2,"text":7})",
        R"({"type":"treeExpand","window":1,"control":2,"index":3,"flag":"yes"})",
        R"([{"type":"pageOpened"},{"type":"nope"}])",
    };
    for (const char* body : bad) {
        EXPECT_FALSE(parseConsoleInput(body, evs)) << body;
        EXPECT_TRUE(evs.empty()) << body;
    }
    std::string many = "[";
    for (size_t i = 0; i <= kMaxEventsPerRequest; ++i)
        many += std::string(i ? "," : "") + R"({"type":"pageOpened"})";
    many += "]";
    EXPECT_FALSE(parseConsoleInput(many, evs));
}

TEST(ConsoleHelpers, HostPortAndLoopback) {
    std::string host;
    int port = -1;
    ASSERT_TRUE(parseHostPort("127.0.0.1:8023", host, port));
    EXPECT_EQ(host, "127.0.0.1");
    EXPECT_EQ(port, 8023);
    ASSERT_TRUE(parseHostPort("[::1]:0", host, port));
    EXPECT_EQ(host, "::1");
    EXPECT_EQ(port, 0);
    for (const char* bad : {"", "8023", ":8023", "host:", "host:65536", "host:80a", "h:123456"})
        EXPECT_FALSE(parseHostPort(bad, host, port)) << bad;
    EXPECT_TRUE(isLoopbackHost("127.0.0.1"));
    EXPECT_TRUE(isLoopbackHost("127.1.2.3"));
    EXPECT_TRUE(isLoopbackHost("localhost"));
    EXPECT_TRUE(isLoopbackHost("::1"));
    EXPECT_FALSE(isLoopbackHost("0.0.0.0"));
    EXPECT_FALSE(isLoopbackHost("192.168.1.2"));
    EXPECT_TRUE(isLoopbackHost("::ffff:127.0.0.1"));
    // Names are not judged by their look: this one may resolve anywhere.
    EXPECT_FALSE(isLoopbackHost("127.0.0.1.example.net"));
    EXPECT_FALSE(isLoopbackHost("::"));
}

TEST(ConsoleHelpers, TokensAreFreshHexAndCompareExactly) {
    std::set<std::string> seen;
    for (int i = 0; i < 20; ++i) {
        std::string t = makeAccessToken();
        ASSERT_EQ(t.size(), 32u);
        EXPECT_EQ(t.find_first_not_of("0123456789abcdef"), std::string::npos);
        seen.insert(t);
    }
    EXPECT_EQ(seen.size(), 20u);
    EXPECT_TRUE(tokenEquals("abc", "abc"));
    EXPECT_FALSE(tokenEquals("abc", "abd"));
    EXPECT_FALSE(tokenEquals("abc", "abcd"));
    EXPECT_FALSE(tokenEquals("", ""));
}

// Kept across starts in a private file; a damaged or unreadable one is replaced, never fatal.
TEST(ConsoleHelpers, TokenFileIsKeptPrivateAndReplacedWhenDamaged) {
    ovtest::TempWorkDir dir;
    const std::string first = loadOrMakeTokenFile("console.token");
    ASSERT_EQ(first.size(), 32u);
    struct stat st {};
    ASSERT_EQ(stat("console.token", &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(loadOrMakeTokenFile("console.token"), first);

    ovtest::writeFile("console.token", "not a token\n");
    const std::string second = loadOrMakeTokenFile("console.token");
    EXPECT_EQ(second.size(), 32u);
    EXPECT_NE(second, first);
    EXPECT_EQ(loadOrMakeTokenFile("console.token"), second);

    ASSERT_EQ(unlink("console.token"), 0);
    ASSERT_EQ(mkdir("console.token", 0700), 0); // cannot be read nor replaced
    const std::string third = loadOrMakeTokenFile("console.token");
    EXPECT_EQ(third.size(), 32u);
    EXPECT_NE(third, second);
}

TEST(ConsoleAssets, OnlyTheEmbeddedFilesAreFound) {
    const ConsoleAsset* index = findConsoleAsset("/");
    ASSERT_NE(index, nullptr);
    EXPECT_STREQ(index->path, "/index.html");
    EXPECT_NE(
        std::string(reinterpret_cast<const char*>(index->data), index->size).find("console.js"),
        std::string::npos);
    EXPECT_NE(findConsoleAsset("/console.js"), nullptr);
    EXPECT_NE(findConsoleAsset("/controls.js"), nullptr); // one of the modules it imports
    EXPECT_NE(findConsoleAsset("/console.css"), nullptr);
    for (const char* p : {"", "index.html", "/web/console.js", "/../console.js", "/console.js/",
                          "/CONSOLE.JS", "/etc/passwd", "/console.js%00"})
        EXPECT_EQ(findConsoleAsset(p), nullptr) << p;
}
