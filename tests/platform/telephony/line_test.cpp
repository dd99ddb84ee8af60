// Devices, configuration, caller-ID oddities and misbehaving modems, through the built provider.
#include "tapi_harness.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

using namespace tapitest;

TEST_F(TelephonyTest, NoConfigurationFileMeansNoDevices) {
    setenv("OVTAPI_CONF", (workDir.path() + "/missing.conf").c_str(), 1);
    ASSERT_EQ(tapi().initialize(&app, nullptr, recordMessage, nullptr, &deviceCount), 0);
    EXPECT_EQ(deviceCount, 0u);
    DWORD version = 0;
    LINEEXTENSIONID ext{};
    EXPECT_EQ(tapi().negotiate(app, 0, 0x10004, 0x10004, &version, &ext), LINEERR_BADDEVICEID);
}

TEST_F(TelephonyTest, CapabilitiesAndTheLineNameUseTheDesktopLayouts) {
    setUpModem("", {}, "# a second line\n/dev/null-not-here Spare\n");
    HLINE line = openLine();
    ASSERT_EQ(deviceCount, 2u);

    std::vector<uint8_t> caps(1264, 0);
    uint32_t total = 1264;
    std::memcpy(caps.data(), &total, 4);
    ASSERT_EQ(tapi().getDevCaps(app, 0, 0x10004, 0, reinterpret_cast<LINEDEVCAPS*>(caps.data())),
              0);
    uint32_t media = 0, nameSize = 0, nameOffset = 0;
    std::memcpy(&media, caps.data() + 60, 4);
    std::memcpy(&nameSize, caps.data() + 32, 4);
    std::memcpy(&nameOffset, caps.data() + 36, 4);
    EXPECT_EQ(media, static_cast<uint32_t>(LINEMEDIAMODE_DATAMODEM));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(caps.data()) + nameOffset), "Test Modem");
    EXPECT_EQ(nameSize, 11u);
    EXPECT_EQ(tapi().getDevCaps(app, 0, 0x20000, 0, reinterpret_cast<LINEDEVCAPS*>(caps.data())),
              LINEERR_INCOMPATIBLEAPIVERSION);
    total = 100;
    std::memcpy(caps.data(), &total, 4);
    EXPECT_EQ(tapi().getDevCaps(app, 0, 0x10004, 0, reinterpret_cast<LINEDEVCAPS*>(caps.data())),
              LINEERR_STRUCTURETOOSMALL);

    // "line/datamodem": a 32-bit value, then the name, as the server reads it.
    std::vector<uint8_t> id(1048, 0);
    auto* vs = reinterpret_cast<VARSTRING*>(id.data());
    vs->dwTotalSize = 1048;
    vs->dwStringFormat = STRINGFORMAT_BINARY;
    ASSERT_EQ(tapi().getId(line, 0, 0, LINECALLSELECT_LINE, vs, "line/datamodem"), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(id.data()) + vs->dwStringOffset + 4),
              "Test Modem");
    EXPECT_EQ(tapi().getId(line, 0, 0, LINECALLSELECT_LINE, vs, "wave/in"),
              LINEERR_INVALDEVICECLASS);
    EXPECT_EQ(tapi().getId(line, 0, 0, LINECALLSELECT_LINE, vs, "comm/datamodem"),
              LINEERR_INVALCALLSTATE); // no connected call yet

    DWORD version = 0;
    LINEEXTENSIONID ext{};
    EXPECT_EQ(tapi().negotiate(app, 1, 0x20000, 0x30000, &version, &ext),
              LINEERR_INCOMPATIBLEAPIVERSION);
    HLINE other = 0;
    EXPECT_EQ(tapi().open(app, 0, &other, 0x10004, 0, 0, LINECALLPRIVILEGE_OWNER,
                          LINEMEDIAMODE_DATAMODEM, nullptr),
              LINEERR_ALLOCATED);
    EXPECT_EQ(tapi().open(app, 1, &other, 0x10004, 0, 0, LINECALLPRIVILEGE_OWNER,
                          LINEMEDIAMODE_INTERACTIVEVOICE, nullptr),
              LINEERR_INVALMEDIAMODE);
    EXPECT_EQ(tapi().accept(12345, nullptr, 0), LINEERR_INVALCALLHANDLE);
    EXPECT_EQ(tapi().close(12345), LINEERR_INVALLINEHANDLE);
    EXPECT_EQ(tapi().shutdown(12345), LINEERR_INVALAPPHANDLE);
}

