// Without the telephony library: nothing is ever bound, the server runs without modems.
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "server/connections/serial_connection.h"
#include "server/modems/modems.h"
#include "server/modems/tapi_binding.h"
#include "support/server_fixture.h"

TEST(MissingTelephonyLibrary, StartsWithoutModemsAndIsNeverLookedForAgain) {
    tapi::setTelephonyLibraryName("libovtapi-not-installed.so");
    EXPECT_FALSE(initTelephony());
    EXPECT_TRUE(tapi::telephonyLibraryMissing());
    EXPECT_EQ(modemDeviceCount(), 0u);
    HLINEAPP app = 0;
    DWORD devices = 0;
    EXPECT_EQ(tapi::lineInitialize(&app, nullptr, lineCallback, nullptr, &devices),
              LINEERR_OPERATIONUNAVAIL);
    EXPECT_EQ(tapi::lineShutdown(1), LINEERR_OPERATIONUNAVAIL);
    EXPECT_EQ(tapi::lineDrop(1, nullptr, 0), LINEERR_OPERATIONUNAVAIL);

    // Even with the real name now, the missing state stays.
    tapi::setTelephonyLibraryName("libovtapi.so");
    EXPECT_FALSE(initTelephony());
    EXPECT_EQ(tapi::lineGetCallInfo(1, nullptr), LINEERR_OPERATIONUNAVAIL);

    startAcceptingCalls(ovtest::standInCallSession);
    shutdownTelephony();
    shutdownTelephony();
    hangUpModemCall(5);
    char out[256] = "untouched";
    EXPECT_FALSE(describeModemCall(5, out));
    EXPECT_STREQ(out, "untouched");

    int pair[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    {
        SerialConnection c(pair[0]);
        c.describe(out);
        EXPECT_STREQ(out, "Unknown modem device");
    }
    close(pair[0]);
    close(pair[1]);
}
