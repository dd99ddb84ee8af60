#include "navigation_harness.h"

#include "server/plugins/plugin_registry.h"
#include "server/users/user_db.h"
#include "test_plugin_state.h"

#include <dlfcn.h>

namespace {

std::string pluginPath(const std::string& file) {
    return ovtest::binDir() + "/" + file;
}

// Installs a built plug-in; its id, or 0xFFFFFFFF.
uint32_t install(const std::string& file) {
    static UINT counter = 41000;
    std::string f = ovtest::readFile(PluginFileName);
    uint32_t id = f.size() >= 8 ? static_cast<uint8_t>(f[4]) : 0;
    return installPlugin(pluginPath(file).c_str(), &counter) ? id : 0xFFFFFFFF;
}

} // namespace

TEST_F(NavigationTest, ExtensionsRunOnTheCallersThreadAndMayEndTheSession) {
    void* handle = dlopen(pluginPath("ovtest_recorder.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr);
    reinterpret_cast<OvtestResetProc>(dlsym(handle, "ovtestReset"))();
    TestPluginState* state = reinterpret_cast<OvtestStateProc>(dlsym(handle, "ovtestState"))();

    uint32_t id = install("ovtest_recorder.so");
    ASSERT_EQ(id, 0u);
    uint32_t room = addArea(0, "Room");
    addExtension(room, id, "Say hello", "hello");
    addExtension(room, id, "Leave", "end");
    startBrowsing();
    nextScreen();
    ASSERT_TRUE(client.send("1"));
    std::string room1 = nextScreen();
    EXPECT_EQ(promptOf(room1), "[AB\\Q]  ");

    ASSERT_TRUE(client.send("a"));
    std::string s = nextScreen();
    EXPECT_EQ(s.substr(0, 19), "A\r\nrecorder:hello\r\n");
    EXPECT_EQ(s.substr(19), room1.substr(3)); // the same area again
    EXPECT_EQ(state->lastAreaId, room);
    UserRecord u;
    ASSERT_TRUE(findUser(u, "alice"));
    EXPECT_EQ(state->lastUserId, u.id);

    ASSERT_TRUE(client.send("B"));
    EXPECT_EQ(client.readToClose(), "B\r\nrecorder:end\r\n");
    EXPECT_EQ(departure(), DisconnectReason::LoggedOff);
    EXPECT_EQ(atomicRead(state->sessionCalls), 2);
    unloadAllPlugins();
    dlclose(handle);
}

TEST_F(NavigationTest, StandardPluginsRunFromAnArea) {
    for (const char* file : {"ttypick.so", "jotbox.so", "pagepeek.so"})
        if (!ovtest::fileExists(pluginPath(file))) GTEST_SKIP() << file << " not built";
    uint32_t tty = install("ttypick.so");
    uint32_t memo = install("jotbox.so");
    uint32_t view = install("pagepeek.so");
    ASSERT_EQ(tty, 0u);
    ASSERT_EQ(memo, 1u);
    ASSERT_EQ(view, 2u);
    addExtension(0, memo, "Memo", "");
    addExtension(0, view, "Readme", "readme");
    addExtension(0, tty, "Terminal", "");
    ovtest::writeFile("readme.asc", "Plain readme\r\n");
    ovtest::writeFile("readme.ans", "Colour readme\r\n");
    startBrowsing();
    EXPECT_EQ(nextScreen().substr(0, 4), "\r\n\r\n");

    // Memo: typed text is echoed and appended for the sysop.
    ASSERT_TRUE(client.send("A"));
    for (int i = 0; i < 3; ++i)
        client.readUntil("\r\n"); // the echo, an empty line and the instructions
    ASSERT_TRUE(client.send("hi there\r"));
    std::string s = nextScreen();
    EXPECT_EQ(s.substr(0, 8), "hi there");
    EXPECT_EQ(ovtest::readFile("jotbox.txt"), "[alice]:  \"hi there\"\r\n");

    // Viewer: the plain file, then the MORE line waiting for a key.
    ASSERT_TRUE(client.send("b"));
    s = client.readUntil("100%)");
    EXPECT_EQ(s, "B\r\nPlain readme\r\n\r\nMORE (14/14, 100%)");
    ASSERT_TRUE(client.send(" "));
    s = nextScreen();
    EXPECT_EQ(s.substr(0, 8), "\r\n\r\n\r\n\r\n");

    // Terminal type: choosing ANSI makes the next screen colourful.
    ASSERT_TRUE(client.send("c"));
    s = client.readUntil("use?  ");
    EXPECT_NE(s.find("text only"), std::string::npos);
    ASSERT_TRUE(client.send("a"));
    s = nextScreen();
    EXPECT_EQ(s.substr(0, 3), "A\r\n");
    EXPECT_EQ(s.substr(3, 14), "\x1b[0m\x1b[2J\x1b[1;1H");
    EXPECT_NE(s.find("\xB3"), std::string::npos);
    UserRecord u;
    ASSERT_TRUE(findUser(u, "alice"));
    EXPECT_EQ(u.userFlags & AnsiTerminalFlag, AnsiTerminalFlag);

    // The viewer now picks the ANSI file.
    ASSERT_TRUE(client.send("B"));
    s = client.readUntil("100%)");
    EXPECT_NE(s.find("Colour readme"), std::string::npos);
    ASSERT_TRUE(client.send("\x1b"));
    nextScreen();
    ASSERT_TRUE(client.send("Q"));
    client.readToClose();
    EXPECT_EQ(departure(), DisconnectReason::LoggedOff);
}
