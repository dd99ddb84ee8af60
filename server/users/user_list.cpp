#include "server/users/user_list.h"

#include <mutex>

namespace {

std::mutex sinkLock;
UserListSink currentSink{nullptr, nullptr};

UserListSink snapshot() {
    std::lock_guard<std::mutex> hold(sinkLock);
    return currentSink;
}

} // namespace

void setUserListSink(const UserListSink* sink) {
    std::lock_guard<std::mutex> hold(sinkLock);
    currentSink = sink ? *sink : UserListSink{nullptr, nullptr};
}

// The sink is called outside our lock: it may post to the user-interface thread or call back.
void listAddUser(const char* name, uint32_t id) {
    UserListSink sink = snapshot();
    if (sink.add && name) sink.add(name, id);
}

void listRemoveUser(const char* name) {
    UserListSink sink = snapshot();
    if (sink.remove && name) sink.remove(name);
}
