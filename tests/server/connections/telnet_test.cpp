#include "connection_fixture.h"

#include "server/preferences/preferences.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

std::string raw(std::initializer_list<int> bytes) {
    std::string s;
    for (int b : bytes)
        s += static_cast<char>(b);
    return s;
}

constexpr int IAC = 255, DONT = 254, DO = 253, WONT = 252, WILL = 251, SB = 250, SE = 240,
              AYT = 246, NOP = 241;

class TelnetTest : public ovtest::WorkDirTest {
protected:
    void SetUp() override {
        loadPreferences(); // defaults: no file in the fresh directory
        ASSERT_TRUE(p.conn);
        ASSERT_EQ(TelnetOpening, p.peer.readBytes(TelnetOpening.size()));
    }
    TelnetPair p;
};

} // namespace

TEST_F(TelnetTest, AnswersUnwantedOptionsAndAcceptsEchoAndSuppressGoAhead) {
    ASSERT_TRUE(p.peer.send(raw({IAC, DO, 1,   IAC,  DO, 3,   IAC,  WILL, 1,   IAC,  WILL, 3,  IAC,
                                 DO,  24, IAC, WILL, 31, IAC, WONT, 1,    IAC, DONT, 3,    'a'})));
    char c = 0;
    ASSERT_TRUE(p.conn->readByte(&c));
    EXPECT_EQ('a', c);
    EXPECT_EQ(raw({IAC, WONT, 24, IAC, DONT, 31}), p.sentSoFar());
}

TEST_F(TelnetTest, DoubledIacIsOneDataByteBothWays) {
    ASSERT_TRUE(p.peer.send(raw({'x', IAC, IAC, 'y'})));
    char line[LineBufferSize];
    ASSERT_TRUE(p.peer.send("\r"));
    ASSERT_TRUE(p.conn->readLine(line));
    EXPECT_EQ(raw({'x', IAC, 'y'}), std::string(line));

    ASSERT_TRUE(p.conn->writeChar(static_cast<char>(IAC)));
    EXPECT_EQ(raw({IAC, IAC}), p.sentSoFar());

    // Doubling across the 4096-byte chunks loses and splits nothing.
    std::string many(5000, static_cast<char>(IAC));
    many[0] = 'S';
    ASSERT_TRUE(p.conn->write(many.data(), static_cast<uint32_t>(many.size())));
    std::string got = p.sentSoFar();
    ASSERT_EQ(1u + 2u * 4999u, got.size());
    EXPECT_EQ('S', got[0]);
    EXPECT_EQ(std::string(2 * 4999, static_cast<char>(IAC)), got.substr(1));
    EXPECT_TRUE(p.conn->write("", 0));
}

TEST_F(TelnetTest, EchoOfAByte255IsDoubled) {
    (void)p.conn->setEcho(true);
    ASSERT_TRUE(p.peer.send(raw({IAC, IAC})));
    char c = 0;
    ASSERT_TRUE(p.conn->readKey(&c));
    EXPECT_EQ(static_cast<char>(IAC), c);
    EXPECT_EQ(raw({IAC, IAC}), p.sentSoFar());
}

TEST_F(TelnetTest, AreYouThereNamesTheProductUnlessTheLoginIsUnrevealing) {
    ASSERT_TRUE(p.peer.send(raw({IAC, AYT, 'b'})));
    char c = 0;
    ASSERT_TRUE(p.conn->readByte(&c));
    EXPECT_EQ('b', c);
    EXPECT_EQ("Ossivane BBS here!\r\n", p.sentSoFar());

    (void)setUnrevealingLogin(true);
    ASSERT_TRUE(p.peer.send(raw({IAC, AYT, 'c'})));
    ASSERT_TRUE(p.conn->readByte(&c));
    EXPECT_EQ('c', c);
    EXPECT_EQ("Yes\r\n", p.sentSoFar());
    (void)setUnrevealingLogin(false);
}

TEST_F(TelnetTest, NopAndOtherCommandsAreInvisible) {
    ASSERT_TRUE(p.peer.send(raw({'x', IAC, NOP, 'y', IAC, 249, IAC, 244, 'z', IAC, SE, '\r'})));
    char line[LineBufferSize];
    ASSERT_TRUE(p.conn->readLine(line));
    EXPECT_STREQ("xyz", line);
    EXPECT_EQ("", p.sentSoFar());
}

TEST_F(TelnetTest, SubnegotiationIsDiscardedIncludingDoubledIac) {
    ASSERT_TRUE(p.peer.send(raw({'a', IAC, SB, 24, 0, 'V', 'T', IAC, IAC, 'x', IAC, SE,
                                 'b', IAC, SB, 31, 0, 80,  0,   24,  IAC, SE,  '\r'})));
    char line[LineBufferSize];
    ASSERT_TRUE(p.conn->readLine(line));
    EXPECT_STREQ("ab", line);
}

