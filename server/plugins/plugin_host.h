// Runs one area extension for one caller and lends plug-ins the four host services.
// The services take the opaque session handle that BBSSession received.
#pragma once

#include "ovbbs.h"

#include <cstdint>

class Connection;

// Calls the plug-in's BBSSession on this thread; false when the plug-in is not loaded or the
// caller's account cannot be found (then *endSession is untouched).
[[nodiscard]] bool runExtension(uint32_t pluginId, const char* loginName, Connection& c,
                                uint32_t areaId, bool* endSession, const char* args);

BOOL hostGetValue(void* session, DWORD code, void* out);
BOOL hostSetValue(void* session, DWORD code, const DWORD* value);
BOOL hostWrite(void* session, const void* buffer, DWORD length);
BOOL hostRead(void* session, void* buffer, DWORD length);
BOOL hostReadAvailable(void* session, void* buffer, DWORD capacity, DWORD waitMs,
                       int wakeDescriptor, DWORD* received);

// The services record handed to every BBSStartup: the four of version 0x10000 and, after
// them, the additions that getValue(BBS_VALUE_SERVICES_SIZE) announces.
HostServicesEx makeHostServices();
