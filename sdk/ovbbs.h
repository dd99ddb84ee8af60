/* The plug-in contract of the Ossivane BBS server, interface version 0x10000.
 *
 * A plug-in is a shared library exporting the seven BBS* functions below by these exact names
 * (extern "C", default visibility). The server lends it a HostServices record at start-up;
 * the plug-in copies it and talks to callers only through those four services.
 * See sdk/README.md for the rules each entry point must follow. Usable from C and C++. */
#ifndef OVBBS_H
#define OVBBS_H

#include "ovtypes.h"

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

#define BBS_HOST_VERSION 0x10000u

/* Value codes for getValue and setValue. */
#define BBS_VALUE_TIMEOUT                                                                          \
    0u /* get: DWORD, 1 if the last failure was a time-out; set: both time-outs in ms */
#define BBS_VALUE_LOGIN_NAME 1u /* get: char[32]; set: refused */
#define BBS_VALUE_ANSI_TERMINAL                                                                    \
    2u /* get/set: DWORD, bit 0 of the account's flags; set saves the account */
#define BBS_VALUE_UPLOAD_KB 3u   /* get/set: DWORD; set saves the account */
#define BBS_VALUE_DOWNLOAD_KB 4u /* get/set: DWORD; set saves the account */
#define BBS_VALUE_ACCESS_LEVEL                                                                     \
    5u /* get/set: DWORD (low 16 bits); set only when the sysop allows it */
#define BBS_VALUE_EXTENSION_ARGS 6u /* get: char[64]; set: refused */
#define BBS_VALUE_UTF8_TERMINAL                                                                    \
    7u /* get/set: DWORD, 1 for a UTF-8 terminal (bit 1 of the account's flags); set saves */
#define BBS_VALUE_IDLE_TIMEOUT                                                                     \
    8u /* get: DWORD, ms a silent caller is let go after (0: never); set: refused */
#define BBS_VALUE_NODE 9u       /* get: DWORD, the caller's node (connection) number from 1 */
#define BBS_VALUE_REAL_NAME 10u /* get: char[256], the account's real name; set: refused */
#define BBS_VALUE_SERVICES_SIZE                                                                    \
    11u /* get with a null session: DWORD, bytes of the services record lent to BBSStartup */

typedef struct HostServices {
    DWORD version; /* BBS_HOST_VERSION */
    BOOL (*getValue)(void* session, DWORD code, void* out);
    BOOL (*setValue)(void* session, DWORD code, const DWORD* value);
    BOOL (*write)(void* session, const void* buffer, DWORD length); /* all bytes or failure */
    BOOL (*read)(void* session, void* buffer, DWORD length);        /* exactly length bytes */
} HostServices;

/* Waits up to waitMs for the caller's bytes, or until wakeDescriptor (-1: none) is readable,
 * then gives 1..capacity bytes that are already here without waiting further; *received is 0
 * when nothing came. 0 when the caller is gone (hung up, dropped). No echo. */
typedef BOOL (*BBSReadAvailableProc)(void* session, void* buffer, DWORD capacity, DWORD waitMs,
                                     int wakeDescriptor, DWORD* received);

/* What a newer host lends: HostServices, then additions at the end, never reordered. BBSStartup
 * still receives a HostServices*; an addition may be used only when
 * getValue(NULL, BBS_VALUE_SERVICES_SIZE, &size) succeeds (an older host refuses it) and
 * BBS_HOST_HAS(size, field) holds. Copy the record as a HostServicesEx only then. */
typedef struct HostServicesEx {
    HostServices base;
    BBSReadAvailableProc readAvailable;
} HostServicesEx;

#define BBS_HOST_HAS(size, field)                                                                  \
    ((size) >= offsetof(HostServicesEx, field) + sizeof(((HostServicesEx*)0)->field))

/* Entry point types, in the order the host binds them. */
typedef BOOL (*BBSRegisterProc)(HWND mainWindow, char* name, DWORD* sessionCapable);
typedef BOOL (*BBSUnregisterProc)(HWND mainWindow);
typedef BOOL (*BBSStartupProc)(HWND mainWindow, HMENU mainMenu, BOOL modemsActive,
                               BOOL telnetActive, UINT* nextMenuCommandId,
                               const HostServices* services);
typedef BOOL (*BBSShutdownProc)(HWND mainWindow);
typedef BOOL (*BBSWndProcProc)(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
typedef BOOL (*BBSSessionProc)(void* session, DWORD areaId, DWORD userId, DWORD* endSession);
typedef BOOL (*BBSConfigureProc)(HWND mainWindow);

#if defined(OVBBS_PLUGIN)
/* Defined by a plug-in that is being built: declares its exports. */
#define BBS_EXPORT __attribute__((visibility("default")))
BBS_EXPORT BOOL BBSRegister(HWND mainWindow, char* name, DWORD* sessionCapable);
BBS_EXPORT BOOL BBSUnregister(HWND mainWindow);
BBS_EXPORT BOOL BBSStartup(HWND mainWindow, HMENU mainMenu, BOOL modemsActive, BOOL telnetActive,
                           UINT* nextMenuCommandId, const HostServices* services);
BBS_EXPORT BOOL BBSShutdown(HWND mainWindow);
BBS_EXPORT BOOL BBSWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
BBS_EXPORT BOOL BBSSession(void* session, DWORD areaId, DWORD userId, DWORD* endSession);
BBS_EXPORT BOOL BBSConfigure(HWND mainWindow);
#endif

#ifdef __cplusplus
}

enum class SessionValue : DWORD {
    Timeout = BBS_VALUE_TIMEOUT,
    LoginName = BBS_VALUE_LOGIN_NAME,
    AnsiTerminal = BBS_VALUE_ANSI_TERMINAL,
    UploadKb = BBS_VALUE_UPLOAD_KB,
    DownloadKb = BBS_VALUE_DOWNLOAD_KB,
    AccessLevel = BBS_VALUE_ACCESS_LEVEL,
    ExtensionArgs = BBS_VALUE_EXTENSION_ARGS,
    Utf8Terminal = BBS_VALUE_UTF8_TERMINAL,
    IdleTimeout = BBS_VALUE_IDLE_TIMEOUT,
    Node = BBS_VALUE_NODE,
    RealName = BBS_VALUE_REAL_NAME,
    ServicesSize = BBS_VALUE_SERVICES_SIZE,
};
#endif

#endif
