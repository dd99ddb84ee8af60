#include "server/connections/serial_connection.h"
#include "server/control/session_threads.h"
#include "server/sessions/session.h"

void modemSessionThread(int commHandle) {
    if (commHandle < 0) return;
    SerialConnection connection(commHandle);
    runSession(connection);
}
