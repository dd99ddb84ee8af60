// The twelve exported functions and the tables behind them.
#include "platform/telephony/line_watcher.h"
#include "platform/telephony/provider_state.h"
#include "platform/telephony/serial_port.h"

#include "ovui.h"

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace ovtapi {

std::recursive_mutex gLock;

namespace {

constexpr size_t kMaxOldCalls = 8;
const char kProviderInfo[] = "Ossivane Hayes modem provider";

struct Tables {
    std::map<HLINEAPP, App> apps;
    std::map<HLINE, std::unique_ptr<Line>> lines;
    std::map<HCALL, Call> calls;
    DWORD nextHandle = 0x10000;
    LONG nextRequest = 1;
};

// Never destroyed: watcher threads may outlive static destruction at exit.
Tables& tables() {
    static Tables* t = new Tables;
    return *t;
}

DWORD newHandle() {
    DWORD h = ++tables().nextHandle;
    if (h == 0 || h == 0xFFFFFFFFu) h = tables().nextHandle = 0x10001;
    return h;
}

struct Posted {
    HLINEAPP app;
    HLINE line;
    DWORD device, message, instance, p1, p2, p3;
};

// Runs on the UI thread. A message for an application or line that is gone is dropped.
void deliver(void* arg) {
    std::unique_ptr<Posted> m(static_cast<Posted*>(arg));
    LINECALLBACK callback = nullptr;
    {
        std::lock_guard<std::recursive_mutex> lock(gLock);
        App* app = findApp(m->app);
        if (!app || (m->line && !findLine(m->line))) return;
        callback = app->callback;
    }
    if (callback) callback(m->device, m->message, m->instance, m->p1, m->p2, m->p3);
}

void post(const Line& line, DWORD device, DWORD message, DWORD p1, DWORD p2, DWORD p3) {
    auto* m = new Posted{line.app, line.handle, device, message, line.instance, p1, p2, p3};
    if (!ovPostCall(deliver, m)) {
        delete m;
        static bool told = false;
        if (!told) report("the UI runtime is not running; telephony messages are lost");
        told = true;
    }
}

// Copies text into a record after `used` bytes; returns false (and copies nothing) when the
// record is too small. `needed` grows either way.
bool appendText(uint8_t* base, DWORD total, DWORD& used, DWORD& needed, const std::string& text,
                DWORD& size, DWORD& offset) {
    DWORD n = static_cast<DWORD>(text.size() + 1);
    needed += n;
    if (used + n > total) return false;
    std::memcpy(base + used, text.c_str(), n);
    size = n;
    offset = used;
    used += n;
    return true;
}

void closeLineNow(std::unique_ptr<Line> line) {
    // Called without the lock: the watcher takes it while it finishes.
    if (line->watcher) line->watcher->stopAndJoin();
    releaseLock(line->lockPath);
}

// Detaches a line and its calls from the tables; the caller closes it without the lock.
std::unique_ptr<Line> detachLine(HLINE handle) {
    auto& t = tables();
    auto it = t.lines.find(handle);
    if (it == t.lines.end()) return nullptr;
    std::unique_ptr<Line> line = std::move(it->second);
    t.lines.erase(it);
    for (auto c = t.calls.begin(); c != t.calls.end();)
        c = c->second.line == handle ? t.calls.erase(c) : std::next(c);
    return line;
}

} // namespace

App* findApp(HLINEAPP handle) {
    auto it = tables().apps.find(handle);
    return it == tables().apps.end() ? nullptr : &it->second;
}

Line* findLine(HLINE handle) {
    auto it = tables().lines.find(handle);
    return it == tables().lines.end() ? nullptr : it->second.get();
}

Call* findCall(HCALL handle) {
    auto it = tables().calls.find(handle);
    return it == tables().calls.end() ? nullptr : &it->second;
}

HCALL newCall(Line& line, const CallerId& callerId) {
    if (line.call) {
        if (Call* old = findCall(line.call); old && old->state == LINECALLSTATE_IDLE)
            line.oldCalls.push_back(line.call);
    }
    // Idle calls that the application never deallocated are let go, oldest first.
    while (line.oldCalls.size() > kMaxOldCalls) {
        eraseCall(line.oldCalls.front());
        line.oldCalls.pop_front();
    }
    Call call;
    call.handle = newHandle();
    call.line = line.handle;
    call.deviceId = line.deviceId;
    call.callerId = callerId;
    tables().calls[call.handle] = call;
    line.call = call.handle;
    return call.handle;
}

void eraseCall(HCALL handle) {
    auto& t = tables();
    auto it = t.calls.find(handle);
    if (it == t.calls.end()) return;
    if (Line* line = findLine(it->second.line); line && line->call == handle) line->call = 0;
    t.calls.erase(it);
}

LONG newRequestId() {
    LONG id = tables().nextRequest++;
    if (tables().nextRequest <= 0) tables().nextRequest = 1;
    return id;
}

void postCallState(Call& call, DWORD state, DWORD mode, DWORD privilege) {
    call.state = state;
    if (Line* line = findLine(call.line))
        post(*line, call.handle, LINE_CALLSTATE, state, mode, privilege);
}

void postReply(HLINE handle, LONG request, LONG result) {
    if (Line* line = findLine(handle))
        post(*line, 0, LINE_REPLY, static_cast<DWORD>(request), static_cast<DWORD>(result), 0);
}

void report(const std::string& text) {
    std::fprintf(stderr, "ovtapi: %s\n", text.c_str());
}

} // namespace ovtapi

