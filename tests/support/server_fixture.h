// The server's side of test callers: a fresh working directory with the default preferences and
// an empty session list, callers on a loopback port served by real session threads, a stand-in
// for the stage after login (the area tree has its own tests), accounts, and the event log read
// back as a list of headings.
#pragma once

#include <string>
#include <thread>
#include <vector>

#include "server/sessions/session.h"
#include "support/test_support.h"

namespace ovtest {

// Each test starts from the default preferences in its own directory and an empty list.
class ServerFixture : public WorkDirTest {
protected:
    void SetUp() override;
};

// What the stand-in sends once a caller is logged in.
inline std::string areasMarker(const std::string& name) {
    return "AREAS " + name + "\r\n";
}
// Sends areasMarker(loginName) and waits for Q to log off.
DisconnectReason standInAreas(Connection& c, const char* loginName);
inline SessionStart standInStart() {
    SessionStart start;
    start.afterLogin = standInAreas;
    return start;
}
// A modem call's session with the stand-in (for startAcceptingCalls).
void standInCallSession(int commHandle);

// Accepts callers on a free loopback port and serves each on a real session thread, by default
// with the stand-in after login. Gone, it drops every caller and waits for their threads.
class SessionServer {
public:
    explicit SessionServer(SessionStart start = standInStart());
    ~SessionServer();
    SessionServer(const SessionServer&) = delete;
    SessionServer& operator=(const SessionServer&) = delete;
    LoopbackClient call();
    uint16_t port = 0;

private:
    int fd_ = -1;
    std::thread acceptor_;
};

// An account with a password.
void makeAccount(const char* name, const char* password);
// Event headings of bbslog.txt in order; a DISCONNECT carries its reason ("DISCONNECT: ...").
std::vector<std::string> logEvents();

} // namespace ovtest
