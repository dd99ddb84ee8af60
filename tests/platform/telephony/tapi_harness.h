// Loads the built libovtapi.so the way the server does (dlopen + dlsym of the twelve names),
// records every callback message with the thread it arrived on, and sets up a modem simulator
// with an ovtapi.conf in the test's working directory.
#pragma once

#include "platform/telephony/modemsim.h"
#include "platform/telephony/ovtapi.h"
#include "support/test_support.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tapitest {

struct Tapi {
    decltype(&::lineInitialize) initialize = nullptr;
    decltype(&::lineNegotiateAPIVersion) negotiate = nullptr;
    decltype(&::lineGetDevCaps) getDevCaps = nullptr;
    decltype(&::lineOpen) open = nullptr;
    decltype(&::lineGetID) getId = nullptr;
    decltype(&::lineGetCallInfo) getCallInfo = nullptr;
    decltype(&::lineAccept) accept = nullptr;
    decltype(&::lineAnswer) answer = nullptr;
    decltype(&::lineDrop) drop = nullptr;
    decltype(&::lineDeallocateCall) deallocate = nullptr;
    decltype(&::lineClose) close = nullptr;
    decltype(&::lineShutdown) shutdown = nullptr;
};

// Loaded once per process and kept, as the server keeps it.
const Tapi& tapi();

struct Message {
    DWORD device, message, instance, p1, p2, p3;
    bool onUiThread;
};

// Messages seen so far (read and written on the UI thread only).
std::vector<Message>& messages();
void recordMessage(DWORD device, DWORD message, DWORD instance, DWORD p1, DWORD p2, DWORD p3);

// Runs the UI loop on the test thread until cond holds (10 s bound).
bool pumpUntil(const std::function<bool()>& cond, int timeoutMs = 10000);
// Index of the first message from `from` on that matches, after pumping for it; -1 if none.
int waitForMessage(DWORD message, DWORD p1, size_t from = 0, int timeoutMs = 10000);
int waitForCallState(HCALL call, DWORD state, size_t from = 0, int timeoutMs = 10000);
int waitForReply(LONG request, size_t from = 0, int timeoutMs = 10000);

struct CallInfo {
    LONG result = 0;
    HLINE line = 0;
    DWORD rate = 0, flags = 0;
    std::string number, name;
};
CallInfo callInfo(HCALL call, DWORD size = 1320);

// A working directory with a lock directory, one simulated modem linked at ./modem0 and an
// ovtapi.conf naming it (plus `extraConf`), set through OVTAPI_CONF.
class TelephonyTest : public ovtest::WorkDirTest {
protected:
    void SetUp() override;
    void TearDown() override;
    // Starts the simulator and writes the configuration; `settings` are conf lines.
    void setUpModem(const std::string& settings = "", ovsim::ModemSimOptions options = {},
                    const std::string& extraDevices = "");
    // lineInitialize, negotiate and lineOpen of device `device`; returns the line handle.
    HLINE openLine(DWORD device = 0, DWORD instance = 77);
    bool waitForModemReady(size_t occurrence = 1);
    // Rings with the caller ID and returns the offered call (0 if none came).
    HCALL ringAndOffer(const std::string& number, const std::string& name);
    // Accepts and answers an offered call, returns true once CONNECTED arrived.
    bool acceptAndAnswer(HCALL call);
    int commHandle(HLINE line, HCALL call);

    std::unique_ptr<ovsim::ModemSim> sim;
    HLINEAPP app = 0;
    DWORD deviceCount = 0;
    std::string lockDir;
    int descriptorsAtStart = 0;
};

} // namespace tapitest
