// The comm descriptor shared by the telephony side and a session: closed once, by whichever
// lets go last, and the session is woken when the telephony side lets go first.
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "server/modems/modem_state.h"

namespace {

bool isOpenDescriptor(int fd) {
    return fcntl(fd, F_GETFD) != -1;
}

bool isSignalled(int fd) {
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, 0) == 1;
}

struct Pipe {
    Pipe() { EXPECT_EQ(pipe2(fds, O_CLOEXEC), 0); }
    ~Pipe() {
        close(fds[1]);
        if (isOpenDescriptor(fds[0])) close(fds[0]);
    }
    int fds[2] = {-1, -1};
};

} // namespace

TEST(CommHold, TelephonyFirstWakesTheSessionWhichClosesTheDescriptor) {
    Pipe p;
    int wake = eventfd(0, EFD_CLOEXEC);
    ASSERT_GE(wake, 0);
    int comm = p.fds[0];
    modems::takeComm(comm);
    modems::reserveCommForSession(comm);
    ASSERT_TRUE(attachModemComm(comm, wake));
    EXPECT_FALSE(attachModemComm(comm, wake)); // one session per call
    EXPECT_FALSE(isSignalled(wake));
    modems::releaseCommFromTelephony(comm);
    EXPECT_TRUE(isSignalled(wake));
    EXPECT_TRUE(isOpenDescriptor(comm)); // the session may still be in poll on it
    releaseModemComm(comm);
    EXPECT_FALSE(isOpenDescriptor(comm));
    close(wake);
}

TEST(CommHold, SessionFirstLeavesTheCloseToTheTelephonySide) {
    Pipe p;
    int comm = p.fds[0];
    modems::takeComm(comm);
    modems::reserveCommForSession(comm);
    ASSERT_TRUE(attachModemComm(comm, -1));
    releaseModemComm(comm);
    EXPECT_TRUE(isOpenDescriptor(comm));
    modems::releaseCommFromTelephony(comm);
    EXPECT_FALSE(isOpenDescriptor(comm));
}

TEST(CommHold, ASessionStartingAfterTheCallWasClearedIsWokenAtOnce) {
    Pipe p;
    int wake = eventfd(0, EFD_CLOEXEC);
    int comm = p.fds[0];
    modems::takeComm(comm);
    modems::reserveCommForSession(comm);
    modems::releaseCommFromTelephony(comm);
    ASSERT_TRUE(attachModemComm(comm, wake));
    EXPECT_TRUE(isSignalled(wake));
    releaseModemComm(comm);
    EXPECT_FALSE(isOpenDescriptor(comm));
    close(wake);
}

TEST(CommHold, DescriptorsNoCallHoldsAreLeftAlone) {
    Pipe p;
    EXPECT_FALSE(attachModemComm(p.fds[0], -1));
    releaseModemComm(p.fds[0]);
    EXPECT_TRUE(isOpenDescriptor(p.fds[0]));
}
