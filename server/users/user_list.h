// The calls by which the user database keeps the sysop's user list in step with the file. The
// user editor registers a sink; without one the calls do nothing. Safe from any thread.
#pragma once

#include <cstdint>

struct UserListSink {
    void (*add)(const char* name, uint32_t id);
    void (*remove)(const char* name);
};

// Copies the sink; nullptr unregisters. A call already under way may still reach the old sink.
void setUserListSink(const UserListSink* sink);

void listAddUser(const char* name, uint32_t id);
void listRemoveUser(const char* name);
