#include "server/users/user_list.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string lastAdded;
uint32_t lastId = 0;
std::string lastRemoved;

void onAdd(const char* name, uint32_t id) {
    lastAdded = name;
    lastId = id;
}
void onRemove(const char* name) {
    lastRemoved = name;
}

} // namespace

TEST(UserList, CallsReachTheRegisteredSinkOnly) {
    listAddUser("nobody", 1); // nothing registered: no effect
    ListSink sink{onAdd, onRemove};
    setUserListSink(&sink);
    sink.add = nullptr; // the registration is a copy
    listAddUser("zoe", 42);
    listRemoveUser("zoe");
    EXPECT_EQ("zoe", lastAdded);
    EXPECT_EQ(42u, lastId);
    EXPECT_EQ("zoe", lastRemoved);

    ListSink half{nullptr, onRemove};
    setUserListSink(&half);
    listAddUser("yan", 7);
    EXPECT_EQ("zoe", lastAdded);
    setUserListSink(nullptr);
    listRemoveUser("yan");
    EXPECT_EQ("zoe", lastRemoved);
}
