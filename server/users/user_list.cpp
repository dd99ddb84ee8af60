#include "server/users/user_list.h"

#include <mutex>

namespace {

std::mutex sinkLock;
ListSink currentSink{nullptr, nullptr};

ListSink snapshot() {
    std::lock_guard<std::mutex> hold(sinkLock);
    return currentSink;
}

} // namespace

void setUserListSink(const ListSink* sink) {
    std::lock_guard<std::mutex> hold(sinkLock);
    currentSink = sink ? *sink : ListSink{nullptr, nullptr};
}

// The sink is called outside our lock: it may post to the user-interface thread or call back.
void listAddUser(const char* name, uint32_t id) {
    ListSink sink = snapshot();
    if (sink.add && name) sink.add(name, id);
}

void listRemoveUser(const char* name) {
    ListSink sink = snapshot();
    if (sink.remove && name) sink.remove(name);
}
