// The console over the real UI runtime: input from HTTP reaches the demo windows' procedures.
#include "demo_windows.h"
#include "platform/console/console.h"
#include "platform/console/console_driver.h"
#include "support/test_support.h"

#include "ovui_driver.h"

#include <httplib.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <mutex>
#include <thread>

namespace {

class ConsoleRuntimeTest : public ovtest::WorkDirTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(ovInitialize() || ovIsUiThread());
        DemoOptions options;
        options.workDir = workDir.path();
        options.reporter = [this](const std::string& line) {
            std::lock_guard<std::mutex> hold(lock);
            events.push_back(line);
        };
        main = createDemoMainWindow(options);
        ASSERT_NE(main, nullptr);
        ovuiPumpUntilIdle();
        testing::internal::CaptureStdout();
        ASSERT_TRUE(startConsoleWith(ovuiConsoleDriver(), "127.0.0.1:0"));
        port = consolePort();
        const std::string address = consoleAddress();
        token = address.substr(address.find("token=") + 6);
    }
    void TearDown() override {
        stopConsole();
        printed = testing::internal::GetCapturedStdout();
        if (HasFailure()) // the assertions' own messages went into the capture
            std::fputs(printed.c_str(), stderr);
        ovuiResetForTests();
    }
    int post(const std::string& body) {
        httplib::Client c("127.0.0.1", port);
        c.set_read_timeout(10, 0);
        auto res = c.Post("/input?token=" + token, body, "application/json");
        return res ? res->status : -1;
    }
    std::string window() const { return std::to_string(reinterpret_cast<uintptr_t>(main)); }
    bool sawEvent(const std::string& line) {
        std::lock_guard<std::mutex> hold(lock);
        for (const auto& e : events)
            if (e == "EVENT " + line) return true;
        return false;
    }
    bool pumpUntilEvent(const std::string& line) {
        return ovuiPumpUntil([&] { return sawEvent(line); }, 10000);
    }

    HWND main = nullptr;
    int port = 0;
    std::string token;
    std::string printed;
    std::mutex lock;
    std::vector<std::string> events;
};

TEST_F(ConsoleRuntimeTest, AClickBecomesWmCommandInTheProcedure) {
    ASSERT_EQ(post(R"({"type":"click","window":)" + window() + R"(,"control":1030})"), 200);
    EXPECT_TRUE(pumpUntilEvent("command id=1030 code=0"));
    ASSERT_EQ(post(R"({"type":"menuCommand","window":)" + window() + R"(,"control":40008})"), 200);
    EXPECT_TRUE(pumpUntilEvent("command id=40008 code=0"));
    EXPECT_EQ(ovGetMenuState(ovGetMenu(main), 40008, MF_BYCOMMAND) & MF_CHECKED, 0u);
}

TEST_F(ConsoleRuntimeTest, TypedTextArrivesBeforeTheClickThatFollows) {
    const std::string w = window();
    ASSERT_EQ(post(R"([{"type":"typeText","window":)" + w +
                   R"(,"control":1022,"text":"Lobby"},{"type":"typeText","window":)" + w +
                   R"(,"control":1024,"text":"1a2"},{"type":"click","window":)" + w +
                   R"(,"control":1038}])"),
              200);
    // The digits-only field keeps the digits.
    EXPECT_TRUE(pumpUntilEvent("save area title=Lobby min=12 max="));
}

TEST_F(ConsoleRuntimeTest, DisabledControlsAndUnknownIdsAreIgnored) {
    const uint64_t ignored = ovuiIgnoredInputCount();
    ASSERT_EQ(post(R"([{"type":"click","window":)" + window() +
                   R"(,"control":1031},{"type":"click","window":)" + window() +
                   R"(,"control":4242},{"type":"click","window":12345,"control":1030}])"),
              200);
    EXPECT_TRUE(ovuiPumpUntil([&] { return ovuiIgnoredInputCount() >= ignored + 3; }, 10000));
    EXPECT_FALSE(sawEvent("command id=1031 code=0"));
    EXPECT_FALSE(sawEvent("command id=4242 code=0"));
}

TEST_F(ConsoleRuntimeTest, EventsStreamANewVersionAfterAChange) {
    std::mutex streamLock;
    std::string stream;
    std::atomic<bool> done{false};
    std::thread reader([&] {
        httplib::Client c("127.0.0.1", port);
        c.set_read_timeout(10, 0);
        c.Get("/events?token=" + token, [&](const char* data, size_t n) {
            std::lock_guard<std::mutex> hold(streamLock);
            stream.append(data, n);
            return !done.load();
        });
    });
    auto seen = [&](const std::string& needle) {
        std::lock_guard<std::mutex> hold(streamLock);
        return stream.find(needle) != std::string::npos;
    };
    EXPECT_TRUE(ovtest::waitUntil([&] { return seen("\"title\":\"Ossivane BBS\""); }));
    const uint64_t before = ovuiStateVersion();
    ASSERT_TRUE(ovSetDlgItemText(main, 1023, "cafe0001"));
    EXPECT_GT(ovuiStateVersion(), before);
    EXPECT_TRUE(ovtest::waitUntil([&] { return seen("cafe0001"); }));
    done = true;
    ovSetDlgItemText(main, 1023, ""); // wakes the stream so the reader can leave
    reader.join();
}

TEST_F(ConsoleRuntimeTest, AMessageBoxIsPrintedAndAnsweredFromThePage) {
    const std::string w = window();
    ASSERT_EQ(post(R"({"type":"select","window":)" + w + R"(,"control":1021,"index":0})"), 200);
    EXPECT_TRUE(ovuiPumpUntil([&] { return ovIsDlgItemEnabled(main, 1045); }, 10000));
    // The procedure's message box runs a nested loop here; the answer comes over HTTP.
    std::thread answer([&] {
        HWND box = nullptr;
        ovtest::waitUntil(
            [&] { return (box = ovuiFindWindowByTemplate(OVUI_TEMPLATE_MESSAGEBOX)); });
        post(R"({"type":"messageBoxAnswer","window":)" +
             std::to_string(reinterpret_cast<uintptr_t>(box)) + R"(,"control":6})");
    });
    ASSERT_EQ(post(R"({"type":"click","window":)" + w + R"(,"control":1045})"), 200);
    EXPECT_TRUE(pumpUntilEvent("delete answered 6"));
    answer.join();
    stopConsole();
    const std::string out = testing::internal::GetCapturedStdout();
    testing::internal::CaptureStdout();
    EXPECT_NE(out.find("Message box \"Ossivane BBS\": Delete this user?"), std::string::npos)
        << out;
}

} // namespace
