#include "server/sessions/session_list.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <new>
#include <thread>

#include "server/base/time_text.h"
#include "server/connections/connection.h"
#include "server/log/event_log.h"
#include "server/preferences/preferences.h"

namespace {

std::recursive_mutex listLock;
SessionRecord* head = nullptr;

std::recursive_mutex admissionLock;
uint32_t activeUsers = 0;
std::atomic<LoadObserver> loadObserver{nullptr};

constexpr auto RefusalPause = std::chrono::milliseconds(1000);

void unlink(SessionRecord* r) {
    if (r->prev)
        r->prev->next = r->next;
    else
        head = r->next;
    if (r->next) r->next->prev = r->prev;
    delete r;
}

// Called with the admission lock held.
void showLoad(uint32_t active, uint32_t maxUsers) {
    if (LoadObserver observer = loadObserver.load()) observer(active, maxUsers);
}

} // namespace

void setLoadObserver(LoadObserver observer) {
    loadObserver = observer;
}

std::recursive_mutex& sessionListLock() {
    return listLock;
}

SessionRecord* sessionListHead() {
    return head;
}

void resetSessionList() {
    std::lock_guard lock(listLock);
    while (head)
        unlink(head);
}

void addSession(Connection& c) {
    auto* r = new (std::nothrow) SessionRecord{};
    if (!r) return; // the caller is served, just not listed
    r->connection = &c;
    c.description(r->description);
    r->description[sizeof r->description - 1] = 0;
    formatTime(r->onlineSince, nowAsFileTime());
    std::lock_guard lock(listLock);
    r->next = head;
    if (head) head->prev = r;
    head = r;
}

SessionRecord* findSession(Connection& c) {
    for (SessionRecord* r = head; r; r = r->next)
        if (r->connection == &c) return r;
    return nullptr;
}

void removeSession(Connection& c) {
    std::lock_guard lock(listLock);
    if (SessionRecord* r = findSession(c)) unlink(r);
}

void setSessionLogin(Connection& c, const char* name) {
    std::lock_guard lock(listLock);
    if (SessionRecord* r = findSession(c)) {
        std::strncpy(r->login, name ? name : "", sizeof r->login - 1);
        r->login[sizeof r->login - 1] = 0;
    }
}

void disconnectAll() {
    std::lock_guard lock(listLock);
    while (head) {
        if (head->connection) head->connection->disconnect();
        unlink(head);
    }
}

bool disconnectSession(uint32_t connectionId) {
    std::lock_guard lock(listLock);
    for (SessionRecord* r = head; r; r = r->next) {
        if (r->connection && r->connection->id() == connectionId) {
            r->connection->disconnect();
            unlink(r);
            return true;
        }
    }
    return false;
}

std::vector<SessionInfo> snapshotSessions() {
    std::vector<SessionInfo> rows;
    std::lock_guard lock(listLock);
    for (SessionRecord* r = head; r; r = r->next) {
        SessionInfo info{};
        info.connectionId = r->connection ? r->connection->id() : 0xFFFFFFFFu;
        std::memcpy(info.login, r->login, sizeof info.login);
        std::memcpy(info.onlineSince, r->onlineSince, sizeof info.onlineSince);
        std::memcpy(info.description, r->description, sizeof info.description);
        rows.push_back(info);
    }
    return rows;
}

bool admitCaller(Connection& c) {
    uint32_t maxUsers = getMaxUsers();
    {
        std::lock_guard lock(admissionLock);
        if (activeUsers < maxUsers) {
            ++activeUsers;
            showLoad(activeUsers, maxUsers);
            return true;
        }
    }
    char text[PrefTextSize];
    getPrefText(PrefText::TooManyUsers, text);
    (void)(c.writeString(text) && c.writeString("\r\n"));
    logTooManyUsers();
    // Gives the refusal time to reach the caller before the line is closed.
    std::this_thread::sleep_for(RefusalPause);
    return false;
}

void countOutCaller() {
    uint32_t maxUsers = getMaxUsers();
    std::lock_guard lock(admissionLock);
    if (activeUsers > 0) --activeUsers;
    showLoad(activeUsers, maxUsers);
}

uint32_t activeUserCount() {
    std::lock_guard lock(admissionLock);
    return activeUsers;
}

namespace {
std::mutex boardLock;
std::condition_variable boardChanged;
bool boardOpen = true;
bool boardShut = false;

void setBoard(bool open, bool shut) {
    {
        std::lock_guard lock(boardLock);
        boardOpen = open;
        boardShut = shut;
    }
    boardChanged.notify_all();
}
} // namespace

void closeBoardToCallers() {
    setBoard(false, false);
}

void openBoardToCallers() {
    setBoard(true, false);
}

void shutBoardToCallers() {
    setBoard(true, true);
}

bool waitForBoardOpen() {
    std::unique_lock lock(boardLock);
    boardChanged.wait(lock, [] { return boardOpen; });
    return !boardShut;
}
