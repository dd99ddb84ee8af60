// The live callers, newest first, as the sysop sees them; and admission against maxUsers.
// The list and every record's fields are guarded by the session list lock. The admission count
// has a lock of its own, never held together with the list lock.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

class Connection;

struct SessionRecord {
    Connection* connection; // not owned: lives on the session thread's stack
    char login[256];        // empty until the caller has logged in
    char onlineSince[256];  // "hh:mm on dd Mon yyyy"
    char description[256];  // the connection's describe() text
    SessionRecord* prev;
    SessionRecord* next;
};

// A copy of one record, for windows that show the list. Rows are tied to callers by connectionId.
struct SessionInfo {
    uint32_t connectionId;
    char login[256];
    char onlineSince[256];
    char description[256];
};

std::recursive_mutex& sessionListLock();

void resetSessionList();
void addSession(Connection& c);
// The caller holds the lock.
SessionRecord* findSession(Connection& c);
SessionRecord* sessionListHead();
void removeSession(Connection& c);
void setSessionLogin(Connection& c, const char* name);
// Drops every caller and empties the list; the session threads end on their own.
void disconnectAll();
// Drops one caller and unlinks its record; false if it is no longer listed.
bool disconnectSession(uint32_t connectionId);
std::vector<SessionInfo> snapshotSessions();

// Calls f(SessionRecord&) for each record, newest first, under the lock.
template <class F> void forEachSession(F f) {
    std::lock_guard lock(sessionListLock());
    for (SessionRecord* r = sessionListHead(); r; r = r->next)
        f(*r);
}

// Told each change of the admitted count with the limit in force, under the admission lock (the
// sysop's tray shows it); nullptr: nobody is told.
using LoadObserver = void (*)(uint32_t activeUsers, uint32_t maxUsers);
void setLoadObserver(LoadObserver observer);

// Admission: true counts the caller in and tells the load observer; false means the caller was told
// tooManyUsersText and logged, and a second has passed for the text to reach them.
[[nodiscard]] bool admitCaller(Connection& c);
// Counts an admitted caller out and tells the load observer.
void countOutCaller();
uint32_t activeUserCount();

// The listeners that start before the main window (SSH, the caller page) hold their callers
// here until the plug-ins are loaded, so nobody meets areas whose extensions do nothing. Open
// unless closed: a server's start closes it, its main window opens it, and shutting it lets the
// waiting callers go without a session. waitForBoardOpen is false once it is shut.
void closeBoardToCallers();
void openBoardToCallers();
void shutBoardToCallers();
bool waitForBoardOpen();
