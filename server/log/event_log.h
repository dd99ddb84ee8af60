// The event log "bbslog.txt": connects, logins, failed logins, refusals and disconnects, each
// entry stamped with the local time and ended by one 0x1A. Written only while the preference
// paranoidLogging is on; the file is opened and closed for every entry. Never reports failure.
#pragma once

#include <cstdint>

class Connection;

enum class DisconnectReason : uint32_t { TimedOut = 0, LoggedOff = 1, ClosedWithoutLogoff = 2 };

const char* disconnectReasonText(DisconnectReason reason);

constexpr const char* EventLogFileName = "bbslog.txt";

void logConnect(Connection& c);
void logDisconnect(Connection& c, DisconnectReason reason);
void logLoginFailure(Connection& c, const char* attempted);
void logLogin(Connection& c, const char* name);
void logTooManyUsers();
// Appends one entry with `text` (which should end with CR LF) over the file's final 0x1A.
void logEvent(char* text);
// In place: every byte but printable ASCII, CR and LF becomes '*'.
void sanitizeLogText(char* text);
