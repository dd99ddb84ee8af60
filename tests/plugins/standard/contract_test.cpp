// What every plug-in of this build shows from outside: exactly the seven exports, and the
// example plug-in from the SDK working against the same test host.
#include "plugins/standard/plugin_harness.h"

#include <algorithm>

namespace {

using plugtest::CallerLink;

class PluginExports : public ::testing::TestWithParam<const char*> {};

TEST_P(PluginExports, OnlyTheSevenEntryPointsAreVisible) {
    plugtest::PluginLibrary lib(GetParam());
    EXPECT_TRUE(lib.loaded());
    std::vector<std::string> names = plugtest::exportedSymbols(lib.path);
    std::sort(names.begin(), names.end());
    const std::vector<std::string> seven = {"BBSConfigure", "BBSRegister", "BBSSession",
                                            "BBSShutdown",  "BBSStartup",  "BBSUnregister",
                                            "BBSWndProc"};
    EXPECT_EQ(names, seven);
}

INSTANTIATE_TEST_SUITE_P(Standard, PluginExports,
                         ::testing::Values("jotbox.so", "ttypick.so", "pagepeek.so",
                                           "ovexample.so"));

class ExamplePlugin : public ovtest::WorkDirTest {
protected:
    plugtest::PluginLibrary lib{"ovexample.so"};
    plugtest::FakeAccount account;
};

TEST_F(ExamplePlugin, GreetsByNameAndEchoesTheKey) {
    ASSERT_TRUE(lib.loaded());
    char name[256] = {};
    DWORD capable = 0;
    EXPECT_EQ(lib.reg(nullptr, name, &capable), 1);
    EXPECT_STREQ(name, "Hello example");
    EXPECT_EQ(capable, 1u);
    EXPECT_FALSE(lib.start(0x20000));
    ASSERT_TRUE(lib.start());
    account.loginName = "dora";
    CallerLink link(lib.session, account);
    EXPECT_EQ(link.caller.readUntil("key.  "), "\r\nHello, dora! Press a key.  ");
    ASSERT_TRUE(link.caller.send("q"));
    EXPECT_EQ(link.restAfterFinish(), "You pressed q.\r\n");
    EXPECT_EQ(link.result, 1);
    EXPECT_EQ(link.endSession, 0u);
}

TEST_F(ExamplePlugin, HangUpAsksToEndTheSession) {
    ASSERT_TRUE(lib.start());
    CallerLink link(lib.session, account);
    link.caller.readUntil("key.  ");
    link.caller.close();
    link.finish();
    EXPECT_EQ(link.result, 0);
    EXPECT_EQ(link.endSession, 1u);
}

} // namespace
