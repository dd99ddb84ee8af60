#include "connection_fixture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fcntl.h>
#include <set>
#include <thread>
#include <vector>

TEST(ConnectionConcurrency, DisconnectFromAnotherThreadWakesABlockedReader) {
    TelnetPair p;
    ASSERT_TRUE(p.conn);
    std::atomic<bool> started{false};
    std::atomic<bool> finished{false};
    bool readResult = true;
    std::thread reader([&] {
        started = true;
        char c;
        readResult = p.conn->readByte(&c);
        finished = true;
    });
    ASSERT_TRUE(ovtest::waitUntil([&] { return started.load(); }));
    EXPECT_TRUE(p.conn->disconnect());
    EXPECT_TRUE(ovtest::waitUntil([&] { return finished.load(); }));
    reader.join();
    EXPECT_FALSE(readResult);
    EXPECT_FALSE(p.conn->timedOut());
    EXPECT_TRUE(p.peer.waitForClose());
    // The descriptor stays allocated until its owner is done, so its number cannot be reused
    // under the reader's feet.
    EXPECT_NE(-1, fcntl(p.serverFd, F_GETFD));
    p.conn.reset();
    EXPECT_EQ(-1, fcntl(p.serverFd, F_GETFD));
}

TEST(ConnectionConcurrency, RacingDisconnectsCloseTheTransportExactlyOnce) {
    for (int round = 0; round < 50; ++round) {
        TcpPair p;
        ASSERT_TRUE(p.conn);
        std::atomic<int> closedBy{0};
        std::atomic<bool> go{false};
        std::vector<std::thread> threads;
        for (int t = 0; t < 3; ++t)
            threads.emplace_back([&] {
                while (!go) {
                }
                if (p.conn->disconnect()) ++closedBy;
            });
        go = true;
        for (auto& t : threads)
            t.join();
        EXPECT_EQ(1, closedBy.load());
        EXPECT_FALSE(p.conn->isOpen());
    }
}

TEST(ConnectionConcurrency, DisconnectWhileTheOwnerDestroysTheConnection) {
    for (int round = 0; round < 50; ++round) {
        TcpPair p;
        ASSERT_TRUE(p.conn);
        std::atomic<bool> go{false};
        Connection* conn = p.conn.get();
        std::thread other([&] {
            while (!go) {
            }
            conn->disconnect();
        });
        go = true;
        // The owner waits for the other thread's disconnect to finish before destroying, as
        // the session list guarantees by removing the record under its lock first.
        other.join();
        p.conn.reset();
        EXPECT_TRUE(p.peer.waitForClose());
    }
}

TEST(ConnectionConcurrency, ConnectionsBuiltOnManyThreadsGetDistinctIds) {
    std::vector<std::thread> threads;
    std::vector<uint32_t> ids(8);
    for (size_t i = 0; i < ids.size(); ++i)
        threads.emplace_back([&, i] {
            TcpPair p;
            ids[i] = p.conn ? p.conn->id() : 0xFFFFFFFFu;
        });
    for (auto& t : threads)
        t.join();
    std::set<uint32_t> unique(ids.begin(), ids.end());
    EXPECT_EQ(ids.size(), unique.size());
    EXPECT_EQ(0u, unique.count(0xFFFFFFFFu));
}

TEST(ConnectionConcurrency, OwnerReadsAndWritesWhileAnotherThreadDisconnects) {
    TelnetPair p;
    ASSERT_TRUE(p.conn);
    std::atomic<bool> stop{false};
    std::thread peerThread([&] {
        // Keeps feeding keys until the server side goes away.
        while (!stop && p.peer.send("k")) {
            std::string sink = p.peer.readBytes(1, std::chrono::milliseconds(1));
        }
    });
    std::atomic<int> keys{0};
    std::thread dropper([&] {
        ovtest::waitUntil([&] { return keys > 0; });
        p.conn->disconnect();
    });
    (void)p.conn->setEcho(true);
    char c;
    while (p.conn->readKey(&c))
        ++keys;
    dropper.join();
    stop = true;
    peerThread.join();
    EXPECT_FALSE(p.conn->isOpen());
    EXPECT_GT(keys, 0);
}
