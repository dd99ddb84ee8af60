// The sysop console: an HTTP server inside ovhost that shows the UI runtime's windows in a web
// browser and feeds the sysop's clicks and keys back to the runtime as input.
//
// startConsole listens on OVHOST_CONSOLE (host:port, default 127.0.0.1:8023), makes a fresh
// access token and prints "Console: <address>" on standard output. When it cannot listen it says
// so on standard error and returns false; the server runs on without a console.
#pragma once

#include <string>

[[nodiscard]] bool startConsole();
void stopConsole();
// The address with its token ("http://127.0.0.1:8023/?token=..."); empty while not running.
std::string consoleAddress();
