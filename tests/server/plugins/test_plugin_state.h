// What the test plug-ins record and how a test steers them. Each test plug-in exports
// ovtestState(); a test reaches it by opening the same library itself.
#pragma once

#include "ovbbs.h"

struct TestPluginState {
    int registerCalls;
    int unregisterCalls;
    int startupCalls;
    int shutdownCalls;
    int wndProcCalls;
    int sessionCalls;
    int configureCalls;
    int sessionsInside;   // callers currently inside BBSSession
    int insideAtShutdown; // sessionsInside when BBSShutdown last ran
    int* sequence;        // shared counter set by the test, to order events across libraries
    int lastWndProcOrder; // sequence value at the last BBSWndProc call
    int lastSessionEndOrder;
    int lastShutdownOrder;
    UINT firstCommandId;   // the first id taken at the last start-up
    UINT commandIdsToTake; // how many ids start-up takes
    BOOL modemsActive;
    BOOL telnetActive;
    HMENU menu;
    HostServices services; // the copy kept since start-up
    BOOL registerResult;
    BOOL unregisterResult;
    BOOL shutdownResult;
    DWORD sessionCapable;
    char name[256];
    UINT lastMessage;
    WPARAM lastWParam;
    DWORD lastAreaId;
    DWORD lastUserId;
    // Replaces the default dialogue when set.
    BOOL (*onSession)(const HostServices* services, void* session, DWORD* endSession);
};

// Fields that session threads change are read through this while they run.
inline int atomicRead(const int& field) {
    return __atomic_load_n(&field, __ATOMIC_SEQ_CST);
}

typedef TestPluginState* (*OvtestStateProc)(void);
typedef void (*OvtestResetProc)(void);
