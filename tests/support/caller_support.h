// The server's side of test callers: a stand-in for the stage after login (the area tree has
// its own tests), accounts, and the event log read back as a list of headings.
#pragma once

#include <string>
#include <vector>

#include "server/sessions/session.h"

namespace ovtest {

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

// An account with a password.
void makeAccount(const char* name, const char* password);
// Event headings of bbslog.txt in order; a DISCONNECT carries its reason ("DISCONNECT: ...").
std::vector<std::string> logEvents();

} // namespace ovtest
