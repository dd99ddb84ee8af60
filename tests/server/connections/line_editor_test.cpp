#include "connection_fixture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <thread>

namespace {

std::string bytes(const char* s, size_t n) {
    return std::string(s, n);
}

} // namespace

TEST(LineEditor, EditsWithBackspaceAndEchoesEachStep) {
    TcpPair p;
    ASSERT_TRUE(p.conn);
    EXPECT_FALSE(p.conn->setEcho(true));
    ASSERT_TRUE(p.peer.send("abc\b\bx\r"));
    char line[LineBufferSize];
    ASSERT_TRUE(p.conn->readLine(line));
    EXPECT_STREQ("ax", line);
    EXPECT_EQ("abc\b \b\b \bx\r\n", p.sentSoFar());

    // A backspace at the start of a line is ignored without echo.
    ASSERT_TRUE(p.peer.send("\b\bq\r"));
    ASSERT_TRUE(p.conn->readLine(line));
    EXPECT_STREQ("q", line);
    EXPECT_EQ("q\r\n", p.sentSoFar());
    EXPECT_TRUE(p.conn->setEcho(false));
}

TEST(LineEditor, StopsAt255CharactersAndLeavesTheCrForTheNextLine) {
    TcpPair p;
    ASSERT_TRUE(p.conn);
    std::string longLine(300, 'z');
    longLine[0] = 'a';
    longLine[254] = 'b';
    ASSERT_TRUE(p.peer.send(longLine.substr(0, 255) + "\r"));
    char line[LineBufferSize];
    std::memset(line, 'X', sizeof line);
    ASSERT_TRUE(p.conn->readLine(line));
    EXPECT_EQ(255u, std::strlen(line));
    EXPECT_EQ(longLine.substr(0, 255), std::string(line));
    ASSERT_TRUE(p.conn->readLine(line));
    EXPECT_STREQ("", line);
}

TEST(LineEditor, CrLfAndCrNulEndOneLineEach) {
    TcpPair p;
    ASSERT_TRUE(p.conn);
    ASSERT_TRUE(p.peer.send(bytes("one\r\ntwo\r\0three\r", 16)));
    char line[LineBufferSize];
    ASSERT_TRUE(p.conn->readLine(line));
    EXPECT_STREQ("one", line);
    ASSERT_TRUE(p.conn->readLine(line));
    EXPECT_STREQ("two", line);
    ASSERT_TRUE(p.conn->readLine(line));
    EXPECT_STREQ("three", line);
}

TEST(LineEditor, DelTakesBackACharacterAsBackspaceDoes) {
    TcpPair p;
    ASSERT_TRUE(p.conn);
    (void)p.conn->setEcho(true);
    ASSERT_TRUE(p.peer.send("\x7f"
                            "abc\x7f\x7fx\r"));
    char line[LineBufferSize];
    ASSERT_TRUE(p.conn->readLine(line));
    EXPECT_STREQ("ax", line);
    EXPECT_EQ("abc\b \b\b \bx\r\n", p.sentSoFar());
}

TEST(LineEditor, KeepsHighBytesAndEchoesNothingWhenEchoIsOff) {
    TcpPair p;
    ASSERT_TRUE(p.conn);
    ASSERT_TRUE(p.peer.send("ab\x7f\xe9\r\n\nK"));
    char line[LineBufferSize];
    ASSERT_TRUE(p.conn->readLine(line));
    EXPECT_STREQ("a\xe9", line);
    char key = 0;
    ASSERT_TRUE(p.conn->readKey(&key));
    EXPECT_EQ('K', key);
    EXPECT_EQ("", p.sentSoFar());
}

TEST(LineEditor, ReadKeySkipsLineFeedsAndReturnsNulAndCr) {
    TcpPair p;
    ASSERT_TRUE(p.conn);
    (void)p.conn->setEcho(true);
    ASSERT_TRUE(p.peer.send(bytes("\n\n\nZ\n\0\r", 7)));
    char key = 'x';
    ASSERT_TRUE(p.conn->readKey(&key));
    EXPECT_EQ('Z', key);
    ASSERT_TRUE(p.conn->readKey(&key));
    EXPECT_EQ('\0', key);
    ASSERT_TRUE(p.conn->readKey(&key));
    EXPECT_EQ('\r', key);
    EXPECT_EQ(bytes("Z\0\r", 3), p.sentSoFar());
}

TEST(LineEditor, ReadKeyTakesEnterAsOneKeyWhateverFollowsTheCr) {
    TcpPair p;
    ASSERT_TRUE(p.conn);
    ASSERT_TRUE(p.peer.send(bytes("\r\0A\r\nB\0", 8)));
    std::string keys;
    for (int i = 0; i < 5; ++i) {
        char key = 'x';
        ASSERT_TRUE(p.conn->readKey(&key));
        keys += key;
    }
    // A NUL that follows no CR is still a key.
    EXPECT_EQ(bytes("\rA\rB\0", 5), keys);
}

TEST(LineEditor, AFailedReadStillLeavesATerminatedLine) {
    TcpPair p;
    ASSERT_TRUE(p.conn);
    ASSERT_TRUE(p.peer.send("abc\bd"));
    p.peer.close();
    char line[LineBufferSize];
    std::memset(line, 'X', sizeof line);
    EXPECT_FALSE(p.conn->readLine(line));
    EXPECT_STREQ("abd", line);
    EXPECT_FALSE(p.conn->timedOut());
}

