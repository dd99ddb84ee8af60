// Only one server runs per machine: the first claims the abstract Unix socket named by the main
// window's title; a later one asks it to show its main window and learns its console address.
#pragma once

#include <string>

// True when a running server answered; `consoleAddress` gets its console address (may be
// empty when it runs without a console).
[[nodiscard]] bool askRunningInstance(std::string& consoleAddress);
// Takes the name and answers later instances on a thread of its own: each request brings the
// main window to the front (on the UI thread) and is told consoleAddress(). False when the
// name is taken.
[[nodiscard]] bool claimSingleInstance();
void releaseSingleInstance();
