// Dial-in callers: the data-modem lines opened through the telephony library, and the calls on
// them. Offered calls are accepted and answered while accepting is on; a connected call gets its
// comm handle, its caller identification and a session thread with a SerialConnection.
// initTelephony, shutdownTelephony, startAcceptingCalls and modemDeviceCount are declared in
// telephony.h. Everything here runs under the modem line lock.
#pragma once

#include <cstdint>
#include <mutex>

#include "platform/telephony/ovtapi.h"
#include "server/modems/telephony.h"

constexpr uint32_t MaxModemLines = 64;
constexpr uint32_t ModemTextSize = 64; // 63 characters and a NUL
constexpr int InvalidComm = -1;

enum ModemCallState : uint32_t {
    CallNone = 0,
    CallAccepting,
    CallAnswering,
    CallConnected,
    CallEnded
};
enum ModemOperation : uint32_t { OpAccept = 1, OpAnswer, OpDrop, OpNothing };

struct ModemLine {
    bool present;
    uint32_t apiVersion;
    HCALL callHandle;
    HLINE lineHandle;
    int commHandle; // InvalidComm when none
    int32_t pendingRequest;
    char deviceName[ModemTextSize];
    char callerId[ModemTextSize];
    uint32_t callState;        // ModemCallState
    uint32_t pendingOperation; // ModemOperation
};

std::recursive_mutex& modemLineLock();

void stopAcceptingCalls();
// The telephony callback: call states, line closes and request replies.
void lineCallback(DWORD device, DWORD message, DWORD instance, DWORD param1, DWORD param2,
                  DWORD param3);
// Asks for the call that holds this comm handle to be dropped; nothing if no line holds it.
void hangUpModemCall(int commHandle);
// "Device %s, Caller ID %s" into out (256 bytes); false, out untouched, if no line holds it.
[[nodiscard]] bool describeModemCall(int commHandle, char* out);
// The caller identification text for a call's information record.
void identifyCaller(const LINECALLINFO* info, char out[ModemTextSize]);

// The comm descriptor is shared by the telephony side and the session's connection and is
// closed by whichever lets go last, so its number cannot be reused while either may use it.
// The connection attaches its wake descriptor (signalled once the telephony side lets go);
// false if the descriptor is not a modem call's.
[[nodiscard]] bool attachModemComm(int commHandle, int wakeFd);
void releaseModemComm(int commHandle);

// For tests and the dialogs: a copy of a table entry; session threads still running.
ModemLine modemLineAt(uint32_t device);
uint32_t runningModemSessions();
