// The modem module's shared state, for its own source files only. Guarded by modemLineLock().
#pragma once

#include "server/modems/modems.h"

namespace modems {

inline ModemLine lines[MaxModemLines];
inline HLINEAPP lineApp = 0;
inline bool telephonyInitialized = false;
inline bool accepting = false;
inline CallSession callSession = nullptr; // what connected calls are handed to
inline uint32_t openLineCount = 0;

// Telephony lets go of a comm descriptor taken from lineGetID (comm_holds.cpp); the session
// holding it, if any, is woken and closes it when it lets go too.
void takeComm(int fd);
void reserveCommForSession(int fd);
void releaseCommFromTelephony(int fd);
// Lets go of the line's comm handle and marks it invalid.
void closeLineComm(ModemLine& line);

} // namespace modems
