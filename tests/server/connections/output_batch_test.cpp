// Held output: writes gathered by holdOutput leave together, unchanged and in order.
#include "connection_fixture.h"

#include <gtest/gtest.h>

#include <sys/ioctl.h>

#include <string>

namespace {

// Bytes that reached the peer's socket and wait unread there. Loopback delivers within send.
int waitingAtPeer(const ovtest::LoopbackClient& peer) {
    int n = 0;
    return ioctl(peer.fd(), FIONREAD, &n) == 0 ? n : -1;
}

std::string pattern(size_t n, char first) {
    std::string s(n, ' ');
    for (size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>(first + i % 23);
    return s;
}

} // namespace

TEST(HeldOutput, SmallWritesStayUntilReleasedThenArriveWhole) {
    TcpPair p;
    ASSERT_TRUE(p.conn);
    p.conn->holdOutput();
    ASSERT_TRUE(p.conn->write("ab", 2));
    ASSERT_TRUE(p.conn->writeString("cd"));
    ASSERT_TRUE(p.conn->writeChar('e'));
    ASSERT_TRUE(p.conn->write("", 0));
    EXPECT_EQ(0, waitingAtPeer(p.peer));
    ASSERT_TRUE(p.conn->releaseOutput());
    EXPECT_EQ("abcde", p.peer.readBytes(5));
    // Released means released: the next write goes straight out.
    ASSERT_TRUE(p.conn->writeString("f"));
    EXPECT_EQ("f", p.peer.readBytes(1));
    // Nothing held: releasing sends nothing and succeeds.
    EXPECT_TRUE(p.conn->releaseOutput());
    ASSERT_TRUE(p.conn->writeChar('#'));
    EXPECT_EQ("#", p.peer.readBytes(1));
}

TEST(HeldOutput, MoreThanTheBufferGoesOutInOrder) {
    TcpPair p;
    ASSERT_TRUE(p.conn);
    const std::string a = pattern(3000, 'a'), b = pattern(2000, 'B'), c = pattern(9000, '0');
    p.conn->holdOutput();
    ASSERT_TRUE(p.conn->write(a.data(), uint32_t(a.size())));
    ASSERT_TRUE(p.conn->write(b.data(), uint32_t(b.size()))); // pushes a out, keeps b
    ASSERT_TRUE(p.conn->write(c.data(), uint32_t(c.size()))); // pushes b out, c goes direct
    ASSERT_TRUE(p.conn->writeString("end"));
    ASSERT_TRUE(p.conn->releaseOutput());
    EXPECT_EQ(a + b + c + "end", p.peer.readBytes(a.size() + b.size() + c.size() + 3));
}

TEST(HeldOutput, WaitingForTheCallerReleasesWhatIsHeld) {
    TcpPair p;
    ASSERT_TRUE(p.conn);
    p.conn->holdOutput();
    ASSERT_TRUE(p.conn->writeString("[12Q]  "));
    ASSERT_TRUE(p.peer.send("2"));
    char key = 0;
    ASSERT_TRUE(p.conn->readKey(&key));
    EXPECT_EQ('2', key);
    EXPECT_EQ("[12Q]  ", p.peer.readBytes(7));
}

TEST(HeldOutput, TelnetEscapingAppliesToHeldBytes) {
    TelnetPair p;
    ASSERT_TRUE(p.conn);
    EXPECT_EQ(TelnetOpening, p.peer.readBytes(TelnetOpening.size()));
    p.conn->holdOutput();
    ASSERT_TRUE(p.conn->write("x\xffy", 3));
    ASSERT_TRUE(p.conn->releaseOutput());
    EXPECT_EQ(std::string("x\xff\xffy", 4), p.peer.readBytes(4));
}

TEST(HeldOutput, ReleasingOnAClosedLineFailsAndALaterReadFailsToo) {
    TcpPair p;
    ASSERT_TRUE(p.conn);
    p.conn->holdOutput();
    ASSERT_TRUE(p.conn->writeString("lost"));
    EXPECT_TRUE(p.conn->disconnect());
    EXPECT_FALSE(p.conn->releaseOutput());
    EXPECT_FALSE(p.conn->timedOut());
    p.conn->holdOutput();
    ASSERT_TRUE(p.conn->writeString("lost again"));
    char key = 0;
    EXPECT_FALSE(p.conn->readKey(&key));
}
