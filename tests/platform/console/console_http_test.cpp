// The console's HTTP face over a stand-in runtime: access token, assets only, input, events.
#include "fake_runtime.h"
#include "platform/console/console.h"
#include "platform/console/console_internal.h"
#include "support/test_support.h"

#include <httplib.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <thread>

namespace {

class ConsoleHttpTest : public ::testing::Test {
protected:
    void SetUp() override {
        testing::internal::CaptureStdout();
        ASSERT_TRUE(startConsoleWith(runtime.driver(), "127.0.0.1:0"));
        port = consolePort();
        ASSERT_GT(port, 0);
        const std::string address = consoleAddress();
        auto at = address.find("token=");
        ASSERT_NE(at, std::string::npos);
        token = address.substr(at + 6);
    }
    void TearDown() override {
        stopConsole();
        printed = testing::internal::GetCapturedStdout();
    }
    httplib::Client client() {
        httplib::Client c("127.0.0.1", port);
        c.set_read_timeout(10, 0);
        return c;
    }
    std::string withToken(const std::string& path) {
        return path + (path.find('?') == std::string::npos ? "?" : "&") + "token=" + token;
    }
    // Sends a request line exactly as written, so that no client tidies the path.
    int rawStatus(const std::string& target, std::string* body = nullptr) {
        ovtest::LoopbackClient c;
        if (!c.connectTo(static_cast<uint16_t>(port))) return -1;
        c.send("GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
        std::string reply = c.readToClose();
        if (body) *body = reply;
        if (reply.size() < 12) return -1;
        return std::atoi(reply.substr(9, 3).c_str());
    }

    FakeRuntime runtime;
    int port = 0;
    std::string token;
    std::string printed;
};

TEST_F(ConsoleHttpTest, EveryRequestNeedsTheToken) {
    auto c = client();
    for (const char* path : {"/", "/index.html", "/console.js", "/state", "/nothing"}) {
        auto res = c.Get(path);
        ASSERT_TRUE(res) << path;
        EXPECT_EQ(res->status, 403) << path;
        res = c.Get(std::string(path) + "?token=0123456789abcdef0123456789abcdef");
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, 403) << path;
    }
    auto post = c.Post("/input", R"({"type":"pageOpened"})", "application/json");
    ASSERT_TRUE(post);
    EXPECT_EQ(post->status, 403);
    EXPECT_TRUE(runtime.inputs().empty());

    auto page = c.Get(withToken("/"));
    ASSERT_TRUE(page);
    EXPECT_EQ(page->status, 200);
    EXPECT_NE(page->body.find("<script type=\"module\" src=\"console.js\""), std::string::npos);
    EXPECT_EQ(page->get_header_value("Content-Type"), "text/html; charset=utf-8");
    const std::string cookie = page->get_header_value("Set-Cookie");
    EXPECT_NE(cookie.find("=" + token), std::string::npos);
    EXPECT_NE(cookie.find("HttpOnly"), std::string::npos);

    // The cookie the page got stands in for the token from then on.
    httplib::Headers headers = {{"Cookie", cookie.substr(0, cookie.find(';'))}};
    auto script = c.Get("/console.js", headers);
    ASSERT_TRUE(script);
    EXPECT_EQ(script->status, 200);
    EXPECT_EQ(script->get_header_value("Content-Type"), "text/javascript; charset=utf-8");
    headers = {{"Cookie", "ovconsole_" + std::to_string(port) + "=wrong"}};
    auto denied = c.Get("/console.js", headers);
    ASSERT_TRUE(denied);
    EXPECT_EQ(denied->status, 403);
}

TEST_F(ConsoleHttpTest, ServesNothingButItsOwnAssets) {
    std::string body;
    const std::string t = "token=" + token;
    for (std::string target :
         {"/../../../../etc/passwd?", "/%2e%2e/%2e%2e/%2e%2e/etc/passwd?",
          "/..%2f..%2fetc%2fpasswd?", "//etc/passwd?", "/etc/passwd?", "/web/console.js?",
          "/console.js/../../../etc/passwd?", "/%2fetc%2fpasswd?", "/CMakeLists.txt?",
          "/console.cpp?", "/.?", "/..?"}) {
        target += t;
        int status = rawStatus(target, &body);
        EXPECT_TRUE(status == 404 || status == 400) << target << " gave " << status;
        EXPECT_EQ(body.find("root:"), std::string::npos) << target;
    }
    EXPECT_EQ(rawStatus("/console.css?" + t), 200);
    EXPECT_EQ(rawStatus("http://evil.example/etc/passwd"), 403);
}

TEST_F(ConsoleHttpTest, InputIsCheckedAndPassedOnInOrder) {
    auto c = client();
    for (const char* body : {"", "{", "not json", R"({"type":"click"})", R"([])",
                             R"({"type":"click","window":1,"control":"x"})"}) {
        auto res = c.Post(withToken("/input"), body, "application/json");
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, 400) << body;
    }
    std::string huge = R"({"type":"typeText","window":1,"control":2,"text":")" +
                       std::string(1024 * 1024, 'x') + "\"}";
    auto big = c.Post(withToken("/input"), huge, "application/json");
    ASSERT_TRUE(big);
    EXPECT_EQ(big->status, 413);
    EXPECT_TRUE(runtime.inputs().empty());

    auto res = c.Post(withToken("/input"),
                      R"([{"type":"typeText","window":7,"control":1022,"text":"Lobby"},
                          {"type":"click","window":7,"control":1038}])",
                      "application/json");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
    EXPECT_NE(res->body.find("\"accepted\":[true,true]"), std::string::npos) << res->body;
    auto got = runtime.inputs();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].type, "typeText");
    EXPECT_EQ(got[0].text, "Lobby");
    EXPECT_EQ(got[1].type, "click");
    EXPECT_EQ(got[1].control, 1038);

    runtime.refuseInput = true;
    res = c.Post(withToken("/input"), R"({"type":"click","window":99,"control":1})",
                 "application/json");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
    EXPECT_NE(res->body.find("\"accepted\":[false]"), std::string::npos);
}

