// The call state machine: offered calls are accepted and answered, connected ones become
// sessions, and calls are dropped and cleared as the replies and call states arrive.
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "server/base/caller_threads.h"
#include "server/modems/modem_state.h"
#include "server/modems/tapi_binding.h"
#include "server/preferences/preferences.h"

namespace modems {

namespace {

constexpr uint32_t SearchCallInfoSize = 296;
constexpr uint32_t CallInfoSize = 1320;
constexpr uint32_t VarStringSize = 1048;

std::atomic<uint32_t> runningSessions{0};

ModemLine* findByLineHandle(HLINE handle) {
    for (ModemLine& line : lines)
        if (line.present && line.lineHandle == handle) return &line;
    return nullptr;
}

ModemLine* findByRequest(int32_t request) {
    for (ModemLine& line : lines)
        if (line.present && line.pendingRequest == request) return &line;
    return nullptr;
}

ModemLine* findByComm(int comm) {
    for (ModemLine& line : lines)
        if (line.present && line.commHandle == comm) return &line;
    return nullptr;
}

ModemLine* findByCall(HCALL call) {
    alignas(LINECALLINFO) unsigned char buf[SearchCallInfoSize] = {};
    auto* info = reinterpret_cast<LINECALLINFO*>(buf);
    info->dwTotalSize = info->dwNeededSize = info->dwUsedSize = SearchCallInfoSize;
    if (tapi::lineGetCallInfo(call, info) != 0) return nullptr;
    return findByLineHandle(info->hLine);
}

// Back to no call at once: used when nothing will come to clear the line.
void clearLine(ModemLine& line) {
    closeLineComm(line);
    if (line.callHandle) (void)tapi::lineDeallocateCall(line.callHandle);
    line.callHandle = 0;
    line.callState = CallNone;
    line.pendingOperation = OpNothing;
    line.pendingRequest = -1;
}

void dropCall(ModemLine& line) {
    if (line.callState == CallNone || line.callState == CallEnded) return;
    line.pendingOperation = OpDrop;
    line.pendingRequest = tapi::lineDrop(line.callHandle, nullptr, 0);
    // Refused at once: no reply will ever come, so the line must not wait for one.
    if (line.pendingRequest < 0) clearLine(line);
}

bool obtainComm(ModemLine& line) {
    line.commHandle = InvalidComm;
    auto* vs = static_cast<VARSTRING*>(std::calloc(1, VarStringSize));
    if (!vs) return false;
    vs->dwTotalSize = VarStringSize;
    vs->dwStringFormat = STRINGFORMAT_BINARY;
    LONG r = tapi::lineGetID(line.lineHandle, 0, line.callHandle, LINECALLSELECT_CALL, vs,
                             "comm/datamodem");
    uint32_t value = 0xFFFFFFFFu;
    if (r == 0 && vs->dwStringOffset + 4 <= VarStringSize)
        std::memcpy(&value, reinterpret_cast<const char*>(vs) + vs->dwStringOffset, 4);
    std::free(vs);
    if (r != 0) {
        dropCall(line);
        return false;
    }
    if (value == 0 || value > 0x7FFFFFFFu) {
        // No session can use the call, so it is not left connected with nobody on it.
        dropCall(line);
        return false;
    }
    line.commHandle = static_cast<int>(value);
    takeComm(line.commHandle);
    return true;
}

// The caller identification, and the rate the call connected at (0 when unknown).
uint32_t recordCaller(ModemLine& line) {
    auto* info = static_cast<LINECALLINFO*>(std::calloc(1, CallInfoSize));
    if (!info) {
        std::snprintf(line.callerId, ModemTextSize, "unknown");
        return 0;
    }
    info->dwTotalSize = CallInfoSize;
    uint32_t rate = 0;
    if (tapi::lineGetCallInfo(line.callHandle, info) == 0) {
        identifyCaller(info, line.callerId);
        rate = info->dwRate;
    } else {
        std::snprintf(line.callerId, ModemTextSize, "unknown");
    }
    std::free(info);
    return rate;
}

void startSession(ModemLine& line) {
    int comm = line.commHandle;
    reserveCommForSession(comm);
    runningSessions.fetch_add(1);
    if (!startCallerThread([comm, run = callSession] {
            run(comm);
            runningSessions.fetch_sub(1);
        })) {
        // No thread for this caller: let go of the line rather than leave the call hanging.
        runningSessions.fetch_sub(1);
        releaseModemComm(comm);
        dropCall(line);
    }
}

void onConnected(ModemLine& line) {
    line.callState = CallConnected;
    line.pendingOperation = OpNothing;
    line.pendingRequest = -1;
    if (!obtainComm(line)) return;
    uint32_t rate = recordCaller(line);
    uint32_t minimum = getMinimumBps();
    if (rate != 0 && rate < minimum) {
        dropCall(line); // too slow to serve: hung up before any session starts
        return;
    }
    startSession(line);
}

void onCallState(HCALL call, DWORD state) {
    ModemLine* line = findByCall(call);
    if (!line) return;
    switch (state) {
    case LINECALLSTATE_OFFERING:
        if (!accepting) return;
        line->callState = CallAccepting;
        line->pendingOperation = OpAccept;
        line->callHandle = call;
        line->pendingRequest = tapi::lineAccept(call, nullptr, 0);
        if (line->pendingRequest < 0) {
            line->callState = CallNone;
            line->pendingRequest = -1;
            line->callHandle = 0;
        }
        break;
    case LINECALLSTATE_ACCEPTED:
        if (!accepting) return;
        line->callState = CallAnswering;
        line->pendingOperation = OpAnswer;
        line->callHandle = call;
        line->pendingRequest = tapi::lineAnswer(call, nullptr, 0);
        if (line->pendingRequest < 0) {
            line->callState = CallNone;
            line->pendingOperation = OpNothing;
            line->pendingRequest = -1;
            line->callHandle = 0;
        }
        break;
    case LINECALLSTATE_CONNECTED:
        onConnected(*line);
        break;
    case LINECALLSTATE_IDLE:
        line->callState = CallEnded;
        if (line->pendingOperation == OpDrop) return; // the drop's reply clears the line
        closeLineComm(*line);
        (void)tapi::lineDeallocateCall(line->callHandle);
        line->callHandle = 0;
        break;
    default:
        // A remote hang-up (DISCONNECTED) shows in the session's failing reads.
        break;
    }
}

void onLineClose(HLINE handle) {
    ModemLine* line = findByLineHandle(handle);
    if (!line) return;
    line->callState = CallNone;
    line->pendingOperation = OpNothing;
    line->pendingRequest = -1;
    line->callHandle = 0;
    line->lineHandle = 0;
    closeLineComm(*line);
}

void onReply(int32_t request, int32_t result) {
    ModemLine* line = findByRequest(request);
    if (!line) return;
    line->pendingRequest = -1;
    if (result < 0) {
        if (line->callHandle) dropCall(*line);
    } else {
        switch (line->pendingOperation) {
        case OpAccept:
            line->callState = CallAnswering;
            break;
        case OpAnswer:
            line->callState = CallConnected;
            break;
        case OpDrop:
            closeLineComm(*line);
            (void)tapi::lineDeallocateCall(line->callHandle);
            line->callState = CallNone;
            line->callHandle = 0;
            break;
        default:
            break;
        }
    }
    line->pendingOperation = OpNothing;
}

} // namespace

} // namespace modems

