// SerialConnection over a descriptor that no modem line owns: the comm time-outs, the wake-up
// of a blocked read by another thread, and what it says about itself.
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "server/connections/serial_connection.h"
#include "server/preferences/preferences.h"
#include "support/test_support.h"

namespace {

class SerialTest : public ovtest::WorkDirTest {
protected:
    void SetUp() override {
        (void)loadPreferences();
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
        // The provider hands the comm handle over non-blocking.
        ASSERT_EQ(fcntl(fds[0], F_SETFL, fcntl(fds[0], F_GETFL) | O_NONBLOCK), 0);
    }
    void TearDown() override {
        close(fds[0]);
        close(fds[1]);
    }
    int fds[2] = {-1, -1};
};

} // namespace

TEST_F(SerialTest, ReadsReturnWhatHasArrivedAndTimeOutWhenNothingDoes) {
    SerialConnection c(fds[0]);
    EXPECT_TRUE(c.isModem());
    EXPECT_FALSE(c.isNetwork());
    char out[256];
    c.describe(out);
    EXPECT_STREQ(out, "Unknown modem device");

    ASSERT_TRUE(c.setTimeouts(0, 100));
    ASSERT_EQ(write(fds[1], "abc\r", 4), 4);
    char line[LineBufferSize];
    ASSERT_TRUE(c.readLine(line));
    EXPECT_STREQ(line, "abc");
    EXPECT_FALSE(c.timedOut());

    char k;
    EXPECT_FALSE(c.readKey(&k)); // nothing typed within the read time-out
    EXPECT_TRUE(c.timedOut());
    // The line is still usable after a time-out.
    ASSERT_EQ(write(fds[1], "z", 1), 1);
    ASSERT_TRUE(c.readKey(&k));
    EXPECT_EQ(k, 'z');
    EXPECT_FALSE(c.timedOut());

    ASSERT_TRUE(c.writeString("hello"));
    char got[8] = {};
    ASSERT_EQ(read(fds[1], got, 5), 5);
    EXPECT_STREQ(got, "hello");
}

TEST_F(SerialTest, AWriteThatCannotFinishInTimeCountsAsATimeOut) {
    int small = 4096;
    ASSERT_EQ(setsockopt(fds[0], SOL_SOCKET, SO_SNDBUF, &small, sizeof small), 0);
    SerialConnection c(fds[0]);
    ASSERT_TRUE(c.setTimeouts(100, 100));
    std::vector<char> big(4 * 1024 * 1024, 'x'); // nobody reads the other end
    EXPECT_FALSE(c.write(big.data(), static_cast<uint32_t>(big.size())));
    EXPECT_TRUE(c.timedOut());
}

TEST_F(SerialTest, AGoneLineIsNoTimeOutAndClosedConnectionRefusesIo) {
    SerialConnection c(fds[0]);
    ASSERT_TRUE(c.setTimeouts(1000, 1000));
    shutdown(fds[1], SHUT_WR); // end of file, as a lost carrier gives
    char k;
    EXPECT_FALSE(c.readKey(&k));
    EXPECT_FALSE(c.timedOut());
    EXPECT_TRUE(c.disconnect());
    EXPECT_FALSE(c.disconnect());
    EXPECT_FALSE(c.writeString("x"));
    EXPECT_FALSE(c.timedOut());
    // The connection never closes the comm handle: it belongs to the telephony side.
    EXPECT_NE(fcntl(fds[0], F_GETFD), -1);
}

TEST_F(SerialTest, DisconnectFromAnotherThreadWakesABlockedReadWithNoTimeLimit) {
    SerialConnection c(fds[0]);
    ASSERT_TRUE(c.setTimeouts(0, 0));
    std::atomic<bool> started{false}, failed{false}, timedOut{true};
    std::thread reader([&] {
        started = true;
        char k;
        failed = !c.readKey(&k);
        timedOut = c.timedOut();
    });
    ASSERT_TRUE(ovtest::waitUntil([&] { return started.load(); }));
    EXPECT_TRUE(c.disconnect());
    reader.join();
    EXPECT_TRUE(failed);
    EXPECT_FALSE(timedOut);
    EXPECT_NE(fcntl(fds[0], F_GETFD), -1);
}
