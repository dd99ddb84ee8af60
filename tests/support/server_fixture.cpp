#include "support/server_fixture.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "server/connections/connection.h"
#include "server/preferences/preferences.h"
#include "server/sessions/session_list.h"
#include "server/sessions/session_threads.h"
#include "server/users/user_db.h"

namespace ovtest {

void ServerFixture::SetUp() {
    (void)loadPreferences();
    resetSessionList();
}

SessionServer::SessionServer(SessionStart start) {
    fd_ = listenOnFreePort(port);
    acceptor_ = std::thread([this, start] {
        for (;;) {
            int s = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (s >= 0)
                startTelnetSession(s, start);
            else if (errno != EINTR && errno != ECONNABORTED)
                return;
        }
    });
}

SessionServer::~SessionServer() {
    ::shutdown(fd_, SHUT_RDWR); // wakes the accept
    acceptor_.join();
    ::close(fd_);
    disconnectAll();
    EXPECT_TRUE(waitUntil([] { return runningSessionThreads() == 0; }));
}

LoopbackClient SessionServer::call() {
    LoopbackClient c;
    EXPECT_TRUE(c.connectTo(port));
    return c;
}

DisconnectReason standInAreas(Connection& c, const char* loginName) {
    if (c.writeString(areasMarker(loginName).c_str())) {
        char k;
        while (c.readKey(&k))
            if (k == 'Q') return DisconnectReason::LoggedOff;
    }
    return c.timedOut() ? DisconnectReason::TimedOut : DisconnectReason::ClosedWithoutLogoff;
}

void standInCallSession(int commHandle) {
    modemSessionThread(commHandle, standInStart());
}

void makeAccount(const char* name, const char* password) {
    UserRecord rec;
    ASSERT_TRUE(addUser(rec, name));
    std::snprintf(rec.password, sizeof rec.password, "%s", password);
    ASSERT_TRUE(updateUser(rec));
}

std::vector<std::string> logEvents() {
    std::vector<std::string> events;
    if (!fileExists("bbslog.txt")) return events;
    std::string log = readFile("bbslog.txt");
    size_t at = 0;
    while ((at = log.find("]===\r\n", at)) != std::string::npos) {
        at += 6;
        size_t eol = log.find("\r\n", at);
        std::string name = log.substr(at, eol - at);
        if (name == "DISCONNECT") {
            size_t r = log.find("Reason:  ", eol);
            size_t e = log.find("\r\n", r);
            name += ": " + log.substr(r + 9, e - r - 9);
        }
        events.push_back(name);
    }
    return events;
}

} // namespace ovtest