TEST_F(ConsoleHttpTest, StateAndEventsFollowTheRuntime) {
    runtime.setSnapshot(R"({"windows":[{"id":1,"title":"First"}]})");
    auto c = client();
    auto state = c.Get(withToken("/state"));
    ASSERT_TRUE(state);
    EXPECT_EQ(state->status, 200);
    EXPECT_NE(state->body.find("\"version\":" + std::to_string(runtime.version())),
              std::string::npos);
    EXPECT_NE(state->body.find("First"), std::string::npos);

    std::mutex lock;
    std::string stream;
    std::atomic<bool> done{false};
    std::thread reader([&] {
        httplib::Client sse("127.0.0.1", port);
        sse.set_read_timeout(10, 0);
        sse.Get(withToken("/events"), [&](const char* data, size_t n) {
            std::lock_guard<std::mutex> hold(lock);
            stream.append(data, n);
            return !done.load();
        });
    });
    auto seen = [&](const std::string& needle) {
        std::lock_guard<std::mutex> hold(lock);
        return stream.find(needle) != std::string::npos;
    };
    EXPECT_TRUE(ovtest::waitUntil([&] { return seen("First"); }));
    runtime.setSnapshot(R"({"windows":[{"id":1,"title":"Second"}]})");
    const std::string id = "id: " + std::to_string(runtime.version()) + "\n";
    EXPECT_TRUE(ovtest::waitUntil([&] { return seen("Second") && seen(id); }));
    {
        std::lock_guard<std::mutex> hold(lock);
        EXPECT_NE(stream.find("data: {\"version\":"), std::string::npos);
    }
    done = true;
    runtime.setSnapshot(R"({"windows":[]})"); // wakes the stream so the reader can leave
    reader.join();
}

TEST_F(ConsoleHttpTest, AnnouncementsGoToStandardOutput) {
    runtime.announce("Message box \"Note\": Changes will take effect");
    stopConsole();
    const std::string out = testing::internal::GetCapturedStdout();
    testing::internal::CaptureStdout(); // for TearDown
    EXPECT_NE(out.find("Console: http://127.0.0.1:" + std::to_string(port) + "/?token=" + token),
              std::string::npos);
    EXPECT_NE(out.find("Message box \"Note\": Changes will take effect\n"), std::string::npos);
}

TEST(ConsoleStart, RefusesBadAddressesAndBusyPorts) {
    FakeRuntime runtime;
    EXPECT_FALSE(startConsoleWith(runtime.driver(), "no-port"));
    uint16_t busy = 0;
    int fd = ovtest::listenOnFreePort(busy);
    ASSERT_GE(fd, 0);
    EXPECT_FALSE(startConsoleWith(runtime.driver(), "127.0.0.1:" + std::to_string(busy)));
    EXPECT_EQ(consoleAddress(), "");
    ::close(fd);

    ASSERT_TRUE(startConsoleWith(runtime.driver(), "127.0.0.1:0"));
    EXPECT_FALSE(startConsoleWith(runtime.driver(), "127.0.0.1:0")); // one console at a time
    const std::string first = consoleAddress();
    stopConsole();
    EXPECT_EQ(consoleAddress(), "");
    ASSERT_TRUE(startConsoleWith(runtime.driver(), "127.0.0.1:0"));
    EXPECT_NE(consoleAddress().substr(consoleAddress().find("token=")),
              first.substr(first.find("token="))); // a fresh token at each start
    stopConsole();
}

TEST(ConsoleStart, ReadsItsAddressFromTheEnvironment) {
    ::setenv("OVHOST_CONSOLE", "127.0.0.1:0", 1);
    testing::internal::CaptureStdout();
    bool started = startConsole();
    int port = consolePort();
    stopConsole();
    std::string out = testing::internal::GetCapturedStdout();
    ::unsetenv("OVHOST_CONSOLE");
    ASSERT_TRUE(started);
    EXPECT_GT(port, 0);
    EXPECT_NE(out.find("Console: http://127.0.0.1:" + std::to_string(port) + "/?token="),
              std::string::npos);

    ::setenv("OVHOST_CONSOLE", "garbage", 1);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(startConsole());
    std::string err = testing::internal::GetCapturedStderr();
    ::unsetenv("OVHOST_CONSOLE");
    EXPECT_NE(err.find("Console:"), std::string::npos);
}

} // namespace
