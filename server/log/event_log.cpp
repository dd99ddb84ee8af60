#include "server/log/event_log.h"

#include "server/base/file_helpers.h"
#include "server/base/group_commit.h"
#include "server/base/time_text.h"
#include "server/connections/connection.h"
#include "server/preferences/preferences.h"

#include <cstdio>
#include <cstring>
#include <mutex>
#include <unistd.h>

namespace {

constexpr size_t TextSize = 512;
constexpr size_t EntrySize = 1024;
constexpr char EndOfFile = 0x1A;

// The log lock: entries never interleave.
std::recursive_mutex logLock;
// Entries written while one sync runs share the next one.
SyncGroup logSync;

// Positions the file over its final 0x1A, or at its end when it has none; `overEnd` tells which.
bool positionForAppend(FileHandle f, uint64_t size, bool& overEnd) {
    overEnd = false;
    if (size == 0) return seekTo(f, 0);
    if (size > 0xFFFFFFFEu) return seekTo(f, 0xFFFFFFFFu);
    uint32_t last = static_cast<uint32_t>(size - 1);
    char c = 0;
    if (!seekTo(f, last) || !readExactly(f, &c, 1)) return false;
    overEnd = c == EndOfFile;
    return overEnd ? seekTo(f, last) : seekTo(f, 0xFFFFFFFFu);
}

void logFormatted(const char* format, const char* a, const char* b) {
    char text[TextSize];
    std::snprintf(text, sizeof text, format, a, b);
    sanitizeLogText(text);
    logEvent(text);
}

} // namespace

const char* disconnectReasonText(DisconnectReason reason) {
    switch (reason) {
    case DisconnectReason::TimedOut:
        return "Timed out";
    case DisconnectReason::LoggedOff:
        return "Logged off";
    case DisconnectReason::ClosedWithoutLogoff:
        return "Connection closed without logoff";
    }
    return "Connection closed without logoff";
}

void sanitizeLogText(char* text) {
    for (auto* p = reinterpret_cast<unsigned char*>(text); *p; ++p)
        if (!((*p >= 0x20 && *p <= 0x7E) || *p == '\r' || *p == '\n')) *p = '*';
}

void logEvent(char* text) {
    if (!getParanoidLogging()) return;
    FileHandle f = InvalidFile;
    SyncTicket ticket;
    bool wrote = false;
    {
        std::lock_guard g(logLock);
        f = openForGroupedUpdate(EventLogFileName);
        if (f == InvalidFile) return;
        CalendarTime now = splitFileTime(nowAsFileTime());
        char entry[EntrySize];
        int n = std::snprintf(entry, sizeof entry,
                              "===[%02u %s %04u at %02u:%02u:%02u]===\r\n%s\r\n%c", now.day,
                              monthAbbreviations[(now.month - 1) % 12], now.year, now.hour,
                              now.minute, now.second, text, EndOfFile);
        uint64_t before = 0;
        bool overEnd = false;
        if (n > 0 && fileSize(f, before) && positionForAppend(f, before, overEnd)) {
            // An over-long text is cut, but the entry still ends with the end-of-file byte.
            auto len = static_cast<uint32_t>(n < static_cast<int>(EntrySize) ? n : EntrySize - 1);
            entry[len - 1] = EndOfFile;
            // A full disk must not leave a torn entry in place of the final 0x1A; the 0x1A goes
            // back only where the entry began over one (a log edited by hand may not end in one).
            if (!writeExactly(f, entry, len) && ftruncate(f, static_cast<off_t>(before)) == 0 &&
                overEnd && seekTo(f, static_cast<uint32_t>(before - 1))) {
                const char end = EndOfFile;
                (void)writeExactly(f, &end, 1);
            }
            wrote = true;
            ticket = logSync.enter(f);
        }
        unlockFile(f);
    }
    // On disk before the caller goes on, as if written through; the next entry is written
    // meanwhile and shares the following sync.
    if (wrote) (void)logSync.commit(f, ticket);
    closeFile(f);
}

void logConnect(Connection& c) {
    char who[LineBufferSize];
    c.description(who);
    logFormatted("CONNECT\r\n   %s\r\n%s", who, "");
}

void logDisconnect(Connection& c, DisconnectReason reason) {
    char who[LineBufferSize];
    c.description(who);
    logFormatted("DISCONNECT\r\n   %s\r\n   Reason:  %s\r\n", who, disconnectReasonText(reason));
}

void logLoginFailure(Connection& c, const char* attempted) {
    char who[LineBufferSize];
    c.description(who);
    char name[32];
    std::snprintf(name, sizeof name, "%s", attempted ? attempted : "");
    logFormatted("LOGIN FAILURE\r\n   %s\r\n   Attempted login:  %s\r\n", who, name);
}

void logLogin(Connection& c, const char* name) {
    char who[LineBufferSize];
    c.description(who);
    logFormatted("SUCCESSFUL LOGIN\r\n   %s\r\n   Login name:  %s\r\n", who, name ? name : "");
}

void logTooManyUsers() {
    char text[TextSize];
    std::snprintf(text, sizeof text, "TOO MANY USERS\r\n   Current limit:  %u\r\n", getMaxUsers());
    sanitizeLogText(text);
    logEvent(text);
}
