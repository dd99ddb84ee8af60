// Reading what is there within a time-out, while watching another descriptor: what a door
// plug-in's bridge relies on.
#include "connection_fixture.h"

#include "server/preferences/preferences.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <future>

namespace {

constexpr uint32_t Long = 60000; // never reached unless the read waits for the wrong thing

class ReadAvailable : public ovtest::WorkDirTest {
protected:
    void SetUp() override {
        loadPreferences();
        ASSERT_TRUE(p.conn);
        ASSERT_EQ(TelnetOpening, p.peer.readBytes(TelnetOpening.size()));
    }
    // One readAvailable on another thread, given a generous bound to come back.
    std::string take(uint32_t cap, uint32_t waitMs, int alsoWatch, bool* ok) {
        auto result = std::async(std::launch::async, [&] {
            char buf[64] = {};
            uint32_t got = 99;
            *ok = p.conn->readAvailable(buf, cap, waitMs, alsoWatch, &got);
            return std::string(buf, got <= sizeof buf ? got : 0);
        });
        if (result.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
            ADD_FAILURE() << "readAvailable did not return";
            p.conn->disconnect(); // lets it go, so that the test ends
        }
        return result.get();
    }
    TelnetPair p;
};

} // namespace

TEST_F(ReadAvailable, GivesWhatIsThereAndReturnsForCommandsAloneAndForTheWatchedDescriptor) {
    bool ok = false;
    EXPECT_EQ(take(8, 10, -1, &ok), ""); // nothing sent: back after the short wait
    EXPECT_TRUE(ok);

    ASSERT_TRUE(p.peer.send("hello"));
    ASSERT_TRUE(p.waitForUnread(5));
    std::string got;
    while (got.size() < 5 && ok)
        got += take(2, Long, -1, &ok); // never more than asked for
    EXPECT_EQ(got, "hello");

    // A Telnet command alone is no data, and the read does not wait on for data behind it.
    ASSERT_TRUE(p.peer.send("\xff\xf1"));
    EXPECT_EQ(take(8, Long, -1, &ok), "");
    EXPECT_TRUE(ok);

    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    ASSERT_EQ(write(pipeFds[1], "x", 1), 1);
    EXPECT_EQ(take(8, Long, pipeFds[0], &ok), "");
    EXPECT_TRUE(ok);
    close(pipeFds[0]);
    close(pipeFds[1]);

    // Typed UTF-8 arrives in the code page, as every other read gives it.
    p.conn->setCharset(Connection::Charset::Utf8);
    ASSERT_TRUE(p.peer.send("\xc3\xa9"));
    EXPECT_EQ(take(8, Long, -1, &ok), "\x82");
}

TEST_F(ReadAvailable, HangUpAndDropFailWithoutTimeOut) {
    bool ok = true;
    p.peer.close();
    EXPECT_EQ(take(8, Long, -1, &ok), "");
    EXPECT_FALSE(ok);
    EXPECT_FALSE(p.conn->timedOut());

    TelnetPair q;
    ASSERT_TRUE(q.conn);
    std::atomic<bool> done{false};
    std::thread reader([&] {
        char buf[8];
        uint32_t got = 0;
        ok = q.conn->readAvailable(buf, sizeof buf, Long, -1, &got);
        done = true;
    });
    q.conn->disconnect(); // the sysop drops the caller while the read waits
    reader.join();
    EXPECT_TRUE(done);
    EXPECT_FALSE(ok);
}
