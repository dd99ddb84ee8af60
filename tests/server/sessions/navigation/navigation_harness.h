// A caller on the client end of a loopback Telnet pair while browseAreas runs on its own thread,
// with a fresh working directory, default preferences, an area tree and one account.
#pragma once

#include "server/log/event_log.h"
#include "support/server_fixture.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

class NavigationTest : public ovtest::ServerFixture {
protected:
    void SetUp() override;
    void TearDown() override;

    // Starts browseAreas for `login` and swallows the Telnet opening negotiation.
    void startBrowsing(const char* login = "alice");
    // Adds a sub-area with a title and an access window; its id.
    uint32_t addArea(uint32_t parent, const std::string& title, uint16_t minAccess = 0,
                     uint16_t maxAccess = 65535);
    void addExtension(uint32_t area, uint32_t pluginId, const std::string& name,
                      const std::string& args);
    void setTitle(uint32_t area, const std::string& title);
    void setAnsi(bool on);
    // Everything up to and including the next prompt's closing "]  ".
    std::string nextScreen() { return client.readUntil("]  "); }
    // How the caller left, once the caller's thread has finished.
    DisconnectReason departure();

    ovtest::LoopbackClient client;
    std::thread browser;
    std::atomic<bool> finished{false};
    DisconnectReason left = DisconnectReason::ClosedWithoutLogoff; // set before `finished`
    std::string login = "alice";
};

// The composed plain screen as rows of 80 characters, filled with spaces.
std::string blankScreen();
// The prompt at the end of a received screen: from its last '['.
inline std::string promptOf(const std::string& s) {
    size_t at = s.rfind('[');
    return at == std::string::npos ? s : s.substr(at);
}
void put(std::string& screen, int row, int col, const std::string& text);
