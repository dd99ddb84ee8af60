// The modem module's face to the rest of the server: binding the telephony library, opening
// the data-modem lines and answering calls on them.
#pragma once

#include <cstdint>

// Runs one connected call's session on the thread the module starts for it; it owns the comm
// descriptor from then on.
using CallSession = void (*)(int commHandle);

// Binds the telephony library and opens the data-modem lines; false when none is usable.
[[nodiscard]] bool initTelephony();
// Closes the lines and releases the library.
void shutdownTelephony();
// Starts answering offered data calls on the open lines; each connected one goes to `run`.
void startAcceptingCalls(CallSession run);
// Open data-modem lines.
uint32_t modemDeviceCount();
