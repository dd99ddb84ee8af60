#include "server/sessions/session.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "server/base/ascii.h"
#include "server/base/product.h"
#include "server/connections/connection.h"
#include "server/log/event_log.h"
#include "server/preferences/preferences.h"
#include "server/sessions/navigation.h"
#include "server/sessions/new_account.h"
#include "server/sessions/session_list.h"
#include "server/users/user_db.h"

namespace {

constexpr size_t NameLimit = 31; // login names and passwords are looked at up to here
constexpr auto UnrevealedBannerPause = std::chrono::milliseconds(2000);

bool writePrompt(Connection& c, const char* text) {
    return c.writeString(text) && c.writeString("  ");
}

bool passwordMatches(const char* typed, const UserRecord& rec) {
    return std::strncmp(typed, rec.password, sizeof rec.password) == 0;
}

// How a caller left who did not log off.
DisconnectReason leftWithoutLogoff(Connection& c) {
    return c.timedOut() ? DisconnectReason::TimedOut : DisconnectReason::ClosedWithoutLogoff;
}

// The caller on the other end: the account name typed at the login prompt or made anew, or
// the one the connection authenticated. False: the caller left on the way.
bool identify(Connection& c, const SessionStart& start, char loginName[LineBufferSize]) {
    if (start.authenticatedLogin.empty()) return performLogin(c, loginName);
    std::snprintf(loginName, LineBufferSize, "%s", start.authenticatedLogin.c_str());
    return !start.newAccount || createNewAccount(c, loginName);
}

// From login to departure; how the caller left.
DisconnectReason serveAdmitted(Connection& c, const SessionStart& start, bool unrevealing) {
    char loginName[LineBufferSize] = {};
    if (!identify(c, start, loginName)) return leftWithoutLogoff(c);
    if (unrevealing) {
        (void)(c.writeString("\r\n") && c.writeString("\r\n") && writeBanner(c) &&
               c.writeString("\r\n") && c.writeString("\r\n"));
        std::this_thread::sleep_for(UnrevealedBannerPause);
    }
    setSessionLogin(c, loginName);
    logLogin(c, loginName);
    return (start.afterLogin ? start.afterLogin : browseAreas)(c, loginName);
}

} // namespace

bool writeBanner(Connection& c) {
    return c.writeString(ProductName) && c.writeString("\r\n") && c.writeString(VersionText) &&
           c.writeString("\r\n") && c.writeString("\r\n");
}

bool opensNewAccount(const char* name) {
    char keyword[PrefTextSize];
    getPrefText(PrefText::NewAccountName, keyword);
    keyword[NameLimit] = 0;
    char typed[NameLimit + 1];
    std::snprintf(typed, sizeof typed, "%s", name);
    return getAllowNewAccounts() && equalsIgnoringAsciiCase(typed, keyword);
}

bool passwordLetsIn(const char* name, const char* password) {
    char typed[NameLimit + 1], given[NameLimit + 1];
    std::snprintf(typed, sizeof typed, "%s", name);
    std::snprintf(given, sizeof given, "%s", password);
    UserRecord rec;
    // An account still being created, or left half-made, has no password yet: nobody may
    // log in to it.
    return findUser(rec, typed) && !isUserReserved(rec.loginName) &&
           (rec.userFlags & AccountIncompleteFlag) == 0 && passwordMatches(given, rec);
}

bool performLogin(Connection& c, char loginName[256]) {
    char keyword[PrefTextSize];
    getPrefText(PrefText::NewAccountName, keyword);
    keyword[NameLimit] = 0;
    char text[PrefTextSize];
    if (getAllowNewAccounts()) {
        getPrefText(PrefText::HowToCreate, text);
        if (!(c.writeString(text) && c.writeString("\r\n") && c.writeString("\r\n"))) return false;
    }
    for (uint32_t attempts = 0;; ++attempts) {
        // Read at each attempt and compared unsigned: -1 in the file means no limit.
        if (attempts > static_cast<uint32_t>(getLoginRetries())) return false;
        c.setEcho(true);
        do {
            getPrefText(PrefText::LoginPrompt, text);
            if (!writePrompt(c, text) || !c.readLine(loginName)) return false;
        } while (loginName[0] == 0);
        loginName[NameLimit] = 0;
        if (getAllowNewAccounts() && equalsIgnoringAsciiCase(loginName, keyword)) {
            if (createNewAccount(c, loginName)) return true;
            return false;
        }
        c.setEcho(false);
        char password[LineBufferSize];
        getPrefText(PrefText::PasswordPrompt, text);
        if (!writePrompt(c, text) || !c.readLine(password) || !c.writeString("\r\n")) return false;
        password[NameLimit] = 0;
        if (passwordLetsIn(loginName, password)) return true;
        logLoginFailure(c, loginName);
        getPrefText(PrefText::LoginFailure, text);
        if (!(c.writeString(text) && c.writeString("\r\n") && c.writeString("\r\n"))) return false;
    }
}

void runSession(Connection& c, const SessionStart& start) {
    const bool unrevealing = getUnrevealingLogin();
    logConnect(c);
    addSession(c);
    const uint32_t idleMs = getIdleTimeoutMs();
    (void)c.setTimeouts(idleMs, idleMs);
    if (!unrevealing) (void)writeBanner(c);
    const bool admitted = admitCaller(c);
    DisconnectReason departure = DisconnectReason::ClosedWithoutLogoff; // refused: no seat
    if (admitted) departure = serveAdmitted(c, start, unrevealing);
    logDisconnect(c, departure);
    if (admitted) countOutCaller();
    removeSession(c);
}
