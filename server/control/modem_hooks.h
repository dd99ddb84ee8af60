// What the server control needs from the modem module (server/modems/).
#pragma once

#include <cstdint>

// Binds the telephony library and opens the data-modem lines; false when none is usable.
bool initTelephony();
// Closes the lines and releases the library.
void shutdownTelephony();
// Starts answering offered data calls on the open lines (the main window, if useTapi).
void startAcceptingCalls();
// Open data-modem lines.
uint32_t modemDeviceCount();
