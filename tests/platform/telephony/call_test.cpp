// Calls end to end: the built provider, a simulated modem on a pseudo-terminal, the UI loop.
#include "tapi_harness.h"

#include "ovui_driver.h"

#include <algorithm>
#include <atomic>
#include <thread>

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

namespace {

// The server's handling of one modem line, run inside the callback as the server runs it.
struct ServerLine {
    HLINE line = 0;
    HCALL call = 0;
    int comm = -1;
    LONG pending = -1;
    int operation = 4; // 1 accept, 2 answer, 3 drop, 4 nothing
    int state = 0;     // 0 none, 1 accepting, 2 answering, 3 connected, 4 ended
    std::string callerId;
    int sessions = 0;
};
ServerLine* server = nullptr;

void dropServerCall() {
    if (server->state != 0 && server->state != 4) {
        server->operation = 3;
        server->pending = tapi().drop(server->call, nullptr, 0);
    }
}

std::string serverCallerId(HCALL call) {
    std::vector<uint32_t> buf(1320 / 4, 0);
    auto* info = reinterpret_cast<LINECALLINFO*>(buf.data());
    info->dwTotalSize = 1320;
    if (tapi().getCallInfo(call, info) != 0) return "unknown";
    switch (info->dwCallerIDFlags) {
    case LINECALLPARTYID_BLOCKED:
        return "Anonymous call";
    case LINECALLPARTYID_OUTOFAREA:
        return "Out of area";
    case 0x4:
    case 0x8:
    case 0xC:
    case 0x10:
        return std::string(reinterpret_cast<const char*>(info) + info->dwCallerIDOffset,
                           std::min<DWORD>(info->dwCallerIDSize, 63))
            .c_str();
    default:
        return "unknown";
    }
}

void serverCallback(DWORD device, DWORD message, DWORD instance, DWORD p1, DWORD p2, DWORD p3) {
    recordMessage(device, message, instance, p1, p2, p3);
    ServerLine& s = *server;
    if (message == LINE_CALLSTATE) {
        std::vector<uint32_t> buf(296 / 4, 0);
        auto* info = reinterpret_cast<LINECALLINFO*>(buf.data());
        info->dwTotalSize = info->dwNeededSize = info->dwUsedSize = 296;
        if (tapi().getCallInfo(device, info) != 0 || info->hLine != s.line) return;
        if (p1 == LINECALLSTATE_OFFERING) {
            s.state = 1;
            s.operation = 1;
            s.call = device;
            s.pending = tapi().accept(device, nullptr, 0);
        } else if (p1 == LINECALLSTATE_ACCEPTED) {
            s.state = 2;
            s.operation = 2;
            s.call = device;
            s.pending = tapi().answer(device, nullptr, 0);
        } else if (p1 == LINECALLSTATE_CONNECTED) {
            s.state = 3;
            s.operation = 4;
            s.pending = -1;
            std::vector<uint32_t> id(1048 / 4, 0);
            auto* vs = reinterpret_cast<VARSTRING*>(id.data());
            vs->dwTotalSize = 1048;
            vs->dwStringFormat = STRINGFORMAT_BINARY;
            if (tapi().getId(s.line, 0, s.call, LINECALLSELECT_CALL, vs, "comm/datamodem") != 0) {
                dropServerCall();
                return;
            }
            uint32_t handle = 0;
            std::memcpy(&handle, reinterpret_cast<char*>(vs) + vs->dwStringOffset, 4);
            s.comm = static_cast<int>(handle);
            s.callerId = serverCallerId(s.call);
            ++s.sessions;
        } else if (p1 == LINECALLSTATE_IDLE) {
            s.state = 4;
            if (s.operation == 3) return;
            if (s.comm >= 0) close(s.comm);
            tapi().deallocate(s.call);
            s.call = 0;
            s.comm = -1;
        }
    } else if (message == LINE_REPLY) {
        if (static_cast<LONG>(p1) != s.pending) return;
        s.pending = -1;
        if (static_cast<LONG>(p2) < 0) {
            if (s.call) dropServerCall();
        } else if (s.operation == 1) {
            s.state = 2;
        } else if (s.operation == 2) {
            s.state = 3;
        } else if (s.operation == 3) {
            if (s.comm >= 0) close(s.comm);
            tapi().deallocate(s.call);
            s.state = 0;
            s.call = 0;
            s.comm = -1;
        }
        s.operation = 4;
    }
}

} // namespace

