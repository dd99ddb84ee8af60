#include "server/connections/serial_connection.h"
#include "server/sessions/session.h"
#include "server/sessions/session_threads.h"

void modemSessionThread(int commHandle) {
    if (commHandle < 0) return;
    SerialConnection connection(commHandle);
    runSession(connection);
}
