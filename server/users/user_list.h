// The calls by which the user database keeps the sysop's user list in step with the file. The
// user editor registers a sink; without one the calls do nothing. Safe from any thread.
#pragma once

#include <cstdint>

#include "server/base/list_sink.h"

// Copies the sink; nullptr unregisters. A call already under way may still reach the old sink.
void setUserListSink(const ListSink* sink);

void listAddUser(const char* name, uint32_t id);
void listRemoveUser(const char* name);