TEST_F(TelephonyTest, TheServersCallHandlingRunsThroughWholeCallsInsideTheCallback) {
    setUpModem();
    ServerLine s;
    server = &s;
    ASSERT_EQ(tapi().initialize(&app, nullptr, serverCallback, nullptr, &deviceCount), 0);
    DWORD version = 0;
    LINEEXTENSIONID ext{};
    ASSERT_EQ(tapi().negotiate(app, 0, 0x10004, 0x10004, &version, &ext), 0);
    ASSERT_EQ(tapi().open(app, 0, &s.line, version, 0, 0, LINECALLPRIVILEGE_OWNER,
                          LINEMEDIAMODE_DATAMODEM, nullptr),
              0);
    ASSERT_TRUE(waitForModemReady());

    // A blocked caller; the session ends and hangs up from the board's side.
    sim->ring("P", "P");
    ASSERT_TRUE(pumpUntil([&] { return s.state == 3 && s.comm >= 0; }));
    EXPECT_EQ(s.callerId, "Anonymous call");
    ASSERT_EQ(write(s.comm, "Hello\r\n", 7), 7);
    EXPECT_TRUE(sim->waitForReceived("Hello\r\n", 10000));
    dropServerCall();
    ASSERT_TRUE(pumpUntil([&] { return s.state == 0 && s.call == 0 && s.comm < 0; }));
    EXPECT_EQ(sim->callsEnded(), 1);
    ovuiPumpUntilIdle(); // the IDLE that follows the reply finds no call and changes nothing
    EXPECT_EQ(s.state, 0);

    // The next caller hangs up first; the IDLE step clears the line.
    sim->ring("5551234", "SOMEONE");
    ASSERT_TRUE(pumpUntil([&] { return s.sessions == 2 && s.comm >= 0; }));
    EXPECT_EQ(s.callerId, "5551234");
    sim->hangUp();
    ASSERT_TRUE(pumpUntil([&] { return s.state == 4 && s.call == 0 && s.comm < 0; }));

    // And the line still answers after the device came back.
    ASSERT_TRUE(waitForModemReady(2));
    sim->ring("O", "O");
    ASSERT_TRUE(pumpUntil([&] { return s.sessions == 3 && s.comm >= 0; }));
    EXPECT_EQ(s.callerId, "Out of area");
    EXPECT_EQ(tapi().shutdown(app), 0); // as the server's shutdown: lines closed, then the handle
    app = 0;
    close(s.comm);
    EXPECT_EQ(sim->callsEnded(), 3); // our drop, the caller's hang-up, the shutdown
    server = nullptr;
}

TEST_F(TelephonyTest, ADropWhileTheModemAnswersAbortsTheAnswer) {
    ovsim::ModemSimOptions options;
    options.answerDelayMs = 30000;
    setUpModem("", options);
    openLine();
    ASSERT_TRUE(waitForModemReady());
    HCALL call = ringAndOffer("5551234", "X");
    ASSERT_NE(call, 0u);
    size_t from = messages().size();
    LONG answer = tapi().answer(call, nullptr, 0);
    ASSERT_GT(answer, 0);
    ASSERT_TRUE(sim->waitForCommand("ATA", 10000));
    LONG drop = tapi().drop(call, nullptr, 0);
    ASSERT_GT(drop, 0);
    int answerReply = waitForReply(answer, from);
    int dropReply = waitForReply(drop, from);
    ASSERT_GE(answerReply, 0);
    ASSERT_GE(dropReply, 0);
    EXPECT_EQ(static_cast<LONG>(messages()[static_cast<size_t>(answerReply)].p2),
              LINEERR_OPERATIONFAILED);
    EXPECT_EQ(messages()[static_cast<size_t>(dropReply)].p2, 0u);
    EXPECT_GE(waitForCallState(call, LINECALLSTATE_IDLE, from), 0);
    EXPECT_EQ(tapi().deallocate(call), 0);
    EXPECT_TRUE(sim->waitFor([&] { return !sim->online(); }, 1000));
}

TEST_F(TelephonyTest, TheCallerHangingUpWhileTheModemAnswersFailsTheAnswer) {
    ovsim::ModemSimOptions options;
    options.answerDelayMs = 30000;
    setUpModem("", options);
    openLine();
    ASSERT_TRUE(waitForModemReady());
    HCALL call = ringAndOffer("5551234", "X");
    ASSERT_NE(call, 0u);
    size_t from = messages().size();
    LONG answer = tapi().answer(call, nullptr, 0);
    ASSERT_TRUE(sim->waitForCommand("ATA", 10000));
    sim->hangUp();
    int reply = waitForReply(answer, from);
    ASSERT_GE(reply, 0);
    EXPECT_EQ(static_cast<LONG>(messages()[static_cast<size_t>(reply)].p2),
              LINEERR_OPERATIONFAILED);
    EXPECT_GE(waitForCallState(call, LINECALLSTATE_DISCONNECTED, from), 0);
    EXPECT_GE(waitForCallState(call, LINECALLSTATE_IDLE, from), 0);
    EXPECT_EQ(tapi().deallocate(call), 0);
    ASSERT_TRUE(waitForModemReady(2));
}

TEST_F(TelephonyTest, AnEscapeSpoiledByOutgoingDataIsTriedAgain) {
    setUpModem();
    HLINE line = openLine();
    ASSERT_TRUE(waitForModemReady());
    HCALL call = ringAndOffer("5551234", "X");
    ASSERT_TRUE(acceptAndAnswer(call));
    int fd = commHandle(line, call);
    ASSERT_GT(fd, 2);
    // The session is still writing when the drop begins, so the first "+++" is only data.
    std::atomic<bool> writing{true};
    std::thread writer([&] {
        for (int i = 0; i < 30 && writing; ++i) {
            if (write(fd, "....", 4) < 0) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    ASSERT_TRUE(sim->waitForReceived("....", 10000));
    size_t from = messages().size();
    LONG drop = tapi().drop(call, nullptr, 0);
    ASSERT_GT(drop, 0);
    int reply = waitForReply(drop, from, 30000);
    writing = false;
    writer.join();
    ASSERT_GE(reply, 0);
    EXPECT_EQ(messages()[static_cast<size_t>(reply)].p2, 0u);
    EXPECT_FALSE(sim->online());
    EXPECT_EQ(sim->callsEnded(), 1);
    close(fd);
}
