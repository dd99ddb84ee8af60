// The provider's tables (applications, open lines, calls) and its message posting. Everything
// here is guarded by the provider lock; watcher threads take it only for short steps and never
// while they wait for the modem.
#pragma once

#include "platform/telephony/modem_text.h"
#include "platform/telephony/ovtapi.h"

#include <deque>
#include <map>
#include <memory>
#include <mutex>

namespace ovtapi {

extern std::recursive_mutex gLock;

struct App {
    HLINEAPP handle = 0;
    LINECALLBACK callback = nullptr;
    ProviderConfig config;
};

struct Call {
    HCALL handle = 0;
    HLINE line = 0;
    DWORD deviceId = 0;
    DWORD state = LINECALLSTATE_OFFERING;
    DWORD rate = 0;
    CallerId callerId;
    bool answerRequested = false;
};

enum class CommandKind { Answer, Drop };
struct Command {
    CommandKind kind;
    HCALL call;
    LONG request;
};

class LineWatcher;

struct Line {
    HLINE handle = 0;
    HLINEAPP app = 0;
    DWORD deviceId = 0;
    DWORD instance = 0;
    DeviceConfig device;
    Settings settings;
    std::string lockPath;
    int fd = -1;                // the watcher's descriptor, -1 while the device is away
    HCALL call = 0;             // the newest call, 0 when none
    std::deque<HCALL> oldCalls; // idle calls the application has not deallocated yet
    std::deque<Command> commands;
    std::unique_ptr<LineWatcher> watcher;
};

// All below: call with gLock held.
App* findApp(HLINEAPP handle);
Line* findLine(HLINE handle);
Call* findCall(HCALL handle);
HCALL newCall(Line& line, const CallerId& callerId);
void eraseCall(HCALL handle);
LONG newRequestId();
// Sets the call's state and tells the application.
void postCallState(Call& call, DWORD state, DWORD mode, DWORD privilege = 0);
void postReply(HLINE line, LONG request, LONG result);

// Diagnostics on standard error, prefixed "ovtapi: ".
void report(const std::string& text);

} // namespace ovtapi
