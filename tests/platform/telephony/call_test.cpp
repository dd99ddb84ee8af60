// Calls end to end: the built provider, a simulated modem on a pseudo-terminal, the UI loop.
#include "tapi_harness.h"

#include <cstring>
#include <filesystem>
#include <poll.h>
#include <unistd.h>

using namespace tapitest;

namespace {

std::string readFor(int fd, const std::string& needle, int timeoutMs = 10000) {
    std::string got;
    ovtest::waitUntil(
        [&] {
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, 20) > 0 && (p.revents & POLLIN)) {
                char buf[256];
                ssize_t n = read(fd, buf, sizeof buf);
                if (n > 0) got.append(buf, static_cast<size_t>(n));
            }
            return got.find(needle) != std::string::npos;
        },
        std::chrono::milliseconds(timeoutMs));
    return got;
}

// True once a read on fd reports the end of the line (0 or an error other than EAGAIN).
bool lineIsDead(int fd) {
    return ovtest::waitUntil([&] {
        char c;
        pollfd p{fd, POLLIN, 0};
        poll(&p, 1, 20);
        ssize_t n = read(fd, &c, 1);
        return n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
    });
}

} // namespace

TEST_F(TelephonyTest, ACallWithCallerIdIsOfferedAnsweredAndCarriesDataBothWays) {
    setUpModem();
    HLINE line = openLine(0, 77);
    ASSERT_NE(line, 0u);
    ASSERT_TRUE(waitForModemReady());
    auto cmds = sim->commands();
    ASSERT_GE(cmds.size(), 6u);
    EXPECT_EQ(cmds[0], "ATZ");
    EXPECT_EQ(cmds[1], "AT&C1"); // the configured init string right after the reset
    EXPECT_NE(std::find(cmds.begin(), cmds.end(), "ATS0=0"), cmds.end());

    sim->setAnswer(33600);
    HCALL call = ringAndOffer("5551234", "JOHN DOE");
    ASSERT_NE(call, 0u);
    const Message& offering = messages()[messages().size() - 1];
    EXPECT_EQ(offering.instance, 77u);
    EXPECT_EQ(offering.p3, static_cast<DWORD>(LINECALLPRIVILEGE_OWNER));

    // The server's search by call uses 296 bytes: only the fixed part fits.
    CallInfo small = callInfo(call, 296);
    EXPECT_EQ(small.result, 0);
    EXPECT_EQ(small.line, line);
    EXPECT_EQ(small.flags, static_cast<DWORD>(LINECALLPARTYID_ADDRESS | LINECALLPARTYID_NAME));
    EXPECT_EQ(small.number, "");
    CallInfo full = callInfo(call);
    EXPECT_EQ(full.number, "5551234");
    EXPECT_EQ(full.name, "JOHN DOE");

    ASSERT_TRUE(acceptAndAnswer(call));
    EXPECT_EQ(callInfo(call).rate, 33600u);
    EXPECT_TRUE(sim->online());

    int fd = commHandle(line, call);
    ASSERT_GT(fd, 2);
    const char out[] = "Welcome to the board\r\n";
    ASSERT_EQ(write(fd, out, sizeof out - 1), static_cast<ssize_t>(sizeof out - 1));
    EXPECT_TRUE(sim->waitForReceived("Welcome to the board", 10000));
    sim->send("guest\r");
    EXPECT_NE(readFor(fd, "guest\r").find("guest\r"), std::string::npos);

    // The caller hangs up: the carrier goes, the call goes idle, the handle stops working.
    size_t from = messages().size();
    sim->hangUp();
    int disconnected = waitForCallState(call, LINECALLSTATE_DISCONNECTED, from);
    int idle = waitForCallState(call, LINECALLSTATE_IDLE, from);
    ASSERT_GE(disconnected, 0);
    EXPECT_GT(idle, disconnected);
    EXPECT_TRUE(lineIsDead(fd));
    close(fd);
    EXPECT_EQ(tapi().deallocate(call), 0);
    EXPECT_EQ(tapi().getCallInfo(call, nullptr), LINEERR_INVALCALLHANDLE);

    // The line comes back on the fresh device and takes the next call.
    ASSERT_TRUE(waitForModemReady(2));
    HCALL second = ringAndOffer("5550000", "");
    ASSERT_NE(second, 0u);
    EXPECT_NE(second, call);
    EXPECT_EQ(callInfo(second).flags, static_cast<DWORD>(LINECALLPARTYID_ADDRESS));
    EXPECT_EQ(callInfo(second).number, "5550000");
}

