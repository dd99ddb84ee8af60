#include "navigation_harness.h"

#include "server/areas/area_tree.h"
#include "server/plugins/plugin_registry.h"
#include "server/preferences/preferences.h"
#include "server/users/user_db.h"

#include <filesystem>

namespace {

const std::string Crlf = "\r\n";

// The plain screen that follows the two line ends: 1760 bytes, then the prompt.
std::string screenPart(const std::string& s) {
    return s.size() >= 4 + 1760 ? s.substr(4, 1760) : std::string();
}

char at(const std::string& screen, int row, int col) {
    return screen[row * 80 + col];
}

std::string label(const std::string& screen, int row) {
    std::string l = screen.substr(row * 80 + 49, 31);
    return l.substr(0, l.find_last_not_of(' ') + 1);
}

std::string logoffName() {
    char out[256];
    getPrefText(PrefText::LogoffOptionName, out);
    return out;
}

} // namespace

TEST_F(NavigationTest, HiddenSubAreaKeepsTheKeysConsecutive) {
    addArea(0, "Alpha");
    addArea(0, "Beta", 50, 100); // above alice's level 10
    uint32_t gamma = addArea(0, "Gamma");
    startBrowsing();

    std::string s = nextScreen();
    ASSERT_EQ(s.size(), 4u + 1760u + 7u);
    EXPECT_EQ(s.substr(0, 4), Crlf + Crlf);
    EXPECT_EQ(s.substr(4 + 1760), "[12Q]  ");
    std::string screen = screenPart(s);
    EXPECT_EQ(screen.substr(0, 9), "Main hall");
    EXPECT_EQ(screen.substr(80 + 46, 3), "1) ");
    EXPECT_EQ(label(screen, 1), "Alpha");
    EXPECT_EQ(label(screen, 2), "Gamma");
    EXPECT_EQ(at(screen, 3, 46), 'Q');
    EXPECT_EQ(label(screen, 3), logoffName());

    // Keys not offered (the hidden sub-area's '3', Back at the root) are ignored unechoed.
    ASSERT_TRUE(client.send("3\\x2"));
    s = nextScreen();
    EXPECT_EQ(s.substr(0, 3), "2\r\n");
    screen = s.substr(3 + 4, 1760);
    EXPECT_EQ(screen.substr(0, 5), "Gamma");
    EXPECT_EQ(at(screen, 1, 46), '\\');
    EXPECT_EQ(label(screen, 1), "Main hall");
    EXPECT_EQ(promptOf(s), "[\\Q]  ");

    ASSERT_TRUE(client.send("\\"));
    s = nextScreen();
    EXPECT_EQ(s.substr(0, 3), "\\\r\n");
    EXPECT_EQ(promptOf(s), "[12Q]  ");

    // Quit sends the echoed key and a line end, nothing more.
    ASSERT_TRUE(client.send("q"));
    EXPECT_EQ(client.readToClose(), "Q\r\n");
    EXPECT_EQ(departure(), DisconnectReason::LoggedOff);

    UserRecord u;
    ASSERT_TRUE(findUser(u, "alice"));
    EXPECT_EQ(u.loginCount, 1u);
    EXPECT_EQ(u.secondLoginCount, 1u);
    EXPECT_NE(u.lastLogin, 0u);
    (void)gamma;
}

TEST_F(NavigationTest, PromptAtTheRootAndTheBackKeyInASubArea) {
    uint32_t first = addArea(0, "First");
    addArea(0, "Second");
    addExtension(0, 42, "Gone", ""); // no plug-in with that id is loaded
    addArea(first, "Inner one");
    addArea(first, "Inner two");
    addExtension(first, 42, "Gone too", "");
    startBrowsing();

    std::string s = nextScreen();
    EXPECT_EQ(promptOf(s), "[12AQ]  ");
    EXPECT_EQ(label(screenPart(s), 3), "Gone");

    // An extension whose plug-in is missing shows the same area again.
    ASSERT_TRUE(client.send("a"));
    std::string again = nextScreen();
    EXPECT_EQ(again, "A\r\n" + s);

    ASSERT_TRUE(client.send("1"));
    s = nextScreen();
    EXPECT_EQ(promptOf(s), "[12A\\Q]  ");
    std::string screen = s.substr(3 + 4, 1760);
    EXPECT_EQ(at(screen, 4, 46), '\\');
    EXPECT_EQ(label(screen, 4), "Main hall");
    EXPECT_EQ(at(screen, 5, 46), 'Q');
}