TEST(ConnectionReads, ReadExactStopsAtFailureAndZeroNeedsNoTransport) {
    TcpPair p;
    ASSERT_TRUE(p.conn);
    ASSERT_TRUE(p.peer.send("12345"));
    ASSERT_TRUE(p.waitForUnread(5));
    char buf[8] = {};
    ASSERT_TRUE(p.conn->readExact(buf, 3));
    EXPECT_EQ("123", std::string(buf, 3));
    p.peer.close();
    std::memset(buf, 0, sizeof buf);
    EXPECT_FALSE(p.conn->readExact(buf, 4));
    EXPECT_EQ("45", std::string(buf));
    p.conn->disconnect();
    EXPECT_TRUE(p.conn->readExact(buf, 0));
}

TEST(ConnectionReads, AfterDisconnectBufferedBytesAreStillReadThenReadsAndWritesFail) {
    TcpPair p;
    ASSERT_TRUE(p.conn);
    ASSERT_TRUE(p.peer.send("xy"));
    ASSERT_TRUE(p.waitForUnread(2));
    char c = 0;
    ASSERT_TRUE(p.conn->readByte(&c));
    EXPECT_EQ('x', c);
    EXPECT_TRUE(p.conn->disconnect());
    EXPECT_FALSE(p.conn->disconnect());
    EXPECT_FALSE(p.conn->isOpen());
    ASSERT_TRUE(p.conn->readByte(&c));
    EXPECT_EQ('y', c);
    EXPECT_FALSE(p.conn->readByte(&c));
    EXPECT_FALSE(p.conn->timedOut());
    EXPECT_FALSE(p.conn->writeString("late"));
    EXPECT_FALSE(p.conn->writeChar('z'));
    EXPECT_FALSE(p.conn->timedOut());
    EXPECT_FALSE(p.conn->setTimeouts(1000, 1000));
    EXPECT_TRUE(p.peer.waitForClose());
}

TEST(ConnectionReads, ShortReceiveTimeOutSetsTimedOutAndTheConnectionStaysUsable) {
    TcpPair p;
    ASSERT_TRUE(p.conn);
    ASSERT_TRUE(p.conn->setTimeouts(2000, 30));
    char c = 0;
    EXPECT_FALSE(p.conn->readByte(&c));
    EXPECT_TRUE(p.conn->timedOut());
    char line[LineBufferSize];
    EXPECT_FALSE(p.conn->readLine(line));
    EXPECT_TRUE(p.conn->timedOut());
    EXPECT_STREQ("", line);

    ASSERT_TRUE(p.conn->setTimeouts(0, 0)); // no limit from here on
    ASSERT_TRUE(p.peer.send("k"));
    ASSERT_TRUE(p.conn->readByte(&c));
    EXPECT_EQ('k', c);
    EXPECT_FALSE(p.conn->timedOut());

    // A failure that is no time-out clears the flag again.
    ASSERT_TRUE(p.conn->setTimeouts(2000, 30));
    EXPECT_FALSE(p.conn->readByte(&c));
    EXPECT_TRUE(p.conn->timedOut());
    p.peer.close();
    EXPECT_FALSE(p.conn->readByte(&c));
    EXPECT_FALSE(p.conn->timedOut());
}

TEST(ConnectionReads, TimeOutsReachTheSocketWithZeroMeaningNoLimit) {
    TcpPair p;
    ASSERT_TRUE(p.conn);
    ASSERT_TRUE(p.conn->setTimeouts(1500, 2250));
    timeval tv{};
    socklen_t len = sizeof tv;
    ASSERT_EQ(0, getsockopt(p.serverFd, SOL_SOCKET, SO_SNDTIMEO, &tv, &len));
    EXPECT_EQ(1, tv.tv_sec);
    EXPECT_EQ(500000, tv.tv_usec); // whole ticks at any tick rate
    ASSERT_EQ(0, getsockopt(p.serverFd, SOL_SOCKET, SO_RCVTIMEO, &tv, &len));
    // The kernel keeps it in ticks and may round up by one.
    long ms = tv.tv_sec * 1000 + tv.tv_usec / 1000;
    EXPECT_GE(ms, 2250);
    EXPECT_LE(ms, 2260);
    ASSERT_TRUE(p.conn->setTimeouts(0, 0));
    ASSERT_EQ(0, getsockopt(p.serverFd, SOL_SOCKET, SO_RCVTIMEO, &tv, &len));
    EXPECT_EQ(0, tv.tv_sec);
    EXPECT_EQ(0, tv.tv_usec);
}

TEST(ConnectionReads, IdsComeFromOneGrowingCounter) {
    TcpPair a;
    TcpPair b;
    ASSERT_TRUE(a.conn && b.conn);
    EXPECT_EQ(a.conn->id() + 1, b.conn->id());
    EXPECT_EQ(b.conn->id() + 1, connectionsCreated());
    EXPECT_TRUE(a.conn->isNetwork());
    EXPECT_FALSE(a.conn->isModem());
}

TEST(ConnectionReads, ANonBlockingSocketIsMadeBlockingSoEmptyReadsAreNoTimeOuts) {
    int s = -1, c = -1;
    ASSERT_TRUE(ovtest::makeTcpPair(s, c));
    ovtest::LoopbackClient peer(c);
    ASSERT_EQ(0, fcntl(s, F_SETFL, fcntl(s, F_GETFL) | O_NONBLOCK));
    TcpConnection conn(s);
    EXPECT_EQ(0, fcntl(s, F_GETFL) & O_NONBLOCK);
    std::thread later([&] {
        // Sent once the reader is waiting, or before: either way the read must wait for it.
        (void)peer.send("w");
    });
    char ch = 0;
    EXPECT_TRUE(conn.readByte(&ch));
    EXPECT_EQ('w', ch);
    later.join();
}