using namespace ovtapi;

namespace {

LONG checkDevice(HLINEAPP hLineApp, DWORD dwDeviceID, App*& app) {
    app = findApp(hLineApp);
    if (!app) return LINEERR_INVALAPPHANDLE;
    if (dwDeviceID >= app->config.devices.size()) return LINEERR_BADDEVICEID;
    return 0;
}

LONG checkVersions(DWORD api, DWORD ext) {
    if (api != TAPI_VERSION_1_4) return LINEERR_INCOMPATIBLEAPIVERSION;
    if (ext != 0) return LINEERR_INCOMPATIBLEEXTVERSION;
    return 0;
}

} // namespace

extern "C" {

LONG lineInitialize(LPHLINEAPP lphLineApp, HINSTANCE, LINECALLBACK lpfnCallback, LPCSTR,
                    LPDWORD lpdwNumDevs) {
    if (!lphLineApp || !lpfnCallback || !lpdwNumDevs) return LINEERR_INVALPOINTER;
    ProviderConfig config = loadConfig();
    for (const std::string& problem : config.problems)
        report("ovtapi.conf " + problem);
    std::lock_guard<std::recursive_mutex> lock(gLock);
    App app;
    app.handle = newHandle();
    app.callback = lpfnCallback;
    app.config = std::move(config);
    *lpdwNumDevs = static_cast<DWORD>(app.config.devices.size());
    *lphLineApp = app.handle;
    tables().apps[app.handle] = std::move(app);
    return 0;
}

LONG lineNegotiateAPIVersion(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPILowVersion,
                             DWORD dwAPIHighVersion, LPDWORD lpdwAPIVersion,
                             LPLINEEXTENSIONID lpExtensionID) {
    std::lock_guard<std::recursive_mutex> lock(gLock);
    App* app = nullptr;
    if (LONG err = checkDevice(hLineApp, dwDeviceID, app)) return err;
    if (!lpdwAPIVersion || !lpExtensionID) return LINEERR_INVALPOINTER;
    if (dwAPILowVersion > TAPI_VERSION_1_4 || dwAPIHighVersion < TAPI_VERSION_1_4)
        return LINEERR_INCOMPATIBLEAPIVERSION;
    *lpdwAPIVersion = TAPI_VERSION_1_4;
    *lpExtensionID = LINEEXTENSIONID{};
    return 0;
}

LONG lineGetDevCaps(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPIVersion, DWORD dwExtVersion,
                    LPLINEDEVCAPS caps) {
    std::lock_guard<std::recursive_mutex> lock(gLock);
    App* app = nullptr;
    if (LONG err = checkDevice(hLineApp, dwDeviceID, app)) return err;
    if (LONG err = checkVersions(dwAPIVersion, dwExtVersion)) return err;
    if (!caps) return LINEERR_INVALPOINTER;
    DWORD total = caps->dwTotalSize;
    if (total < sizeof(LINEDEVCAPS)) return LINEERR_STRUCTURETOOSMALL;
    const DeviceConfig& dev = app->config.devices[dwDeviceID];
    *caps = LINEDEVCAPS{};
    caps->dwTotalSize = total;
    caps->dwNeededSize = caps->dwUsedSize = sizeof(LINEDEVCAPS);
    auto* base = reinterpret_cast<uint8_t*>(caps);
    appendText(base, total, caps->dwUsedSize, caps->dwNeededSize, kProviderInfo,
               caps->dwProviderInfoSize, caps->dwProviderInfoOffset);
    appendText(base, total, caps->dwUsedSize, caps->dwNeededSize, dev.name, caps->dwLineNameSize,
               caps->dwLineNameOffset);
    caps->dwPermanentLineID = dwDeviceID;
    caps->dwStringFormat = STRINGFORMAT_ASCII;
    caps->dwAddressModes = LINEADDRESSMODE_ADDRESSID;
    caps->dwNumAddresses = 1;
    caps->dwBearerModes = LINEBEARERMODE_VOICE;
    caps->dwMaxRate = app->config.settings.speed;
    caps->dwMediaModes = LINEMEDIAMODE_DATAMODEM;
    caps->dwMaxNumActiveCalls = 1;
    caps->dwAnswerMode = LINEANSWERMODE_NONE;
    caps->dwRingModes = 1;
    return 0;
}

LONG lineOpen(HLINEAPP hLineApp, DWORD dwDeviceID, LPHLINE lphLine, DWORD dwAPIVersion,
              DWORD dwExtVersion, DWORD dwCallbackInstance, DWORD dwPrivileges, DWORD dwMediaModes,
              const LINECALLPARAMS*) {
    std::lock_guard<std::recursive_mutex> lock(gLock);
    App* app = nullptr;
    if (LONG err = checkDevice(hLineApp, dwDeviceID, app)) return err;
    if (LONG err = checkVersions(dwAPIVersion, dwExtVersion)) return err;
    if (!lphLine) return LINEERR_INVALPOINTER;
    if ((dwPrivileges & LINECALLPRIVILEGE_OWNER) == 0 ||
        (dwPrivileges & ~(LINECALLPRIVILEGE_OWNER | LINECALLPRIVILEGE_MONITOR)) != 0)
        return LINEERR_INVALPRIVSELECT;
    if (dwMediaModes != LINEMEDIAMODE_DATAMODEM) return LINEERR_INVALMEDIAMODE;
    const DeviceConfig& dev = app->config.devices[dwDeviceID];
    for (const auto& [handle, other] : tables().lines)
        if (other->device.path == dev.path) return LINEERR_ALLOCATED;

    auto line = std::make_unique<Line>();
    std::string why;
    switch (takeLock(app->config.settings.lockDir, dev.path, line->lockPath, why)) {
    case LockResult::Taken:
        break;
    case LockResult::Busy:
        report(dev.name + ": " + why);
        return LINEERR_RESOURCEUNAVAIL;
    case LockResult::Failed:
        report(dev.name + ": " + why);
        return LINEERR_OPERATIONFAILED;
    }
    int fd = -1;
    OpenResult opened = openTty(dev.path, app->config.settings.speed, fd, why);
    if (opened != OpenResult::Opened) {
        report(dev.name + ": " + why);
        releaseLock(line->lockPath);
        return opened == OpenResult::NoDevice ? LINEERR_NODEVICE : LINEERR_OPERATIONFAILED;
    }
    line->handle = newHandle();
    line->app = hLineApp;
    line->deviceId = dwDeviceID;
    line->instance = dwCallbackInstance;
    line->device = dev;
    line->settings = app->config.settings;
    line->fd = fd;
    line->watcher = std::make_unique<LineWatcher>(line->handle, fd, dev, line->settings);
    Line& ref = *line;
    tables().lines[line->handle] = std::move(line);
    if (!ref.watcher->start()) {
        std::unique_ptr<Line> failed = detachLine(ref.handle);
        close(fd);
        releaseLock(failed->lockPath);
        return LINEERR_NOMEM;
    }
    *lphLine = ref.handle;
    return 0;
}

LONG lineGetID(HLINE hLine, DWORD dwAddressID, HCALL hCall, DWORD dwSelect, LPVARSTRING lpDeviceID,
               LPCSTR lpszDeviceClass) {
    std::lock_guard<std::recursive_mutex> lock(gLock);
    if (!lpDeviceID || !lpszDeviceClass) return LINEERR_INVALPOINTER;
    Line* line = nullptr;
    Call* call = nullptr;
    if (dwSelect == LINECALLSELECT_CALL) {
        call = findCall(hCall);
        if (!call) return LINEERR_INVALCALLHANDLE;
        line = findLine(call->line);
    } else if (dwSelect == LINECALLSELECT_LINE || dwSelect == LINECALLSELECT_ADDRESS) {
        line = findLine(hLine);
        if (!line) return LINEERR_INVALLINEHANDLE;
        if (dwSelect == LINECALLSELECT_ADDRESS && dwAddressID != 0) return LINEERR_INVALADDRESSID;
        call = findCall(line->call);
    } else {
        return LINEERR_INVALCALLSELECT;
    }
    if (!line) return LINEERR_INVALCALLHANDLE;
    bool comm = std::strcmp(lpszDeviceClass, "comm/datamodem") == 0;
    if (!comm && std::strcmp(lpszDeviceClass, "line/datamodem") != 0)
        return LINEERR_INVALDEVICECLASS;
    if (comm && (!call || call->state != LINECALLSTATE_CONNECTED || line->fd < 0))
        return LINEERR_INVALCALLSTATE;
    DWORD total = lpDeviceID->dwTotalSize;
    if (total < sizeof(VARSTRING)) return LINEERR_STRUCTURETOOSMALL;
    // Both classes: a 32-bit value (descriptor, or device id), then the line's name.
    const std::string& name = line->device.name;
    DWORD size = static_cast<DWORD>(4 + name.size() + 1);
    *lpDeviceID = VARSTRING{};
    lpDeviceID->dwTotalSize = total;
    lpDeviceID->dwNeededSize = sizeof(VARSTRING) + size;
    lpDeviceID->dwUsedSize = sizeof(VARSTRING);
    lpDeviceID->dwStringFormat = STRINGFORMAT_BINARY;
    if (lpDeviceID->dwNeededSize > total) return 0; // the caller learns the size it needs
    DWORD value = line->deviceId;
    if (comm) {
        int dup = fcntl(line->fd, F_DUPFD_CLOEXEC, 3);
        if (dup < 0) return LINEERR_RESOURCEUNAVAIL;
        value = static_cast<DWORD>(dup);
    }
    auto* text = reinterpret_cast<uint8_t*>(lpDeviceID) + sizeof(VARSTRING);
    std::memcpy(text, &value, 4);
    std::memcpy(text + 4, name.c_str(), name.size() + 1);
    lpDeviceID->dwStringSize = size;
    lpDeviceID->dwStringOffset = sizeof(VARSTRING);
    lpDeviceID->dwUsedSize = lpDeviceID->dwNeededSize;
    return 0;
}

LONG lineGetCallInfo(HCALL hCall, LPLINECALLINFO info) {
    std::lock_guard<std::recursive_mutex> lock(gLock);
    Call* call = findCall(hCall);
    if (!call) return LINEERR_INVALCALLHANDLE;
    if (!info) return LINEERR_INVALPOINTER;
    DWORD total = info->dwTotalSize;
    if (total < sizeof(LINECALLINFO)) return LINEERR_STRUCTURETOOSMALL;
    *info = LINECALLINFO{};
    info->dwTotalSize = total;
    info->hLine = call->line;
    info->dwLineDeviceID = call->deviceId;
    info->dwBearerMode = LINEBEARERMODE_VOICE;
    info->dwRate = call->rate;
    info->dwMediaMode = LINEMEDIAMODE_DATAMODEM;
    info->dwCallID = call->handle;
    info->dwCallStates = LINECALLSTATE_IDLE | LINECALLSTATE_OFFERING | LINECALLSTATE_ACCEPTED |
                         LINECALLSTATE_CONNECTED | LINECALLSTATE_DISCONNECTED;
    info->dwOrigin = LINECALLORIGIN_INBOUND;
    info->dwReason = LINECALLREASON_DIRECT;
    info->dwNumOwners = 1;
    info->dwCallerIDFlags = call->callerId.partyIdFlags();
    info->dwCalledIDFlags = info->dwConnectedIDFlags = LINECALLPARTYID_UNKNOWN;
    info->dwRedirectionIDFlags = info->dwRedirectingIDFlags = LINECALLPARTYID_UNKNOWN;
    const CallerId& id = call->callerId;
    DWORD needed = sizeof(LINECALLINFO);
    if (info->dwCallerIDFlags & LINECALLPARTYID_ADDRESS) needed += id.number.size() + 1;
    if (info->dwCallerIDFlags & LINECALLPARTYID_NAME) needed += id.name.size() + 1;
    info->dwNeededSize = needed;
    info->dwUsedSize = sizeof(LINECALLINFO);
    if (needed <= total) { // all variable parts or none
        auto* base = reinterpret_cast<uint8_t*>(info);
        DWORD ignored = 0;
        if (info->dwCallerIDFlags & LINECALLPARTYID_ADDRESS)
            appendText(base, total, info->dwUsedSize, ignored, id.number, info->dwCallerIDSize,
                       info->dwCallerIDOffset);
        if (info->dwCallerIDFlags & LINECALLPARTYID_NAME)
            appendText(base, total, info->dwUsedSize, ignored, id.name, info->dwCallerIDNameSize,
                       info->dwCallerIDNameOffset);
    }
    return 0;
}

LONG lineAccept(HCALL hCall, LPCSTR, DWORD) {
    std::lock_guard<std::recursive_mutex> lock(gLock);
    Call* call = findCall(hCall);
    if (!call) return LINEERR_INVALCALLHANDLE;
    if (call->state != LINECALLSTATE_OFFERING) return LINEERR_INVALCALLSTATE;
    LONG request = newRequestId();
    postReply(call->line, request, 0);
    postCallState(*call, LINECALLSTATE_ACCEPTED, 0);
    return request;
}

LONG lineAnswer(HCALL hCall, LPCSTR, DWORD) {
    std::lock_guard<std::recursive_mutex> lock(gLock);
    Call* call = findCall(hCall);
    if (!call) return LINEERR_INVALCALLHANDLE;
    if ((call->state != LINECALLSTATE_OFFERING && call->state != LINECALLSTATE_ACCEPTED) ||
        call->answerRequested)
        return LINEERR_INVALCALLSTATE;
    Line* line = findLine(call->line);
    if (!line) return LINEERR_INVALCALLHANDLE;
    LONG request = newRequestId();
    call->answerRequested = true;
    line->commands.push_back({CommandKind::Answer, hCall, request});
    line->watcher->wake();
    return request;
}

LONG lineDrop(HCALL hCall, LPCSTR, DWORD) {
    std::lock_guard<std::recursive_mutex> lock(gLock);
    Call* call = findCall(hCall);
    if (!call) return LINEERR_INVALCALLHANDLE;
    if (call->state == LINECALLSTATE_IDLE) return LINEERR_INVALCALLSTATE;
    Line* line = findLine(call->line);
    if (!line) return LINEERR_INVALCALLHANDLE;
    LONG request = newRequestId();
    bool modemBusy = call->state == LINECALLSTATE_CONNECTED ||
                     (call->answerRequested && call->state != LINECALLSTATE_DISCONNECTED);
    if (modemBusy) {
        line->commands.push_back({CommandKind::Drop, hCall, request});
        line->watcher->wake();
    } else { // still ringing, or already disconnected: nothing to tell the modem
        postReply(line->handle, request, 0);
        postCallState(*call, LINECALLSTATE_IDLE, 0);
    }
    return request;
}

LONG lineDeallocateCall(HCALL hCall) {
    std::lock_guard<std::recursive_mutex> lock(gLock);
    Call* call = findCall(hCall);
    if (!call) return LINEERR_INVALCALLHANDLE;
    if (call->state != LINECALLSTATE_IDLE) return LINEERR_INVALCALLSTATE;
    if (Line* line = findLine(call->line)) std::erase(line->oldCalls, hCall);
    eraseCall(hCall);
    return 0;
}

LONG lineClose(HLINE hLine) {
    std::unique_ptr<Line> line;
    {
        std::lock_guard<std::recursive_mutex> lock(gLock);
        line = detachLine(hLine);
        if (!line) return LINEERR_INVALLINEHANDLE;
    }
    closeLineNow(std::move(line));
    return 0;
}

LONG lineShutdown(HLINEAPP hLineApp) {
    std::vector<std::unique_ptr<Line>> closing;
    {
        std::lock_guard<std::recursive_mutex> lock(gLock);
        if (!findApp(hLineApp)) return LINEERR_INVALAPPHANDLE;
        std::vector<HLINE> handles;
        for (const auto& [handle, line] : tables().lines)
            if (line->app == hLineApp) handles.push_back(handle);
        for (HLINE h : handles)
            closing.push_back(detachLine(h));
        tables().apps.erase(hLineApp);
    }
    for (auto& line : closing)
        closeLineNow(std::move(line));
    return 0;
}

} // extern "C"
