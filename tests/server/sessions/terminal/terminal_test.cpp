#include "server/connections/tcp_connection.h"
#include "server/sessions/terminal.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

class TerminalTest : public ::testing::Test {
protected:
    void SetUp() override {
        int s = -1, c = -1;
        ASSERT_TRUE(ovtest::makeTcpPair(s, c));
        peer = ovtest::LoopbackClient(c);
        conn = std::make_unique<TcpConnection>(s);
        term.init(*conn);
    }
    // What reached the caller since the last call.
    std::string sent() {
        if (!conn->writeString("#END#")) return "(write failed)";
        std::string got = peer.readUntil("#END#");
        return got.substr(0, got.size() - 5);
    }

    std::unique_ptr<TcpConnection> conn;
    ovtest::LoopbackClient peer;
    TerminalState term;
};

} // namespace

TEST_F(TerminalTest, ColourChangesAreSentOnlyWhenTheyChangeSomething) {
    EXPECT_EQ(7u, term.foreground);
    EXPECT_EQ(0u, term.background);
    EXPECT_FALSE(term.bold);
    EXPECT_EQ(conn.get(), term.connection);
    EXPECT_TRUE(term.setForeground(7));
    EXPECT_EQ("", sent());
    EXPECT_TRUE(term.setForeground(6));
    EXPECT_EQ("\x1b[36m", sent());
    EXPECT_TRUE(term.setForeground(6));
    EXPECT_TRUE(term.setColors(7, 7));
    EXPECT_EQ("\x1b[37;47m", sent());
    EXPECT_TRUE(term.setColors(7, 7));
    EXPECT_EQ("", sent());
    EXPECT_TRUE(term.setColors(7, 1));
    EXPECT_EQ("\x1b[37;41m", sent());
    EXPECT_EQ(1u, term.background);
}

TEST_F(TerminalTest, BoldIsRepeatedAfterEveryColourChange) {
    EXPECT_TRUE(term.setBold());
    EXPECT_EQ("\x1b[1m", sent());
    EXPECT_TRUE(term.setForeground(2));
    EXPECT_EQ("\x1b[32m\x1b[1m", sent());
    EXPECT_TRUE(term.setColors(3, 4));
    EXPECT_EQ("\x1b[33;44m\x1b[1m", sent());
    EXPECT_TRUE(term.resetAttributes());
    EXPECT_EQ("\x1b[0m", sent());
    EXPECT_FALSE(term.bold);
    EXPECT_EQ(7u, term.foreground);
    EXPECT_EQ(0u, term.background);
    EXPECT_TRUE(term.resetAttributes()); // always sent, even at the start values
    EXPECT_EQ("\x1b[0m", sent());
}

TEST_F(TerminalTest, ScreenAndCursorSequences) {
    EXPECT_TRUE(term.clearScreen());
    EXPECT_EQ("\x1b[2J\x1b[1;1H", sent());
    EXPECT_TRUE(term.moveCursor(0, 22));
    EXPECT_EQ("\x1b[23;1H", sent());
    EXPECT_TRUE(term.moveCursor(79, 0));
    EXPECT_EQ("\x1b[1;80H", sent());
    EXPECT_TRUE(term.sendCsi("K"));
    EXPECT_EQ("\x1b[K", sent());
}

TEST_F(TerminalTest, StateChangesBeforeAFailedWrite) {
    conn->disconnect();
    EXPECT_FALSE(term.setForeground(4));
    EXPECT_EQ(4u, term.foreground);
    EXPECT_FALSE(term.setColors(1, 2));
    EXPECT_EQ(1u, term.foreground);
    EXPECT_EQ(2u, term.background);
    EXPECT_FALSE(term.clearScreen());
    EXPECT_TRUE(term.setColors(1, 2)); // nothing to send
}

TEST(TerminalWithoutConnection, FailsInsteadOfCrashing) {
    TerminalState t;
    EXPECT_FALSE(t.sendCsi("0m"));
    EXPECT_FALSE(t.setForeground(3));
}
