/* A minimal plug-in: greets the caller by login name, waits for one key and echoes it.
 * Build it like any plug-in (see sdk/README.md); install it from the sysop's main window. */
#define OVBBS_PLUGIN
#include "ovbbs.h"
#include "ovplugin.h"
#include "ovui.h"

#include <pthread.h>
#include <stdio.h>
#include <string.h>

/* The services lent at start-up. BBSStartup may run again (the same library installed twice)
 * while callers are inside BBSSession, so the copy is guarded. */
static pthread_mutex_t hostLock = PTHREAD_MUTEX_INITIALIZER;
static HostServices host;

BOOL BBSRegister(HWND mainWindow, char* name, DWORD* sessionCapable) {
    (void)mainWindow;
    strcpy(name, "Hello example");
    *sessionCapable = 1;
    return 1;
}

BOOL BBSUnregister(HWND mainWindow) {
    (void)mainWindow;
    return 1;
}

BOOL BBSStartup(HWND mainWindow, HMENU mainMenu, BOOL modemsActive, BOOL telnetActive,
                UINT* nextMenuCommandId, const HostServices* services) {
    (void)mainWindow, (void)mainMenu, (void)modemsActive, (void)telnetActive;
    (void)nextMenuCommandId;
    if (!services || (services->version >> 16) != 1) return 0;
    pthread_mutex_lock(&hostLock);
    host = *services;
    pthread_mutex_unlock(&hostLock);
    return 1;
}

BOOL BBSShutdown(HWND mainWindow) {
    (void)mainWindow;
    return 1;
}

BOOL BBSWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    (void)window, (void)message, (void)wParam, (void)lParam;
    return 0; /* no menu commands of our own */
}

/* Runs on the caller's thread; everything it needs lives on the stack. */
BOOL BBSSession(void* session, DWORD areaId, DWORD userId, DWORD* endSession) {
    (void)areaId, (void)userId;
    HostServices services;
    pthread_mutex_lock(&hostLock);
    services = host;
    pthread_mutex_unlock(&hostLock);

    char name[32] = "caller";
    char text[96];
    unsigned char key = 0;
    BOOL ok = services.getValue != NULL;
    if (ok && !services.getValue(session, BBS_VALUE_LOGIN_NAME, name)) strcpy(name, "caller");
    if (ok) {
        snprintf(text, sizeof text, "\r\nHello, %s! Press a key.  ", name);
        ok = ovCallerWriteText(&services, session, text);
    }
    if (ok) ok = ovCallerRead(&services, session, &key, 1);
    if (ok) {
        if (key >= 0x20 && key < 0x7F)
            snprintf(text, sizeof text, "You pressed %c.\r\n", key);
        else
            snprintf(text, sizeof text, "You pressed code %u.\r\n", key);
        ok = ovCallerWriteText(&services, session, text);
    }
    /* A failed read or write means the caller is gone: ask the host to end the session. */
    *endSession = ok ? 0 : 1;
    return ok;
}

BOOL BBSConfigure(HWND mainWindow) {
    ovMessageBox(mainWindow, "The hello example has nothing to configure.", "Hello example",
                 MB_OK | MB_ICONINFORMATION);
    return 1;
}
