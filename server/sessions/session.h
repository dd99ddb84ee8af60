// What one caller lives through on its session thread: arrival, banner, the user limit, the
// login dialogue and then area navigation. Texts before the login are always plain.
#pragma once

class Connection;

constexpr const char* ProductName = "Ossivane BBS";
constexpr const char* VersionText = "Version 1.00b1, build 311 (14 Apr 99)";

// The whole stay of one caller; never closes the connection itself.
void runSession(Connection& c);
// True: logged in as loginName (256 bytes). False: gave up, DISCONNECT already logged.
[[nodiscard]] bool performLogin(Connection& c, char loginName[256]);
// The product name and version on two lines, then a blank line.
[[nodiscard]] bool writeBanner(Connection& c);
