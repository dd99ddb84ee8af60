#include "navigation_harness.h"

#include "server/areas/area_tree.h"
#include "server/connections/tcp_connection.h"
#include "server/log/event_log.h"
#include "server/plugins/plugin_registry.h"
#include "server/preferences/preferences.h"
#include "server/sessions/navigation.h"
#include "server/users/user_db.h"

void NavigationTest::SetUp() {
    ServerFixture::SetUp();
    ASSERT_TRUE(setParanoidLogging(true));
    ASSERT_TRUE(loadAreaTree());
    setTitle(0, "Main hall");
    UserRecord u;
    ASSERT_TRUE(addUser(u, "alice"));
    u.accessLevel = 10;
    ASSERT_TRUE(updateUser(u));
}

void NavigationTest::TearDown() {
    client.close();
    if (browser.joinable()) browser.join();
    unloadAllPlugins();
    freeAreaTree();
}

void NavigationTest::startBrowsing(const char* name) {
    login = name;
    int serverSide = -1, clientSide = -1;
    ASSERT_TRUE(ovtest::makeTcpPair(serverSide, clientSide));
    client = ovtest::LoopbackClient(clientSide);
    browser = std::thread([this, serverSide] {
        TelnetConnection c(serverSide);
        left = browseAreas(c, login.c_str());
        finished = true;
    });
    // WILL SUPPRESS-GO-AHEAD, DO SUPPRESS-GO-AHEAD, WILL ECHO
    ASSERT_EQ(client.readBytes(9), "\xFF\xFB\x03\xFF\xFD\x03\xFF\xFB\x01");
}

uint32_t NavigationTest::addArea(uint32_t parent, const std::string& title, uint16_t minAccess,
                                 uint16_t maxAccess) {
    AreaRecord rec;
    EXPECT_TRUE(addSubArea(parent, rec));
    std::snprintf(rec.title, sizeof rec.title, "%s", title.c_str());
    rec.minAccess = minAccess;
    rec.maxAccess = maxAccess;
    EXPECT_TRUE(putArea(rec.id, rec));
    return rec.id;
}

void NavigationTest::addExtension(uint32_t area, uint32_t pluginId, const std::string& name,
                                  const std::string& args) {
    AreaRecord rec;
    ASSERT_TRUE(getArea(area, rec));
    ASSERT_LT(rec.extensionCount, 9);
    int i = rec.extensionCount++;
    rec.extensionPluginIds[i] = pluginId;
    std::snprintf(rec.extensionNames[i], sizeof rec.extensionNames[i], "%s", name.c_str());
    std::snprintf(rec.extensionArgs[i], sizeof rec.extensionArgs[i], "%s", args.c_str());
    ASSERT_TRUE(putArea(area, rec));
}

void NavigationTest::setTitle(uint32_t area, const std::string& title) {
    AreaRecord rec;
    ASSERT_TRUE(getArea(area, rec));
    std::snprintf(rec.title, sizeof rec.title, "%s", title.c_str());
    ASSERT_TRUE(putArea(area, rec));
}

void NavigationTest::setAnsi(bool on) {
    UserRecord u;
    ASSERT_TRUE(findUser(u, "alice"));
    u.userFlags = static_cast<uint16_t>(on ? (u.userFlags | AnsiTerminalFlag)
                                           : (u.userFlags & ~AnsiTerminalFlag));
    ASSERT_TRUE(updateUser(u));
}

DisconnectReason NavigationTest::departure() {
    EXPECT_TRUE(ovtest::waitUntil([&] { return finished.load(); }));
    return left;
}

std::string blankScreen() {
    return std::string(22 * 80, ' ');
}

void put(std::string& screen, int row, int col, const std::string& text) {
    screen.replace(row * 80 + col, text.size(), text);
}
