// Real Telnet callers for the session tests: a loopback listener whose accepted sockets go to
// real session threads (with the stand-in after login) and the texts callers see.
#pragma once

#include <string>
#include <vector>

#include "server/preferences/preferences.h"
#include "server/sessions/session_list.h"
#include "server/sessions/session_threads.h"
#include "server/users/user_db.h"
#include "support/server_fixture.h"
#include "support/test_support.h"

namespace sesstest {

inline const std::string Negotiation = "\xff\xfb\x03\xff\xfd\x03\xff\xfb\x01";
inline const std::string Banner = "Ossivane BBS\r\nVersion 1.00b1, build 311 (14 Apr 99)\r\n\r\n";
inline const std::string HowTo = "Login as \"new\" to create a new account.\r\n\r\n";
inline const std::string LoginPrompt = "Login:  ";
inline const std::string PasswordPrompt = "Password:  ";
inline const std::string Failure = "Login incorrect\r\n\r\n";
inline const std::string HandlePrompt = "Enter the \"handle\" (login name) that you wish to use:  ";
inline const std::string NameInUse =
    "That name is too short or is already in use.  Please try again.\r\n";
inline const std::string NewPasswordPrompt =
    "Enter a new password (it will not be shown on screen):  ";
inline const std::string RepeatPrompt = "Type the password again to verify:  ";
inline const std::string RealNamePrompt = "Please enter your real name:  ";
inline const std::string AnsiPrompt = "Use ANSI escape codes and extended DOS characters (Y/N)?  ";
inline const std::string TooMany =
    "The server's connection limit has been reached.  Please try again later.\r\n";

using ovtest::areasMarker;
using ovtest::logEvents;
using ovtest::makeAccount;
using ovtest::SessionServer;
using SessionTest = ovtest::ServerFixture;

} // namespace sesstest