TEST_F(NavigationTest, BackLeadsToAParentThatTheCallerCouldNotChoose) {
    uint32_t locked = addArea(0, "Locked", 50, 60);
    uint32_t inner = addArea(locked, "Inner");
    // Put the caller below the locked area by moving the open area under the root's menu.
    AreaRecord root;
    ASSERT_TRUE(getArea(0, root));
    root.childIds[root.childCount++] = inner;
    ASSERT_TRUE(putArea(0, root));
    startBrowsing();
    std::string s = nextScreen();
    EXPECT_EQ(promptOf(s), "[1Q]  ");
    ASSERT_TRUE(client.send("1"));
    s = nextScreen();
    EXPECT_EQ(s.substr(7, 5), "Inner");
    ASSERT_TRUE(client.send("\\"));
    s = nextScreen();
    EXPECT_EQ(s.substr(7, 6), "Locked");
    EXPECT_EQ(promptOf(s), "[1\\Q]  ");
}

TEST_F(NavigationTest, FullPlainScreenByteForByte) {
    ASSERT_TRUE(setPrefText(PrefText::LogoffOptionName,
                            "Log off and leave this fine board now")); // 37 characters
    uint32_t hub = addArea(0, "Hub");
    for (int i = 1; i <= 9; ++i)
        addArea(hub, "Room " + std::to_string(i));
    for (int i = 0; i < 9; ++i)
        addExtension(hub, 100 + i, "Tool " + std::string(1, char('a' + i)), "");
    std::filesystem::create_directories("area");
    char name[32];
    std::snprintf(name, sizeof name, "area/%08x.txt", hub);
    ovtest::writeFile(name, "Hello caller\r\nSecond line");
    startBrowsing();
    nextScreen();
    ASSERT_TRUE(client.send("1"));

    std::string expected = blankScreen();
    put(expected, 0, 0, "Hub");
    put(expected, 1, 0, "Hello caller");
    put(expected, 2, 0, "Second line");
    for (int r = 1; r <= 20; ++r)
        put(expected, r, 44, "|");
    put(expected, 21, 0, std::string(80, '-'));
    put(expected, 21, 44, "+");
    for (int i = 0; i < 9; ++i) {
        put(expected, 1 + i, 46, std::string(1, char('1' + i)) + ") Room " + std::to_string(i + 1));
        put(expected, 10 + i, 46, std::string(1, char('A' + i)) + ") Tool " + char('a' + i));
    }
    put(expected, 19, 46, "\\) Main hall");
    put(expected, 20, 46, "Q) Log off and leave this fine boa");
    std::string s = nextScreen();
    EXPECT_EQ(s, "1\r\n\r\n\r\n" + expected + "[123456789ABCDEFGHI\\Q]  ");
}