TEST_F(TelephonyTest, AMissingDeviceFailsToOpenWhileTheOtherLineWorks) {
    setUpModem("", {}, "/dev/ovtapi-no-such-tty \"Gone Modem\" ATM0\n");
    HLINE good = openLine(0);
    ASSERT_NE(good, 0u);
    ASSERT_EQ(deviceCount, 2u);
    HLINE bad = 0;
    EXPECT_EQ(tapi().open(app, 1, &bad, 0x10004, 0, 0, LINECALLPRIVILEGE_OWNER,
                          LINEMEDIAMODE_DATAMODEM, nullptr),
              LINEERR_NODEVICE);
    ASSERT_TRUE(waitForModemReady());
    EXPECT_NE(ringAndOffer("5551234", "STILL HERE"), 0u);
}

TEST_F(TelephonyTest, ADeviceLockedByALiveProgramIsRefusedAndAStaleLockIsTakenOver) {
    setUpModem();
    std::string lockName = "LCK.." + (workDir.path() + "/modem0");
    for (size_t i = 5; i < lockName.size(); ++i)
        if (lockName[i] == '/') lockName[i] = '_';
    std::string lockPath = lockDir + "/" + lockName;

    char text[16];
    std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(getppid()));
    ovtest::writeFile(lockPath, text);
    ASSERT_EQ(tapi().initialize(&app, nullptr, recordMessage, nullptr, &deviceCount), 0);
    HLINE line = 0;
    EXPECT_EQ(tapi().open(app, 0, &line, 0x10004, 0, 0, LINECALLPRIVILEGE_OWNER,
                          LINEMEDIAMODE_DATAMODEM, nullptr),
              LINEERR_RESOURCEUNAVAIL);
    EXPECT_EQ(ovtest::readFile(lockPath), text); // someone else's lock is left alone

    pid_t child = fork();
    if (child == 0) _exit(0);
    ASSERT_GT(child, 0);
    waitpid(child, nullptr, 0);
    std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(child));
    ovtest::writeFile(lockPath, text);
    ASSERT_EQ(tapi().open(app, 0, &line, 0x10004, 0, 0, LINECALLPRIVILEGE_OWNER,
                          LINEMEDIAMODE_DATAMODEM, nullptr),
              0);
    std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(getpid()));
    EXPECT_EQ(ovtest::readFile(lockPath), text);
    EXPECT_EQ(tapi().close(line), 0);
    EXPECT_FALSE(ovtest::fileExists(lockPath));
}

TEST_F(TelephonyTest, PrivateAndOutOfAreaCallersAndCallersWhoGiveUp) {
    setUpModem("ringtimeout = 1500\n");
    openLine();
    ASSERT_TRUE(waitForModemReady());

    HCALL call = ringAndOffer("P", "P");
    ASSERT_NE(call, 0u);
    EXPECT_EQ(callInfo(call).flags, static_cast<DWORD>(LINECALLPARTYID_BLOCKED));
    EXPECT_EQ(callInfo(call).number, "");
    // Nobody answers and the rings stop: the caller gave up.
    size_t from = messages().size();
    ASSERT_GE(waitForCallState(call, LINECALLSTATE_DISCONNECTED, 0), 0);
    ASSERT_GE(waitForCallState(call, LINECALLSTATE_IDLE, 0), 0);
    EXPECT_EQ(tapi().answer(call, nullptr, 0), LINEERR_INVALCALLSTATE);
    EXPECT_EQ(tapi().deallocate(call), 0);
    (void)from;

    call = ringAndOffer("O", "O");
    ASSERT_NE(call, 0u);
    EXPECT_EQ(callInfo(call).flags, static_cast<DWORD>(LINECALLPARTYID_OUTOFAREA));
    // Dropping a call that is only ringing needs nothing from the modem.
    from = messages().size();
    LONG drop = tapi().drop(call, nullptr, 0);
    ASSERT_GT(drop, 0);
    EXPECT_GE(waitForReply(drop, from), 0);
    EXPECT_GE(waitForCallState(call, LINECALLSTATE_IDLE, from), 0);
    EXPECT_EQ(tapi().deallocate(call), 0);
}

