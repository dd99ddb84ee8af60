// Stand-in for area navigation (it has its own tests): logs the login, shows whom it was
// handed, and waits for Q to log off.
#include <string>

#include "server/connections/connection.h"
#include "server/log/event_log.h"
#include "server/sessions/navigation.h"
#include "server/sessions/session_list.h"

void browseAreas(Connection& c, const char* loginName) {
    logLogin(c, loginName);
    setSessionLogin(c, loginName);
    std::string marker = std::string("AREAS ") + loginName + "\r\n";
    if (c.writeString(marker.c_str())) {
        char k;
        while (c.readKey(&k)) {
            if (k == 'Q') {
                logDisconnect(c, DisconnectReason::LoggedOff);
                return;
            }
        }
    }
    logDisconnect(c, c.timedOut() ? DisconnectReason::TimedOut
                                  : DisconnectReason::ClosedWithoutLogoff);
}
