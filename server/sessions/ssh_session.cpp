#include "server/sessions/ssh_session.h"

#include <atomic>
#include <cstdio>

#include "server/base/caller_threads.h"
#include "server/log/event_log.h"
#include "server/sessions/session.h"
#include "server/sessions/session_list.h"

namespace {

std::atomic<uint32_t> running{0};

void sshSessionThread(SshCaller caller) {
    SshConnection connection(caller.socketFd, caller.session);
    const bool ready = connection.handshake(checkSshLogin, caller.deadline);
    endSshHandshake(caller.socketFd);
    if (!ready || !waitForBoardOpen()) return;
    // The account's own choice, when it has one, follows at the first screen.
    if (connection.localeIsUtf8()) connection.setCharset(Connection::Charset::Utf8);
    SessionStart start;
    start.authenticatedLogin = connection.loginName();
    start.newAccount = connection.wantsNewAccount();
    runSession(connection, start);
}

} // namespace

SshLoginVerdict checkSshLogin(Connection& c, const char* name, const char* password) {
    if (!name) return SshLoginVerdict::Refused;
    if (opensNewAccount(name)) return SshLoginVerdict::NewAccount;
    if (!password) return SshLoginVerdict::Refused;
    if (passwordLetsIn(name, password)) return SshLoginVerdict::Accepted;
    // As the login prompt logs it: the name as typed, cut to its first 31 characters.
    char typed[32];
    std::snprintf(typed, sizeof typed, "%s", name);
    logLoginFailure(c, typed);
    return SshLoginVerdict::Refused;
}

void startSshSession(SshCaller caller) {
    running.fetch_add(1);
    if (!startCallerThread([caller] {
            sshSessionThread(caller);
            running.fetch_sub(1);
        })) {
        running.fetch_sub(1);
        discardSshCaller(caller);
    }
}

uint32_t runningSshSessionThreads() {
    return running.load();
}