TEST_F(TelnetTest, CommandInsideASubnegotiationEndsItAndIsHandled) {
    ASSERT_TRUE(p.peer.send(raw({IAC, SB, 24, 'q', IAC, DO, 24, 'k'})));
    char c = 0;
    ASSERT_TRUE(p.conn->readByte(&c));
    EXPECT_EQ('k', c);
    EXPECT_EQ(raw({IAC, WONT, 24}), p.sentSoFar());
}

TEST_F(TelnetTest, AnEndlessSubnegotiationIsSwallowedOnlyUpToItsBound) {
    std::string s = raw({IAC, SB, 24}); // the option byte counts towards the 512
    s += std::string(511, 'z');
    s += "data";
    ASSERT_TRUE(p.peer.send(s));
    char buf[4];
    ASSERT_TRUE(p.conn->readExact(buf, 4));
    EXPECT_EQ("data", std::string(buf, 4));
}

TEST_F(TelnetTest, PeerClosingInsideACommandFailsTheRead) {
    ASSERT_TRUE(p.peer.send(raw({IAC, DO})));
    p.peer.close();
    char c = 0;
    EXPECT_FALSE(p.conn->readByte(&c));
    EXPECT_FALSE(p.conn->timedOut());

    TelnetPair q;
    ASSERT_TRUE(q.conn);
    ASSERT_EQ(TelnetOpening, q.peer.readBytes(TelnetOpening.size()));
    ASSERT_TRUE(q.peer.send(raw({'m', IAC})));
    q.peer.close();
    ASSERT_TRUE(q.conn->readByte(&c));
    EXPECT_EQ('m', c);
    EXPECT_FALSE(q.conn->readByte(&c));
}

TEST_F(TelnetTest, DescribesBothEndsAndTheClosedState) {
    char text[LineBufferSize];
    p.conn->describe(text);
    sockaddr_in peer{};
    socklen_t len = sizeof peer;
    ASSERT_EQ(0, getsockname(p.peer.fd(), reinterpret_cast<sockaddr*>(&peer), &len));
    sockaddr_in local{};
    len = sizeof local;
    ASSERT_EQ(0, getsockname(p.serverFd, reinterpret_cast<sockaddr*>(&local), &len));
    std::string expect = "TCP from 127.0.0.1:" + std::to_string(ntohs(peer.sin_port)) +
                         " (remote) to 127.0.0.1:" + std::to_string(ntohs(local.sin_port)) +
                         " (local)";
    EXPECT_EQ(expect, std::string(text));
    p.conn->disconnect();
    p.conn->describe(text);
    EXPECT_STREQ("TCP (socket has been closed)", text);
}

TEST(TcpDescribe, OctetsAppearInNetworkOrder) {
    // The whole of 127/8 is loopback, so distinct addresses on both ends need no set-up.
    int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(listener, 0);
    sockaddr_in la{};
    la.sin_family = AF_INET;
    la.sin_addr.s_addr = inet_addr("127.1.2.3");
    ASSERT_EQ(0, bind(listener, reinterpret_cast<sockaddr*>(&la), sizeof la));
    ASSERT_EQ(0, listen(listener, 1));
    socklen_t len = sizeof la;
    ASSERT_EQ(0, getsockname(listener, reinterpret_cast<sockaddr*>(&la), &len));

    int client = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in ca{};
    ca.sin_family = AF_INET;
    ca.sin_addr.s_addr = inet_addr("127.0.0.7");
    ASSERT_EQ(0, bind(client, reinterpret_cast<sockaddr*>(&ca), sizeof ca));
    ASSERT_EQ(0, connect(client, reinterpret_cast<sockaddr*>(&la), sizeof la));
    len = sizeof ca;
    ASSERT_EQ(0, getsockname(client, reinterpret_cast<sockaddr*>(&ca), &len));
    int accepted = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    ASSERT_GE(accepted, 0);
    close(listener);

    TcpConnection conn(accepted);
    char text[LineBufferSize];
    conn.describe(text);
    EXPECT_EQ("TCP from 127.0.0.7:" + std::to_string(ntohs(ca.sin_port)) +
                  " (remote) to 127.1.2.3:" + std::to_string(ntohs(la.sin_port)) + " (local)",
              std::string(text));
    close(client);
}

TEST_F(TelnetTest, TheNulOfCrNulIsDroppedOtherNulsStay) {
    // Enter as inetutils telnet sends it, then a NUL of its own; a command between CR and NUL
    // does not part them.
    ASSERT_TRUE(p.peer.send(raw({'\r', 0, 'a', 0, '\r', IAC, NOP, 0, 'b', '\r'})));
    std::string got;
    for (int i = 0; i < 6; ++i) {
        char c = 'x';
        ASSERT_TRUE(p.conn->readByte(&c));
        got += c;
    }
    EXPECT_EQ(raw({'\r', 'a', 0, '\r', 'b', '\r'}), got);
}
