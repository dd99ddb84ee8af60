// Dial-in callers end to end: the real provider (libovtapi.so) bound by the modem module, a
// simulated modem on a pseudo-terminal, real session threads over SerialConnection, and the UI
// loop run on the test thread so the telephony messages arrive.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/telephony/modemsim.h"
#include "support/server_fixture.h"
#include "support/test_support.h"

namespace modemtest {

inline const std::string Banner = "Ossivane BBS\r\nVersion 1.00b1, build 311 (14 Apr 99)\r\n\r\n";
inline const std::string HowTo = "Login as \"new\" to create a new account.\r\n\r\n";
inline const std::string LoginPrompt = "Login:  ";
inline const std::string PasswordPrompt = "Password:  ";

using ovtest::areasMarker;
using ovtest::logEvents;
using ovtest::makeAccount;

// Runs the UI loop until cond holds (10 s bound).
bool pumpUntil(const std::function<bool()>& cond, int timeoutMs = 10000);

class ModemTest : public ovtest::ServerFixture {
protected:
    void SetUp() override;
    void TearDown() override;
    // Starts the simulator, writes ovtapi.conf (with extra setting lines) and initialises
    // telephony.
    void startModem(ovsim::ModemSimOptions options = {}, const std::string& settings = "");
    // The caller's view since the last mark.
    std::string receivedSinceMark() const;
    void mark() { mark_ = sim->received().size(); }
    // Waits for text in the caller's view since the mark.
    bool waitForCallerText(const std::string& needle, int timeoutMs = 10000);
    // Rings and waits until the session's login prompt reached the caller.
    bool callUntilLoginPrompt(const std::string& number, const std::string& name = "");
    bool logIn(const char* name, const char* password);
    // Pumps until the line is back to no call and every session thread has ended.
    bool waitForQuietLine();
    bool waitForModemReady(size_t occurrence);

    std::unique_ptr<ovsim::ModemSim> sim;
    int descriptorsAtStart = 0;

private:
    size_t mark_ = 0;
};

} // namespace modemtest
