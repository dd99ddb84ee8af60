// SSH callers from handshake to departure. Each accepted caller gets a thread of its own, which
// logs it in with the login dialogue's rules and then runs the session as for any caller, from
// the stage after the login: the area tree, or the new-account dialogue for the new-account name.
#pragma once

#include <cstdint>

#include "server/connections/ssh_connection.h"
#include "server/connections/ssh_listener.h"

// The handler for startSshListener: starts the caller's thread, or lets the caller go.
void startSshSession(SshCaller caller);
// The login dialogue's rules for a name and password that arrive together: the new-account name
// (while new accounts are allowed) with any password, or an account and its password. Each
// refused password is logged as LOGIN FAILURE.
SshLoginVerdict checkSshLogin(Connection& c, const char* name, const char* password);
// Threads started by startSshSession that have not finished yet.
uint32_t runningSshSessionThreads();