TEST_F(TelephonyTest, LongAndControlFilledCallerIdFieldsAreCleanedAndCut) {
    setUpModem();
    openLine();
    ASSERT_TRUE(waitForModemReady());
    // 100 bytes of number with control bytes inside; the name has a bell in it.
    const char head[] = "\r\nRING\r\n\r\nNMBR=55\x01"
                        "5\x1b"
                        "12\x7f"
                        "34";
    std::string block = std::string(head, sizeof head - 1) + std::string(100 - 11, '9') +
                        "\r\nNAME = B\x07"
                        "OB\r\n";
    size_t from = messages().size();
    sim->send(block);
    int i = waitForCallState(0, LINECALLSTATE_OFFERING, from);
    ASSERT_GE(i, 0);
    CallInfo info = callInfo(messages()[static_cast<size_t>(i)].device);
    EXPECT_EQ(info.number, "5551234" + std::string(63 - 7, '9'));
    EXPECT_EQ(info.name, "BOB");
    EXPECT_EQ(info.flags, static_cast<DWORD>(LINECALLPARTYID_ADDRESS | LINECALLPARTYID_NAME));
}

TEST_F(TelephonyTest, WithoutCallerIdTheSecondRingOffersTheCall) {
    ovsim::ModemSimOptions options;
    options.callerIdSupported = false; // AT+VCID=1 gives ERROR, which is tolerated
    options.ringIntervalMs = 200;
    setUpModem("", options);
    openLine();
    ASSERT_TRUE(waitForModemReady());
    HCALL call = ringAndOffer("", "");
    ASSERT_NE(call, 0u);
    EXPECT_EQ(callInfo(call).flags, static_cast<DWORD>(LINECALLPARTYID_UNKNOWN));
    EXPECT_TRUE(acceptAndAnswer(call));
}

TEST_F(TelephonyTest, AModemThatNeverAnswersStillOpensAndIsRetriedUntilItWakesUp) {
    ovsim::ModemSimOptions options;
    options.mute = true;
    setUpModem("commandtimeout = 200\ninitretry = 300\n", options);
    HLINE line = openLine();
    ASSERT_NE(line, 0u);
    EXPECT_TRUE(sim->waitForCommand("ATZ", 10000, 2)); // gave up once, tried again
    sim->setMute(false);
    ASSERT_TRUE(waitForModemReady());
    EXPECT_NE(ringAndOffer("5551234", "LATE"), 0u);
}

TEST_F(TelephonyTest, GarbageAndFloodsOfResultCodesLeaveTheLineWorking) {
    setUpModem();
    openLine();
    ASSERT_TRUE(waitForModemReady());
    std::string junk;
    uint32_t seed = 12345;
    for (int i = 0; i < 20000; ++i) {
        seed = seed * 1103515245u + 12345u;
        junk.push_back(static_cast<char>(seed >> 24));
    }
    junk += std::string(5000, 'A') + "\r\n";
    for (int i = 0; i < 300; ++i)
        junk += "\r\nOK\r\nNO CARRIER\r\nERROR\r\nBUSY\r\n";
    sim->send(junk);
    size_t from = messages().size();
    // An unsolicited CONNECT (a modem answering by itself) is hung up.
    sim->send("\r\nCONNECT 2400\r\n");
    EXPECT_TRUE(sim->waitForCommand("ATH", 10000));
    HCALL call = ringAndOffer("5551234", "AFTER JUNK");
    ASSERT_NE(call, 0u);
    EXPECT_EQ(callInfo(call).name, "AFTER JUNK");
    for (size_t i = from; i < messages().size(); ++i) {
        if (messages()[i].message == LINE_CALLSTATE) {
            EXPECT_EQ(messages()[i].device, call) << "no call came from the junk";
        }
    }
}
