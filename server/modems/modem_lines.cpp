// Telephony start-up and shutdown: the data-modem lines and their table.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "server/modems/modem_state.h"
#include "server/modems/tapi_binding.h"

namespace modems {

namespace {

constexpr uint32_t DevCapsSize = 1264;
constexpr uint32_t VarStringSize = 1048;

std::recursive_mutex lineLock;

// The device's name from "line/datamodem": the text after the 32-bit value; empty if unknown.
void readDeviceName(ModemLine& line) {
    line.deviceName[0] = '\0';
    auto* vs = static_cast<VARSTRING*>(std::calloc(1, VarStringSize));
    if (!vs) return;
    vs->dwTotalSize = VarStringSize;
    vs->dwStringFormat = STRINGFORMAT_BINARY;
    if (tapi::lineGetID(line.lineHandle, 0, 0, LINECALLSELECT_LINE, vs, "line/datamodem") == 0 &&
        vs->dwStringOffset + 4 < VarStringSize) {
        const char* text = reinterpret_cast<const char*>(vs) + vs->dwStringOffset + 4;
        size_t room = VarStringSize - (vs->dwStringOffset + 4);
        size_t n = strnlen(text, room);
        if (n > ModemTextSize - 1) n = ModemTextSize - 1;
        std::memcpy(line.deviceName, text, n);
        line.deviceName[n] = '\0';
    }
    std::free(vs);
}

bool scanLines(uint32_t deviceCount) {
    openLineCount = 0; // a fresh start after a shutdown counts its lines anew
    for (ModemLine& line : lines)
        line.present = false;
    if (deviceCount > MaxModemLines) deviceCount = MaxModemLines;
    auto* caps = static_cast<LINEDEVCAPS*>(std::calloc(1, DevCapsSize));
    if (!caps) return false;
    caps->dwTotalSize = DevCapsSize;
    for (uint32_t d = 0; d < deviceCount; ++d) {
        LINEEXTENSIONID ext{};
        DWORD version = 0;
        lines[d].present = tapi::lineNegotiateAPIVersion(lineApp, d, TAPI_VERSION_1_4,
                                                         TAPI_VERSION_1_4, &version, &ext) == 0;
        lines[d].apiVersion = version;
    }
    bool anyOpen = false;
    for (uint32_t d = 0; d < deviceCount; ++d) {
        ModemLine& line = lines[d];
        if (!line.present) continue;
        if (tapi::lineGetDevCaps(lineApp, d, line.apiVersion, 0, caps) != 0 ||
            (caps->dwMediaModes & LINEMEDIAMODE_DATAMODEM) == 0) {
            line.present = false;
            continue;
        }
        ++openLineCount;
        line.commHandle = InvalidComm;
        line.callHandle = 0;
        line.pendingRequest = -1;
        line.callerId[0] = '\0';
        line.callState = CallNone;
        line.pendingOperation = OpNothing;
        if (tapi::lineOpen(lineApp, d, &line.lineHandle, line.apiVersion, 0, 0,
                           LINECALLPRIVILEGE_OWNER, LINEMEDIAMODE_DATAMODEM, nullptr) != 0) {
            --openLineCount;
            line.present = false;
            continue;
        }
        readDeviceName(line);
        anyOpen = true;
    }
    std::free(caps);
    return anyOpen;
}

void closeLine(ModemLine& line) {
    closeLineComm(line);
    (void)tapi::lineClose(line.lineHandle);
    line.lineHandle = 0;
    line.callHandle = 0;
}

} // namespace

} // namespace modems

using namespace modems;

std::recursive_mutex& modemLineLock() {
    return lineLock;
}

bool initTelephony() {
    std::lock_guard g(lineLock);
    if (telephonyInitialized) return true;
    DWORD deviceCount = 0;
    if (tapi::lineInitialize(&lineApp, nullptr, lineCallback, nullptr, &deviceCount) != 0) {
        lineApp = 0;
        return false;
    }
    if (deviceCount != 0) telephonyInitialized = scanLines(deviceCount);
    if (!telephonyInitialized) {
        (void)tapi::lineShutdown(lineApp);
        lineApp = 0;
    }
    return telephonyInitialized;
}

void shutdownTelephony() {
    HLINEAPP app = 0;
    {
        std::lock_guard g(lineLock);
        if (!telephonyInitialized) return;
        stopAcceptingCalls();
        for (ModemLine& line : lines) {
            if (!line.present) continue;
            closeLine(line);
            line.present = false;
        }
        app = lineApp;
    }
    (void)tapi::lineShutdown(app);
    std::lock_guard g(lineLock);
    lineApp = 0;
    telephonyInitialized = false;
}

uint32_t modemDeviceCount() {
    std::lock_guard g(lineLock);
    return openLineCount;
}

ModemLine modemLineAt(uint32_t device) {
    std::lock_guard g(lineLock);
    return device < MaxModemLines ? lines[device] : ModemLine{};
}