using namespace modems;

void startAcceptingCalls(CallSession run) {
    std::lock_guard g(modemLineLock());
    callSession = run;
    accepting = telephonyInitialized && run;
}

void stopAcceptingCalls() {
    std::lock_guard g(modemLineLock());
    accepting = false;
}

void lineCallback(DWORD device, DWORD message, DWORD, DWORD param1, DWORD param2, DWORD) {
    std::lock_guard g(modemLineLock());
    if (!telephonyInitialized) return;
    switch (message) {
    case LINE_CALLSTATE:
        onCallState(device, param1);
        break;
    case LINE_CLOSE:
        onLineClose(device);
        break;
    case LINE_REPLY:
        onReply(static_cast<int32_t>(param1), static_cast<int32_t>(param2));
        break;
    default:
        break;
    }
}

void hangUpModemCall(int commHandle) {
    std::lock_guard g(modemLineLock());
    if (commHandle == InvalidComm) return;
    if (ModemLine* line = findByComm(commHandle)) dropCall(*line);
}

bool describeModemCall(int commHandle, char* out) {
    std::lock_guard g(modemLineLock());
    if (commHandle == InvalidComm) return false;
    ModemLine* line = findByComm(commHandle);
    if (!line) return false;
    std::snprintf(out, 256, "Device %s, Caller ID %s", line->deviceName, line->callerId);
    return true;
}

void identifyCaller(const LINECALLINFO* info, char out[ModemTextSize]) {
    switch (info->dwCallerIDFlags) {
    case LINECALLPARTYID_BLOCKED:
        std::snprintf(out, ModemTextSize, "Anonymous call");
        return;
    case LINECALLPARTYID_OUTOFAREA:
        std::snprintf(out, ModemTextSize, "Out of area");
        return;
    case LINECALLPARTYID_NAME:
    case LINECALLPARTYID_ADDRESS:
    case LINECALLPARTYID_NAME | LINECALLPARTYID_ADDRESS:
    case LINECALLPARTYID_PARTIAL: {
        // The address field, cut to 63 bytes, and only as far as the record reaches.
        uint32_t total = info->dwTotalSize;
        uint32_t offset = info->dwCallerIDOffset;
        uint32_t size = info->dwCallerIDSize;
        if (offset > total) offset = total;
        if (size > total - offset) size = total - offset;
        if (size > ModemTextSize - 1) size = ModemTextSize - 1;
        std::memcpy(out, reinterpret_cast<const char*>(info) + offset, size);
        out[size] = '\0';
        return;
    }
    default:
        std::snprintf(out, ModemTextSize, "unknown");
        return;
    }
}

uint32_t runningModemSessions() {
    return runningSessions.load();
}
