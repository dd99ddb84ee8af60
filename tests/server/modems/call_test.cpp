// Dial-in callers through the simulated modem: answering, the login dialogue on the serial
// line, the log entries, caller identification, and every way a call ends.
#include <algorithm>
#include <cstring>

#include "modem_harness.h"
#include "server/connections/connection.h"
#include "server/modems/modems.h"
#include "server/modems/tapi_binding.h"
#include "server/preferences/preferences.h"
#include "server/sessions/session_list.h"

using namespace modemtest;

namespace {

std::string sessionDescription() {
    auto rows = snapshotSessions();
    return rows.size() == 1 ? rows[0].description : "";
}

bool sessionIsModem() {
    bool modem = false;
    forEachSession([&](SessionRecord& r) { modem = r.connection && r.connection->isModem(); });
    return modem;
}

size_t count(const std::vector<std::string>& v, const std::string& s) {
    return static_cast<size_t>(std::count(v.begin(), v.end(), s));
}

} // namespace

TEST_F(ModemTest, CallerWithIdIsAnsweredLogsInAndLogsOff) {
    makeAccount("alice", "Secret");
    startModem();
    EXPECT_EQ(modemDeviceCount(), 1u);
    EXPECT_STREQ(modemLineAt(0).deviceName, "Test Modem");
    startAcceptingCalls(ovtest::standInCallSession);
    sim->setAnswer(33600);

    ASSERT_TRUE(callUntilLoginPrompt("5551234", "JOHN DOE"));
    // Plain text from the first byte: no Telnet negotiation on a modem line.
    EXPECT_EQ(receivedSinceMark(), Banner + HowTo + LoginPrompt);
    EXPECT_EQ(sessionDescription(), "Device Test Modem, Caller ID 5551234");
    EXPECT_TRUE(sessionIsModem());
    ModemLine line = modemLineAt(0);
    EXPECT_EQ(line.callState, CallConnected);
    EXPECT_NE(line.commHandle, InvalidComm);
    EXPECT_STREQ(line.callerId, "5551234");

    ASSERT_TRUE(logIn("alice", "Secret"));
    EXPECT_EQ(receivedSinceMark(), Banner + HowTo + LoginPrompt + "alice\r\n" + PasswordPrompt +
                                       "\r\n" + areasMarker("alice"));
    sim->send("Q");
    ASSERT_TRUE(waitForQuietLine());
    EXPECT_EQ(sim->callsEnded(), 1); // the session's end hung the modem up
    EXPECT_EQ(logEvents(),
              (std::vector<std::string>{"CONNECT", "SUCCESSFUL LOGIN", "DISCONNECT: Logged off"}));
    std::string log = ovtest::readFile("bbslog.txt");
    EXPECT_NE(log.find("CONNECT\r\n   Device Test Modem, Caller ID 5551234\r\n"),
              std::string::npos);
    EXPECT_NE(log.find("SUCCESSFUL LOGIN\r\n   Device Test Modem, Caller ID 5551234\r\n"),
              std::string::npos);
    EXPECT_NE(log.find("DISCONNECT\r\n   Device Test Modem, Caller ID 5551234\r\n"),
              std::string::npos);
    EXPECT_TRUE(snapshotSessions().empty());
    EXPECT_EQ(activeUserCount(), 0u);
}

TEST_F(ModemTest, BlockedAndOutOfAreaCallersAreNamedSoAndTheLineTakesCallAfterCall) {
    startModem();
    startAcceptingCalls(ovtest::standInCallSession);
    const std::pair<const char*, const char*> calls[] = {
        {"P", "Anonymous call"}, {"O", "Out of area"}, {"5550000", "5550000"}};
    int ended = 0;
    for (const auto& [number, shown] : calls) {
        ASSERT_TRUE(callUntilLoginPrompt(number)) << number;
        EXPECT_EQ(sessionDescription(), std::string("Device Test Modem, Caller ID ") + shown);
        // Hung up by the sysop this time; the caller is cleared and the line waits again.
        disconnectAll();
        ASSERT_TRUE(waitForQuietLine());
        EXPECT_EQ(sim->callsEnded(), ++ended);
    }
    std::string log = ovtest::readFile("bbslog.txt");
    EXPECT_NE(log.find("Device Test Modem, Caller ID Anonymous call\r\n"), std::string::npos);
    EXPECT_NE(log.find("Device Test Modem, Caller ID Out of area\r\n"), std::string::npos);
    EXPECT_EQ(count(logEvents(), "CONNECT"), 3u);
}

