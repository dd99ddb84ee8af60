// Only one server runs per machine: the first claims the abstract Unix socket named by the main
// window's title; a later one asks it to show its main window and learns its console address.
#pragma once

#include <string>

// The answer to a caller of another user: the server runs, its address is not for them.
constexpr const char* OtherUserAnswer = "running as another user";

// True when a running server answered; `consoleAddress` gets its console address (may be
// empty when it runs without a console). `otherUser` (if given) tells that the server runs as
// another user and therefore kept its address to itself.
[[nodiscard]] bool askRunningInstance(std::string& consoleAddress, bool* otherUser = nullptr);
// Takes the name and answers later instances on a thread of its own: a request from the same
// user (or root) brings the main window to the front (on the UI thread) and is told
// consoleAddress(); anyone else only learns OtherUserAnswer. False when the name is taken.
[[nodiscard]] bool claimSingleInstance();
void releaseSingleInstance();
