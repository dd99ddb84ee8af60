// The provider's text handling: ovtapi.conf, result lines, caller-ID fields, lock file names.
#include "platform/telephony/modem_text.h"
#include "platform/telephony/ovtapi.h"
#include "platform/telephony/serial_port.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

using namespace ovtapi;

TEST(ProviderConfig, DevicesSettingsCommentsAndBadLines) {
    ProviderConfig cfg = parseConfig("# modems\n"
                                     "\n"
                                     "/dev/ttyS0 \"Front Line\" AT&F &C1 &D2\n"
                                     "  /dev/ttyUSB0 Back\n"
                                     "lockdir = /run/lock\n"
                                     "guardtime=300\n"
                                     "speed = 57600\n"
                                     "speed = 12345\n"
                                     "guardtime = -5\n"
                                     "frobnicate = 1\n"
                                     "/dev/ttyS1\n"
                                     "/dev/ttyS2 \"unterminated\n");
    ASSERT_EQ(cfg.devices.size(), 2u);
    EXPECT_EQ(cfg.devices[0].path, "/dev/ttyS0");
    EXPECT_EQ(cfg.devices[0].name, "Front Line");
    EXPECT_EQ(cfg.devices[0].init, "AT&F &C1 &D2");
    EXPECT_EQ(cfg.devices[1].name, "Back");
    EXPECT_EQ(cfg.devices[1].init, "");
    EXPECT_EQ(cfg.settings.lockDir, "/run/lock");
    EXPECT_EQ(cfg.settings.guardMs, 300);
    EXPECT_EQ(cfg.settings.speed, 57600u);
    EXPECT_EQ(cfg.problems.size(), 5u); // bad speed, bad guard, unknown key, two bad devices
    EXPECT_TRUE(parseConfig("").devices.empty());
}

TEST(ModemLines, ResultCodesAndRates) {
    EXPECT_EQ(classifyLine("OK").kind, ResultKind::Ok);
    EXPECT_EQ(classifyLine(" ring ").kind, ResultKind::Ring);
    ModemLine c = classifyLine("CONNECT 33600/ARQ/V34/LAPM/V42BIS");
    EXPECT_EQ(c.kind, ResultKind::Connect);
    EXPECT_EQ(c.rate, 33600u);
    EXPECT_EQ(classifyLine("CONNECT").rate, 0u);
    EXPECT_EQ(classifyLine("CARRIER 28800").rate, 28800u);
    EXPECT_EQ(classifyLine("CONNECT 99999999999999").rate, 0xFFFFFFFFu);
    EXPECT_EQ(classifyLine("NO CARRIER").kind, ResultKind::NoCarrier);
    EXPECT_EQ(classifyLine("CONNECTED").kind, ResultKind::Other);
    EXPECT_EQ(classifyLine("ATE0").kind, ResultKind::Other);
    ModemLine n = classifyLine("NMBR = 5551234");
    EXPECT_EQ(n.kind, ResultKind::CallerIdField);
    EXPECT_EQ(n.field, "NMBR");
    EXPECT_EQ(n.value, "5551234");
    EXPECT_EQ(classifyLine("NAME=JO").value, "JO");
    EXPECT_EQ(classifyLine("COLOUR = RED").kind, ResultKind::Other);
}

TEST(ModemLines, AssemblerCutsLongLinesAndDropsControlBytes) {
    LineAssembler a;
    std::optional<std::string> line;
    for (int i = 0; i < 1000; ++i)
        EXPECT_FALSE(a.feed('x'));
    line = a.feed('\r');
    ASSERT_TRUE(line);
    EXPECT_EQ(line->size(), 255u);
    for (char c : std::string("O\x01K\x1b"))
        EXPECT_FALSE(a.feed(c));
    line = a.feed('\n');
    ASSERT_TRUE(line);
    EXPECT_EQ(*line, "OK");
}

TEST(CallerIdFields, FlagsFollowWhatTheModemSent) {
    auto flags = [](const char* number, const char* name) {
        CallerId id;
        if (number) id.take(classifyLine(std::string("NMBR = ") + number));
        if (name) id.take(classifyLine(std::string("NAME = ") + name));
        return id.partyIdFlags();
    };
    EXPECT_EQ(flags("5551234", "JO"), DWORD(LINECALLPARTYID_ADDRESS | LINECALLPARTYID_NAME));
    EXPECT_EQ(flags("5551234", nullptr), DWORD(LINECALLPARTYID_ADDRESS));
    EXPECT_EQ(flags("5551234", "O"), DWORD(LINECALLPARTYID_ADDRESS));
    EXPECT_EQ(flags(nullptr, "JO"), DWORD(LINECALLPARTYID_NAME));
    EXPECT_EQ(flags("P", "P"), DWORD(LINECALLPARTYID_BLOCKED));
    EXPECT_EQ(flags("O", nullptr), DWORD(LINECALLPARTYID_OUTOFAREA));
    EXPECT_EQ(flags(nullptr, "P"), DWORD(LINECALLPARTYID_BLOCKED));
    EXPECT_EQ(flags(nullptr, nullptr), DWORD(LINECALLPARTYID_UNKNOWN));
    EXPECT_EQ(flags("", ""), DWORD(LINECALLPARTYID_UNAVAIL));
    EXPECT_EQ(cleanCallerIdText(std::string(100, '1')).size(), kCallerIdMax);
    EXPECT_EQ(cleanCallerIdText("A\tB\x7f"
                                "C"),
              "ABC");
}

TEST(LockFiles, NamesFollowTheUucpHabit) {
    EXPECT_EQ(lockFileName("/dev/ttyS0"), "LCK..ttyS0");
    EXPECT_EQ(lockFileName("/dev/pts/3"), "LCK..pts_3");
    EXPECT_EQ(lockFileName("/tmp/m0"), "LCK.._tmp_m0");
}

TEST(ProviderConfig, TheEnvironmentNamesTheFileAndMayMoveTheLockDirectory) {
    char dir[] = "/tmp/ovtapi-conf-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    std::string conf = std::string(dir) + "/ovtapi.conf";
    FILE* f = std::fopen(conf.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fputs("lockdir = /from/file\n/dev/ttyS3 Modem\n", f);
    std::fclose(f);
    setenv("OVTAPI_CONF", conf.c_str(), 1);
    unsetenv("OVTAPI_LOCKDIR");
    ProviderConfig cfg = loadConfig();
    EXPECT_EQ(cfg.devices.size(), 1u);
    EXPECT_EQ(cfg.settings.lockDir, "/from/file");
    setenv("OVTAPI_LOCKDIR", "/from/env", 1);
    EXPECT_EQ(loadConfig().settings.lockDir, "/from/env");
    setenv("OVTAPI_CONF", (std::string(dir) + "/none.conf").c_str(), 1);
    EXPECT_TRUE(loadConfig().devices.empty());
    unsetenv("OVTAPI_LOCKDIR");
    unsetenv("OVTAPI_CONF");
    std::remove(conf.c_str());
    rmdir(dir);
}
