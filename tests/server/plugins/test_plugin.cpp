// One source for the test plug-ins; the variant macros choose how each one misbehaves.
#define OVBBS_PLUGIN
#include "test_plugin_state.h"

#include <cstring>

#define WM_COMMAND_MESSAGE 0x0111u

namespace {

TestPluginState state;

int nextOrder() {
    return state.sequence ? __atomic_add_fetch(state.sequence, 1, __ATOMIC_SEQ_CST) : 0;
}

void resetState() {
    state = TestPluginState{};
    state.commandIdsToTake = 2;
    state.registerResult = TRUE;
    state.unregisterResult = TRUE;
    state.shutdownResult = TRUE;
    state.sessionCapable = 1;
    std::strcpy(state.name, OVTEST_NAME);
}

struct Init {
    Init() { resetState(); }
} init;

// Default dialogue: announce the arguments; "wait" holds the caller until one byte arrives,
// "end" asks to end the session.
BOOL defaultSession(void* session, DWORD* endSession) {
    char args[64];
    const char* prefix = "recorder:";
    if (!state.services.getValue(session, BBS_VALUE_EXTENSION_ARGS, args)) return FALSE;
    BOOL ok = state.services.write(session, prefix, (DWORD)std::strlen(prefix)) &&
              state.services.write(session, args, (DWORD)std::strlen(args)) &&
              state.services.write(session, "\r\n", 2);
    if (ok && std::strcmp(args, "wait") == 0) {
        char b;
        ok = state.services.read(session, &b, 1);
    }
    *endSession = !ok || std::strcmp(args, "end") == 0;
    return ok;
}

} // namespace

extern "C" BBS_EXPORT TestPluginState* ovtestState(void) {
    return &state;
}

extern "C" BBS_EXPORT void ovtestReset(void) {
    resetState();
}

BOOL BBSRegister(HWND, char* name, DWORD* sessionCapable) {
    ++state.registerCalls;
    std::strcpy(name, state.name);
    *sessionCapable = state.sessionCapable;
    return state.registerResult;
}

BOOL BBSUnregister(HWND) {
    ++state.unregisterCalls;
    return state.unregisterResult;
}

BOOL BBSStartup(HWND, HMENU menu, BOOL modemsActive, BOOL telnetActive, UINT* nextMenuCommandId,
                const HostServices* services) {
    ++state.startupCalls;
    if ((services->version >> 16) != 1) return FALSE;
    state.services = *services;
    state.menu = menu;
    state.modemsActive = modemsActive;
    state.telnetActive = telnetActive;
#ifdef OVTEST_FAIL_STARTUP
    (void)nextMenuCommandId;
    return FALSE;
#else
    state.firstCommandId = *nextMenuCommandId;
    *nextMenuCommandId += state.commandIdsToTake;
    return TRUE;
#endif
}

BOOL BBSShutdown(HWND) {
    __atomic_add_fetch(&state.shutdownCalls, 1, __ATOMIC_SEQ_CST);
    state.insideAtShutdown = __atomic_load_n(&state.sessionsInside, __ATOMIC_SEQ_CST);
    state.lastShutdownOrder = nextOrder();
    return state.shutdownResult;
}

BOOL BBSWndProc(HWND, UINT message, WPARAM wParam, LPARAM) {
    ++state.wndProcCalls;
    state.lastWndProcOrder = nextOrder();
    state.lastMessage = message;
    state.lastWParam = wParam;
    if (message != WM_COMMAND_MESSAGE) return FALSE;
    UINT id = LOWORD(wParam);
#ifdef OVTEST_STEALER
    return id >= 41000; // every plug-in command, also those of others
#else
    return id >= state.firstCommandId && id < state.firstCommandId + state.commandIdsToTake;
#endif
}

BOOL BBSSession(void* session, DWORD areaId, DWORD userId, DWORD* endSession) {
    __atomic_add_fetch(&state.sessionCalls, 1, __ATOMIC_SEQ_CST);
    __atomic_add_fetch(&state.sessionsInside, 1, __ATOMIC_SEQ_CST);
    state.lastAreaId = areaId;
    state.lastUserId = userId;
    BOOL r = state.onSession ? state.onSession(&state.services, session, endSession)
                             : defaultSession(session, endSession);
    __atomic_store_n(&state.lastSessionEndOrder, nextOrder(), __ATOMIC_SEQ_CST);
    __atomic_sub_fetch(&state.sessionsInside, 1, __ATOMIC_SEQ_CST);
    return r;
}

#ifndef OVTEST_NO_CONFIGURE
BOOL BBSConfigure(HWND) {
    ++state.configureCalls;
    return TRUE;
}
#endif
