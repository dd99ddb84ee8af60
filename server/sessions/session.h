// What one caller lives through on its session thread: arrival, banner, the user limit, the
// login dialogue, the stage after login, and departure. Each stage says how it ended, and
// runSession logs the one DISCONNECT entry. Texts before the login are always plain.
#pragma once

#include <string>

#include "server/log/event_log.h"

class Connection;

// The stage after login: serves a logged-in caller until they leave and says how they left.
using AfterLogin = DisconnectReason (*)(Connection& c, const char* loginName);

struct SessionStart {
    AfterLogin afterLogin = nullptr; // null: the area tree (browseAreas)
    // Set when the connection has already authenticated the caller (an SSH key, a web
    // sign-in): the login dialogue is skipped and the caller enters the stage after login.
    std::string authenticatedLogin;
    // With authenticatedLogin, the connection let the caller in by the new-account name: the
    // new-account dialogue comes first and names the account.
    bool newAccount = false;
};

// The whole stay of one caller; never closes the connection itself.
void runSession(Connection& c, const SessionStart& start = {});
// True: logged in as loginName (256 bytes). False: the caller gave up, hung up or timed out.
[[nodiscard]] bool performLogin(Connection& c, char loginName[256]);
// The login dialogue's rules for a name and password that arrive together (SSH), each looked at
// up to 31 characters: the new-account name while new accounts are allowed, and an account that
// may be logged in to with that password.
[[nodiscard]] bool opensNewAccount(const char* name);
[[nodiscard]] bool passwordLetsIn(const char* name, const char* password);
// The product name and version on two lines, then a blank line.
[[nodiscard]] bool writeBanner(Connection& c);
