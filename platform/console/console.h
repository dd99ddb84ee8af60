// The sysop console: an HTTP server inside ovhost that shows the UI runtime's windows in a web
// browser and feeds the sysop's clicks and keys back to the runtime as input.
//
// startConsole listens on OVHOST_CONSOLE (host:port, default 127.0.0.1:8023), takes the access
// token from console.token in the working directory (made at the first start, so an open page
// outlives a restart) and prints "Console: <address>" on standard output. When it cannot listen
// it says so on standard error and returns false; the server runs on without a console.
//
// The token travels in clear HTTP, so an address other than loopback is refused unless
// OVHOST_CONSOLE_ALLOW_REMOTE=1 says the sysop means it.
#pragma once

#include <string>

constexpr const char* ConsoleTokenFile = "console.token";

// False, with the reason on standard error, when OVHOST_CONSOLE names an address other than
// loopback and OVHOST_CONSOLE_ALLOW_REMOTE is not "1"; ovhost then refuses to start.
[[nodiscard]] bool consoleSettingAccepted();
[[nodiscard]] bool startConsole();
void stopConsole();
// The address with its token ("http://127.0.0.1:8023/?token=..."); empty while not running.
std::string consoleAddress();