TEST_F(NavigationTest, FullAnsiScreenByteForByte) {
    uint32_t hub = addArea(0, "Hub");
    for (int i = 1; i <= 9; ++i)
        addArea(hub, "Room " + std::to_string(i));
    for (int i = 0; i < 9; ++i)
        addExtension(hub, 100 + i, "Tool " + std::string(1, char('a' + i)), "");
    setAnsi(true);
    startBrowsing();
    nextScreen();
    ASSERT_TRUE(client.send("1"));

    std::string screen = blankScreen();
    put(screen, 0, 0, "Hub");
    for (int r = 1; r <= 20; ++r)
        put(screen, r, 44, "\xB3");
    put(screen, 21, 0, std::string(80, '\xC4'));
    put(screen, 21, 44, "\xC1");
    for (int i = 0; i < 9; ++i) {
        put(screen, 1 + i, 46, std::string(1, char('1' + i)) + ") Room " + std::to_string(i + 1));
        put(screen, 10 + i, 46, std::string(1, char('A' + i)) + ") Tool " + char('a' + i));
    }
    put(screen, 19, 46, "\\) Main hall");
    put(screen, 20, 46, "Q) " + logoffName().substr(0, 31));
    auto row = [&](int r, int col, int n) { return screen.substr(r * 80 + col, n); };

    const std::string esc = "\x1b[";
    // The echo in cyan, then the next screen.
    std::string expected = esc + "0m" + esc + "36m1" + esc + "0m\r\n";
    expected += esc + "0m" + esc + "2J" + esc + "1;1H";
    expected += esc + "37;47m" + esc + "1m" + row(0, 0, 80) + esc + "0m";
    for (int r = 1; r <= 20; ++r) {
        std::string colour = r <= 9 ? "32m" : r <= 18 ? "33m" : "36m";
        expected += esc + "36m" + esc + "1m" + row(r, 0, 44);
        expected += esc + "37m" + esc + "1m" + row(r, 44, 2);
        expected += esc + colour + esc + "1m" + row(r, 46, 1);
        expected += esc + "37m" + esc + "1m" + row(r, 47, 2);
        expected += esc + "0m" + row(r, 49, 31);
    }
    expected += esc + "1m" + row(21, 0, 80);
    expected += esc + "23;1H";
    expected += esc + "0m" + esc + "1m[" + esc + "0m123456789ABCDEFGHI\\Q" + esc + "1m]  ";
    EXPECT_EQ(nextScreen(), expected);

    ASSERT_TRUE(client.send("Q"));
    EXPECT_EQ(client.readToClose(), esc + "0m" + esc + "36mQ" + esc + "0m\r\n");
}

TEST_F(NavigationTest, ReplacementTextsAreSentAlone) {
    std::filesystem::create_directories("area");
    ovtest::writeFile("area/00000000.asc", "PLAIN MENU [Q]\r\n");
    ovtest::writeFile("area/00000000.ans", "\x1b[31mCOLOUR MENU\r\n");
    startBrowsing();
    EXPECT_EQ(nextScreen(), "\r\n\r\nPLAIN MENU [Q]\r\n[Q]  ");
    ASSERT_TRUE(client.send("Q"));
    EXPECT_EQ(client.readToClose(), "Q\r\n");
    browser.join();

    setAnsi(true);
    finished = false;
    startBrowsing();
    EXPECT_EQ(nextScreen(), "\x1b[0m\x1b[2J\x1b[1;1H\x1b[31mCOLOUR MENU\r\n\x1b[23;1H"
                            "\x1b[0m\x1b[1m[\x1b[0mQ\x1b[1m]  ");
}

TEST_F(NavigationTest, MissingOrDeletedAccountGetsTheErrorText) {
    char errorText[256];
    getPrefText(PrefText::GenericError, errorText);
    startBrowsing("nobody");
    EXPECT_EQ(client.readToClose(), errorText);
    EXPECT_EQ(departure(), DisconnectReason::ClosedWithoutLogoff);
    browser.join();

    addArea(0, "Somewhere");
    finished = false;
    startBrowsing();
    nextScreen();
    ASSERT_TRUE(deleteUser("alice"));
    ASSERT_TRUE(client.send("1"));
    EXPECT_EQ(client.readToClose(), std::string("1\r\n") + errorText); // no line end
    EXPECT_NE(departure(), DisconnectReason::LoggedOff);
}

TEST_F(NavigationTest, HangUpEndsTheSession) {
    startBrowsing();
    nextScreen();
    client.close();
    EXPECT_EQ(departure(), DisconnectReason::ClosedWithoutLogoff);
}