TEST_F(ModemTest, WithoutAcceptingAnOfferedCallIsNeverAnsweredButTheLineStaysOpen) {
    ovsim::ModemSimOptions options;
    options.ringIntervalMs = 200;
    options.maxRings = 3;
    startModem(options, "ringtimeout = 1000");
    // useTapi off: the main window never starts accepting.
    sim->ring("5551234", "X");
    // The caller gives up; the provider reports the ignored call idle.
    ASSERT_TRUE(pumpUntil([] { return modemLineAt(0).callState == CallEnded; }));
    auto cmds = sim->commands();
    EXPECT_EQ(std::count(cmds.begin(), cmds.end(), "ATA"), 0);
    EXPECT_FALSE(sim->online());
    EXPECT_EQ(runningModemSessions(), 0u);
    EXPECT_FALSE(ovtest::fileExists("bbslog.txt"));
    EXPECT_TRUE(modemLineAt(0).present);
    EXPECT_EQ(modemDeviceCount(), 1u);

    // Switched on, the same line answers the next call.
    startAcceptingCalls(ovtest::standInCallSession);
    ASSERT_TRUE(callUntilLoginPrompt("5551234"));
}

TEST_F(ModemTest, RemoteHangUpMidSessionEndsItWithoutLogoff) {
    makeAccount("bob", "pw");
    startModem();
    startAcceptingCalls(ovtest::standInCallSession);
    ASSERT_TRUE(callUntilLoginPrompt("5551234"));
    ASSERT_TRUE(logIn("bob", "pw"));
    sim->hangUp();
    ASSERT_TRUE(waitForQuietLine());
    EXPECT_EQ(logEvents(),
              (std::vector<std::string>{"CONNECT", "SUCCESSFUL LOGIN",
                                        "DISCONNECT: Connection closed without logoff"}));
    // One hang-up only. Whether the line still says "ended" or is already cleared depends on
    // whether the idle report or the session's own drop arrived first; both are done with it.
    EXPECT_EQ(sim->callsEnded(), 1);
    uint32_t state = modemLineAt(0).callState;
    EXPECT_TRUE(state == CallEnded || state == CallNone) << state;
    EXPECT_TRUE(snapshotSessions().empty());

    // The line comes back on the simulator's fresh device and answers again.
    ASSERT_TRUE(waitForModemReady(2));
    ASSERT_TRUE(callUntilLoginPrompt("5559999"));
    EXPECT_EQ(sessionDescription(), "Device Test Modem, Caller ID 5559999");
}

TEST_F(ModemTest, CallerWhoTypesNothingTimesOutAndIsHungUp) {
    ASSERT_TRUE(setIdleTimeoutMs(300));
    startModem();
    startAcceptingCalls(ovtest::standInCallSession);
    ASSERT_TRUE(callUntilLoginPrompt("5551234"));
    ASSERT_TRUE(waitForQuietLine());
    EXPECT_EQ(sim->callsEnded(), 1);
    EXPECT_EQ(logEvents(), (std::vector<std::string>{"CONNECT", "DISCONNECT: Timed out"}));
}

TEST_F(ModemTest, SysopDropsOneModemCallerThenAll) {
    makeAccount("carol", "pw");
    startModem();
    startAcceptingCalls(ovtest::standInCallSession);
    ASSERT_TRUE(callUntilLoginPrompt("5551234"));
    ASSERT_TRUE(logIn("carol", "pw"));
    auto rows = snapshotSessions();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_STREQ(rows[0].login, "carol");
    ASSERT_TRUE(disconnectSession(rows[0].connectionId));
    ASSERT_TRUE(waitForQuietLine());
    EXPECT_EQ(sim->callsEnded(), 1);
    EXPECT_FALSE(sim->online());
    EXPECT_EQ(logEvents().back(), "DISCONNECT: Connection closed without logoff");

    ASSERT_TRUE(callUntilLoginPrompt("5552222"));
    disconnectAll();
    ASSERT_TRUE(waitForQuietLine());
    EXPECT_EQ(sim->callsEnded(), 2);
    EXPECT_EQ(count(logEvents(), "DISCONNECT: Connection closed without logoff"), 2u);
}

