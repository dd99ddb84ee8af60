// Group commit on real files: writers that entered before a sync share it, a failed sync is
// reported to every writer it covered, and a file replaced under the writers starts afresh.
#include "server/base/group_commit.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

class GroupCommit : public ovtest::WorkDirTest {
protected:
    int openAppending(const char* name) {
        int fd = ::open(name, O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        EXPECT_GE(fd, 0);
        return fd;
    }
    void put(int fd, const char* text) {
        ASSERT_TRUE(
            writeExactly(fd, text, static_cast<uint32_t>(std::char_traits<char>::length(text))));
    }
    SyncGroup group;
};

} // namespace

TEST_F(GroupCommit, WritersThatEnteredBeforeASyncShareIt) {
    int a = openAppending("log");
    int b = openAppending("log"); // another writer's own descriptor of the same file
    put(a, "one ");
    SyncTicket first = group.enter(a);
    put(b, "two ");
    SyncTicket second = group.enter(b);
    EXPECT_TRUE(group.commit(a, first));
    EXPECT_TRUE(group.commit(b, second)); // already on disk with the first
    EXPECT_EQ(1u, group.syncs());
    put(b, "three");
    EXPECT_TRUE(group.commit(b, group.enter(b)));
    EXPECT_EQ(2u, group.syncs());
    EXPECT_EQ("one two three", ovtest::readFile("log"));
    ::close(a);
    ::close(b);
}

TEST_F(GroupCommit, AFailedSyncIsReportedToEveryWriterItCovered) {
    int pipeEnds[2];
    ASSERT_EQ(0, ::pipe(pipeEnds)); // nothing to sync: fdatasync fails on a pipe
    SyncTicket first = group.enter(pipeEnds[1]);
    SyncTicket second = group.enter(pipeEnds[1]);
    EXPECT_FALSE(group.commit(pipeEnds[1], first));
    EXPECT_FALSE(group.commit(pipeEnds[1], second));
    EXPECT_EQ(1u, group.syncs());
    ::close(pipeEnds[0]);
    ::close(pipeEnds[1]);
}

TEST_F(GroupCommit, AWriterOfAReplacedFileSyncsItsOwn) {
    int old = openAppending("log");
    put(old, "old");
    SyncTicket before = group.enter(old);
    ASSERT_EQ(0, std::rename("log", "log.1")); // the sysop moves the log aside
    int now = openAppending("log");
    put(now, "new");
    SyncTicket after = group.enter(now);
    EXPECT_TRUE(group.commit(now, after));
    EXPECT_TRUE(group.commit(old, before)); // the new file's sync did not cover it
    EXPECT_EQ(2u, group.syncs());
    ::close(old);
    ::close(now);
}