TEST_F(TelephonyTest, RatesComeFromCarrierLineFirstThenConnectAndBareConnectIs300) {
    setUpModem();
    HLINE line = openLine();
    ASSERT_TRUE(waitForModemReady());
    sim->setAnswer(115200, 28800);
    HCALL call = ringAndOffer("5551234", "A");
    ASSERT_TRUE(acceptAndAnswer(call));
    EXPECT_EQ(callInfo(call).rate, 28800u);

    size_t from = messages().size();
    LONG drop = tapi().drop(call, nullptr, 0);
    ASSERT_GT(drop, 0);
    ASSERT_GE(waitForReply(drop, from), 0);
    ASSERT_GE(waitForCallState(call, LINECALLSTATE_IDLE, from), 0);
    EXPECT_EQ(tapi().deallocate(call), 0);

    sim->setAnswer(0);
    call = ringAndOffer("5551234", "A");
    ASSERT_TRUE(acceptAndAnswer(call));
    EXPECT_EQ(callInfo(call).rate, 300u);
    (void)line;
}

TEST_F(TelephonyTest, LineDropHangsUpByEscapeAndTheLineTakesTheNextCall) {
    setUpModem();
    HLINE line = openLine();
    ASSERT_TRUE(waitForModemReady());
    HCALL call = ringAndOffer("5551234", "X");
    ASSERT_TRUE(acceptAndAnswer(call));
    int fd = commHandle(line, call);
    ASSERT_GT(fd, 2);
    ASSERT_EQ(write(fd, "bye\r\n", 5), 5);
    ASSERT_TRUE(sim->waitForReceived("bye", 10000));

    size_t from = messages().size();
    LONG drop = tapi().drop(call, nullptr, 0);
    ASSERT_GT(drop, 0);
    int reply = waitForReply(drop, from);
    ASSERT_GE(reply, 0);
    EXPECT_EQ(messages()[static_cast<size_t>(reply)].p2, 0u);
    EXPECT_GE(waitForCallState(call, LINECALLSTATE_IDLE, from), 0);
    EXPECT_EQ(sim->callsEnded(), 1);
    EXPECT_FALSE(sim->online());
    EXPECT_TRUE(sim->waitForCommand("ATH", 1000));
    EXPECT_EQ(sim->received(), "bye\r\n"); // the escape itself never reached the caller
    EXPECT_EQ(tapi().drop(call, nullptr, 0), LINEERR_INVALCALLSTATE);
    close(fd);
    EXPECT_EQ(tapi().deallocate(call), 0);

    HCALL next = ringAndOffer("5552222", "Y");
    ASSERT_NE(next, 0u);
    EXPECT_TRUE(acceptAndAnswer(next));
}

TEST_F(TelephonyTest, AFailedAnswerRepliesWithAnErrorAndTheCallGoesIdle) {
    setUpModem();
    openLine();
    ASSERT_TRUE(waitForModemReady());
    sim->setAnswer(33600, 0, true);
    HCALL call = ringAndOffer("5551234", "X");
    ASSERT_NE(call, 0u);
    size_t from = messages().size();
    LONG answer = tapi().answer(call, nullptr, 0);
    ASSERT_GT(answer, 0);
    int reply = waitForReply(answer, from);
    ASSERT_GE(reply, 0);
    EXPECT_EQ(static_cast<LONG>(messages()[static_cast<size_t>(reply)].p2),
              LINEERR_OPERATIONFAILED);
    EXPECT_GE(waitForCallState(call, LINECALLSTATE_DISCONNECTED, from), 0);
    EXPECT_GE(waitForCallState(call, LINECALLSTATE_IDLE, from), 0);
    EXPECT_EQ(tapi().deallocate(call), 0);
}

TEST_F(TelephonyTest, ShutdownDuringACallHangsUpAndRemovesTheLock) {
    setUpModem();
    HLINE line = openLine();
    ASSERT_TRUE(waitForModemReady());
    auto lockFiles = [&] {
        int n = 0;
        for (const auto& e : std::filesystem::directory_iterator(lockDir))
            n += e.is_regular_file();
        return n;
    };
    EXPECT_EQ(lockFiles(), 1);
    HCALL call = ringAndOffer("5551234", "X");
    ASSERT_TRUE(acceptAndAnswer(call));
    int fd = commHandle(line, call);
    EXPECT_EQ(tapi().shutdown(app), 0);
    app = 0;
    EXPECT_EQ(sim->callsEnded(), 1);
    EXPECT_FALSE(sim->online());
    EXPECT_EQ(tapi().getCallInfo(call, nullptr), LINEERR_INVALCALLHANDLE);
    EXPECT_EQ(tapi().close(line), LINEERR_INVALLINEHANDLE);
    close(fd);
    EXPECT_EQ(lockFiles(), 0);
}
