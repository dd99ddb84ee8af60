// Stand-ins for a server built without the modem module: no telephony, no lines, no calls.
#include "server/control/modem_hooks.h"

__attribute__((weak)) bool initTelephony() {
    return false;
}
__attribute__((weak)) void shutdownTelephony() {}
__attribute__((weak)) void startAcceptingCalls() {}
__attribute__((weak)) uint32_t modemDeviceCount() {
    return 0;
}
