// The session list on its own: records newest first, lookups by connection, dropping callers.
#include <cctype>
#include <cstring>

#include "server/connections/tcp_connection.h"
#include "server/sessions/session_list.h"
#include "support/test_support.h"

namespace {

struct Line {
    Line() {
        EXPECT_TRUE(ovtest::makeTcpPair(serverSide, clientSide));
        connection = std::make_unique<TcpConnection>(serverSide);
        client = ovtest::LoopbackClient(clientSide);
    }
    int serverSide = -1, clientSide = -1;
    std::unique_ptr<TcpConnection> connection;
    ovtest::LoopbackClient client;
};

class SessionListTest : public ::testing::Test {
protected:
    void SetUp() override { resetSessionList(); }
    void TearDown() override { resetSessionList(); }
};

// "hh:mm on dd Mmm yyyy"; std::regex trips a false warning in g++ 12 at -O2.
static bool looksLikeTimeText(const char* t) {
    const char* shape = "99:99 on 99 Aaa 9999";
    if (std::strlen(t) != std::strlen(shape)) return false;
    for (size_t i = 0; shape[i]; ++i) {
        unsigned char c = static_cast<unsigned char>(t[i]);
        bool ok = shape[i] == '9'   ? std::isdigit(c)
                  : shape[i] == 'A' ? std::isupper(c)
                  : shape[i] == 'a' ? std::islower(c)
                                    : c == static_cast<unsigned char>(shape[i]);
        if (!ok) return false;
    }
    return true;
}

TEST_F(SessionListTest, RecordsAreNewestFirstWithTimeAndDescription) {
    Line a, b, c;
    addSession(*a.connection);
    addSession(*b.connection);
    addSession(*c.connection);
    auto rows = snapshotSessions();
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].connectionId, c.connection->id());
    EXPECT_EQ(rows[2].connectionId, a.connection->id());
    char description[256];
    a.connection->describe(description);
    EXPECT_STREQ(rows[2].description, description);
    EXPECT_TRUE(looksLikeTimeText(rows[2].onlineSince)) << rows[2].onlineSince;
    EXPECT_STREQ(rows[2].login, "");

    std::lock_guard lock(sessionListLock());
    SessionRecord* head = sessionListHead();
    ASSERT_NE(head, nullptr);
    EXPECT_EQ(head->prev, nullptr);
    EXPECT_EQ(head->next->prev, head);
    EXPECT_EQ(findSession(*b.connection), head->next);
}

TEST_F(SessionListTest, LoginNameAndRemovalFollowTheConnection) {
    Line a, b;
    addSession(*a.connection);
    addSession(*b.connection);
    setSessionLogin(*a.connection, "ALICE");
    removeSession(*b.connection);
    removeSession(*b.connection); // already gone: ignored
    setSessionLogin(*b.connection, "nobody");
    auto rows = snapshotSessions();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_STREQ(rows[0].login, "ALICE");
    int seen = 0;
    forEachSession([&](SessionRecord& r) {
        EXPECT_EQ(r.connection, a.connection.get());
        ++seen;
    });
    EXPECT_EQ(seen, 1);
}

TEST_F(SessionListTest, DisconnectAllDropsEveryLineAndEmptiesTheList) {
    disconnectAll(); // empty: nothing happens
    Line a, b;
    addSession(*a.connection);
    addSession(*b.connection);
    disconnectAll();
    EXPECT_TRUE(snapshotSessions().empty());
    EXPECT_FALSE(a.connection->isOpen());
    EXPECT_FALSE(b.connection->isOpen());
    EXPECT_TRUE(a.client.waitForClose());
    removeSession(*a.connection); // the thread's own removal later finds nothing
}

TEST_F(SessionListTest, DisconnectSessionPicksTheRecordById) {
    Line a, b;
    addSession(*a.connection);
    addSession(*b.connection);
    EXPECT_TRUE(disconnectSession(a.connection->id()));
    EXPECT_FALSE(a.connection->isOpen());
    EXPECT_TRUE(b.connection->isOpen());
    EXPECT_FALSE(disconnectSession(a.connection->id()));
    ASSERT_EQ(snapshotSessions().size(), 1u);
    EXPECT_EQ(snapshotSessions()[0].connectionId, b.connection->id());
}

} // namespace