TEST_F(ModemTest, LineClosedByTheServiceEndsTheSessionAndLeavesTheEntry) {
    makeAccount("dave", "pw");
    startModem();
    startAcceptingCalls(ovtest::standInCallSession);
    ASSERT_TRUE(callUntilLoginPrompt("5551234"));
    ASSERT_TRUE(logIn("dave", "pw"));
    HLINE handle = modemLineAt(0).lineHandle;
    ASSERT_NE(handle, 0u);
    // A reply nobody waits for changes nothing.
    lineCallback(0, LINE_REPLY, 0, 999999, static_cast<DWORD>(LINEERR_OPERATIONFAILED), 0);
    EXPECT_EQ(modemLineAt(0).callState, CallConnected);
    EXPECT_NE(modemLineAt(0).commHandle, InvalidComm);
    EXPECT_EQ(runningModemSessions(), 1u);
    lineCallback(handle, LINE_CLOSE, 0, 0, 0, 0);
    ModemLine line = modemLineAt(0);
    EXPECT_TRUE(line.present);
    EXPECT_EQ(line.lineHandle, 0u);
    EXPECT_EQ(line.commHandle, InvalidComm);
    EXPECT_EQ(modemDeviceCount(), 1u);
    ASSERT_TRUE(pumpUntil([] { return runningModemSessions() == 0; }));
    EXPECT_EQ(logEvents().back(), "DISCONNECT: Connection closed without logoff");
    // The session's own hang-up found no line: nothing was asked of the modem.
    EXPECT_EQ(sim->callsEnded(), 0);
    // The service's side of the close, which the message reports.
    EXPECT_EQ(tapi::lineClose(handle), 0);
    EXPECT_TRUE(pumpUntil([&] { return sim->callsEnded() == 1; }));
}

TEST_F(ModemTest, CallBelowTheMinimumRateIsHungUpBeforeAnySession) {
    ASSERT_TRUE(setMinimumBps(9600));
    startModem();
    startAcceptingCalls(ovtest::standInCallSession);
    sim->setAnswer(2400);
    sim->ring("5551234", "SLOW");
    ASSERT_TRUE(pumpUntil([&] { return sim->callsEnded() == 1; }));
    ASSERT_TRUE(waitForQuietLine());
    EXPECT_EQ(sim->received(), "");
    EXPECT_FALSE(ovtest::fileExists("bbslog.txt"));

    // At the minimum it is served.
    sim->setAnswer(9600);
    ASSERT_TRUE(callUntilLoginPrompt("5551234"));
}

TEST_F(ModemTest, DevicesThatCannotOpenAreSkippedAndShutdownTwiceIsHarmless) {
    sim = std::make_unique<ovsim::ModemSim>(ovsim::ModemSimOptions{workDir.path() + "/modem0"});
    ASSERT_TRUE(sim->start());
    ovtest::writeFile("ovtapi.conf", "/nonexistent/ttyS9 Gone\n" + sim->path() +
                                         " \"Second Modem\"\n/nonexistent/ttyS8 \"Also gone\"\n");
    ASSERT_TRUE(initTelephony());
    EXPECT_TRUE(initTelephony()); // already up: nothing happens
    EXPECT_EQ(modemDeviceCount(), 1u);
    EXPECT_FALSE(modemLineAt(0).present);
    EXPECT_TRUE(modemLineAt(1).present);
    EXPECT_FALSE(modemLineAt(2).present);
    EXPECT_STREQ(modemLineAt(1).deviceName, "Second Modem");
    shutdownTelephony();
    shutdownTelephony();
    EXPECT_FALSE(modemLineAt(1).present);

    // No usable device at all: telephony is not ready.
    ovtest::writeFile("ovtapi.conf", "/nonexistent/ttyS9 Gone\n");
    EXPECT_FALSE(initTelephony());
    ovtest::writeFile("ovtapi.conf", "");
    EXPECT_FALSE(initTelephony());
}

TEST_F(ModemTest, OnlyTheFirstSixtyFourDevicesAreUsed) {
    sim = std::make_unique<ovsim::ModemSim>(ovsim::ModemSimOptions{workDir.path() + "/modem0"});
    ASSERT_TRUE(sim->start());
    auto confWithModemAt = [&](int index) {
        std::string conf;
        for (int i = 0; i < 70; ++i)
            conf += i == index ? sim->path() + " Real\n"
                               : "/nonexistent/ttyS" + std::to_string(i) + " Gone\n";
        ovtest::writeFile("ovtapi.conf", conf);
    };
    confWithModemAt(64);
    EXPECT_FALSE(initTelephony());
    EXPECT_TRUE(sim->commands().empty()); // never opened
    confWithModemAt(63);
    ASSERT_TRUE(initTelephony());
    EXPECT_EQ(modemDeviceCount(), 1u);
    EXPECT_TRUE(modemLineAt(63).present);
    EXPECT_STREQ(modemLineAt(63).deviceName, "Real");
    EXPECT_TRUE(waitForModemReady(1));
}
