#include "modem_harness.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "ovui.h"
#include "ovui_driver.h"
#include "server/modems/modems.h"
#include "server/preferences/preferences.h"
#include "server/sessions/session_list.h"
#include "server/users/user_db.h"

namespace modemtest {

bool pumpUntil(const std::function<bool()>& cond, int timeoutMs) {
    return ovuiPumpUntil(cond, timeoutMs);
}

void ModemTest::SetUp() {
    ServerFixture::SetUp();
    ovInitialize(); // this thread is the UI thread for the whole run
    ASSERT_TRUE(ovIsUiThread());
    ASSERT_EQ(mkdir("lock", 0755), 0);
    setenv("OVTAPI_CONF", (workDir.path() + "/ovtapi.conf").c_str(), 1);
    setenv("OVTAPI_LOCKDIR", (workDir.path() + "/lock").c_str(), 1);
    descriptorsAtStart = ovtest::openDescriptorCount();
}

void ModemTest::TearDown() {
    disconnectAll();
    EXPECT_TRUE(pumpUntil([] { return runningModemSessions() == 0; }));
    shutdownTelephony();
    ovuiPumpUntilIdle();
    EXPECT_EQ(modemLineAt(0).present, false);
    sim.reset();
    EXPECT_EQ(ovtest::openDescriptorCount(), descriptorsAtStart) << "a descriptor was left open";
}

void ModemTest::startModem(ovsim::ModemSimOptions options, const std::string& settings) {
    options.linkPath = workDir.path() + "/modem0";
    if (options.ringIntervalMs == ovsim::ModemSimOptions{}.ringIntervalMs)
        options.ringIntervalMs = 60000; // one RING per call unless a test asks for more
    sim = std::make_unique<ovsim::ModemSim>(options);
    ASSERT_TRUE(sim->start());
    ovtest::writeFile("ovtapi.conf", "guardtime = 150\ncalleridwait = 200\n" + settings + "\n" +
                                         sim->path() + " \"Test Modem\"\n");
    ASSERT_TRUE(initTelephony());
    ASSERT_TRUE(waitForModemReady(1));
}

bool ModemTest::waitForModemReady(size_t occurrence) {
    // The provider initialises the modem on its own thread; caller ID on is its last step.
    return pumpUntil([&] {
        auto cmds = sim->commands();
        return std::count(cmds.begin(), cmds.end(), "AT+VCID=1") >= static_cast<long>(occurrence);
    });
}

std::string ModemTest::receivedSinceMark() const {
    std::string all = sim->received();
    return all.size() >= mark_ ? all.substr(mark_) : std::string();
}

bool ModemTest::waitForCallerText(const std::string& needle, int timeoutMs) {
    return pumpUntil([&] { return receivedSinceMark().find(needle) != std::string::npos; },
                     timeoutMs);
}

bool ModemTest::callUntilLoginPrompt(const std::string& number, const std::string& name) {
    mark();
    sim->ring(number, name);
    return waitForCallerText(LoginPrompt);
}

bool ModemTest::logIn(const char* name, const char* password) {
    sim->send(std::string(name) + "\r");
    if (!waitForCallerText(PasswordPrompt)) return false;
    sim->send(std::string(password) + "\r");
    return waitForCallerText(areasMarker(name));
}

bool ModemTest::waitForQuietLine() {
    return pumpUntil([] {
        ModemLine line = modemLineAt(0);
        // A call that went idle on its own stays "ended" until the next one.
        bool noCall = line.callState == CallNone || line.callState == CallEnded;
        return runningModemSessions() == 0 && noCall && line.commHandle == InvalidComm &&
               line.callHandle == 0;
    });
}

} // namespace modemtest
