// The door plug-in, installed like any plug-in and chosen by a Telnet caller in an area: drop
// files, the bridge both ways, and every way a door ends leaving nothing behind.
#include "door_file.h"
#include "navigation_harness.h"

#include "server/connections/tcp_connection.h"
#include "server/plugins/plugin_registry.h"
#include "server/preferences/preferences.h"
#include "server/sessions/navigation.h"
#include "server/users/user_db.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <dirent.h>

#include <cstdio>
#include <fstream>

namespace {

using ovtest::readFile;

std::string testDoor() {
    return ovtest::binDir() + "/doorway_test_door";
}

// A process that still runs (a zombie has ended, whoever is to reap it).
bool running(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line)) return false;
    size_t close = line.rfind(')');
    return close != std::string::npos && close + 2 < line.size() && line[close + 2] != 'Z';
}

// What a door leaves in the per-caller scratch area: nothing, once it is over.
bool scratchIsEmpty() {
    DIR* dir = opendir("doorway.run");
    if (!dir) return true;
    int entries = 0;
    while (readdir(dir))
        ++entries;
    closedir(dir);
    return entries == 2;
}

class DoorTest : public NavigationTest {
protected:
    // Writes the doors, installs the plug-in and offers each door as an extension of the
    // main hall, A for the first.
    void offer(const std::vector<DoorSpec>& doors) {
        ovtest::writeFile("doorway.dat", doorFile(doors));
        UINT counter = 41000;
        ASSERT_TRUE(installPlugin((ovtest::binDir() + "/doorway.so").c_str(), &counter));
        for (const DoorSpec& d : doors)
            addExtension(0, 0, d.name, d.name);
    }
    // Enters the door under `key` from the main hall; the area screen has been read.
    void enter(char key) {
        nextScreen();
        ASSERT_TRUE(client.send(std::string(1, key)));
    }
    std::string log() { return readFile("doorway.log"); }
};

} // namespace

TEST_F(DoorTest, TestDoorGetsItsTerminalAndDropFilesAndEchoesKeys) {
    UserRecord u;
    ASSERT_TRUE(findUser(u, "alice"));
    std::snprintf(u.realName, sizeof u.realName, "%s", "Alice Liddell");
    ASSERT_TRUE(updateUser(u));
    const std::string door = testDoor() + " echo %D";
    offer({{"Echo32", door, "", 600, 1, false}, {"EchoSys", door, "", 0, 2, false}});
    const int descriptors = ovtest::openDescriptorCount();
    startBrowsing();
    enter('A');
    std::string seen = client.readUntil("READY\r\n");
    EXPECT_NE(seen.find("TTY 80x24 OWN\r\nTERM=dumb LINES=24 COLUMNS=80 HOME="), std::string::npos)
        << seen;
    EXPECT_EQ(seen.find('\x1b'), std::string::npos) << seen;      // ANSI is off: colours removed
    EXPECT_NE(seen.find("FDS 3\r\n"), std::string::npos) << seen; // no descriptor of ours
    const std::string door32 = "0\r\n0\r\n115200\r\nOssivane BBS\r\n" + std::to_string(u.id + 1) +
                               "\r\nAlice Liddell\r\nalice\r\n10\r\n10\r\n0\r\n1\r\n" +
                               "11 LINES, 11 WITH CR LF\r\n";
    EXPECT_NE(seen.find(door32), std::string::npos) << seen;
    // CR LF from the caller is one Enter: the terminal makes the CR a line end already.
    ASSERT_TRUE(client.send("ab\r\nq"));
    EXPECT_EQ(client.readUntil("BYE\r\n"), "[a][b][R]BYE\r\n");
    std::string back = nextScreen();
    EXPECT_NE(back.find("Main hall"), std::string::npos);
    EXPECT_TRUE(scratchIsEmpty());

    // DOOR.SYS: 52 lines, the values a Linux board has where they go.
    ASSERT_TRUE(client.send("B"));
    seen = client.readUntil("READY\r\n");
    const size_t start = seen.find("COM0:\r\n");
    ASSERT_NE(start, std::string::npos) << seen;
    std::vector<std::string> lines;
    for (size_t at = start; at < seen.size();) {
        size_t end = seen.find("\r\n", at);
        if (end == std::string::npos) break;
        lines.push_back(seen.substr(at, end - at));
        at = end + 2;
    }
    ASSERT_EQ(lines.size(), 54u); // and the count, and READY
    EXPECT_EQ(lines[52], "52 LINES, 52 WITH CR LF");
    EXPECT_EQ(lines[3], "1"); // the node
    EXPECT_EQ(lines[9], "Alice Liddell");
    EXPECT_EQ(lines[14], "10");
    EXPECT_EQ(lines[18], "1440"); // no limit of its own
    EXPECT_EQ(lines[19], "NG");
    EXPECT_EQ(lines[35], "alice");
    ASSERT_TRUE(client.send("q"));
    client.readUntil("BYE\r\n");
    nextScreen();
    client.close();
    departure();
    unloadAllPlugins();
    EXPECT_EQ(ovtest::openDescriptorCount(), descriptors);
    EXPECT_NE(log().find("[alice]  EchoSys: ended\r\n"), std::string::npos) << log();
}

TEST_F(DoorTest, HangUpMidDoorEndsTheWholeProcessGroup) {
    const std::string pids = workDir.path() + "/pids";
    offer({{"Stubborn", testDoor() + " stubborn " + pids, "", 0, 0, false}});
    startBrowsing();
    enter('A');
    client.readUntil("STUBBORN\r\n");
    int door = 0, child = 0;
    ASSERT_TRUE(ovtest::waitUntil([&] {
        std::ifstream in(pids);
        return static_cast<bool>(in >> door >> child);
    }));
    ASSERT_TRUE(running(door) && running(child));
    client.close();
    // SIGHUP is ignored by both, so SIGKILL after the grace period ends them.
    EXPECT_TRUE(ovtest::waitUntil([&] { return !running(door) && !running(child); },
                                  std::chrono::seconds(20)));
    departure();
    EXPECT_TRUE(scratchIsEmpty());
    EXPECT_NE(log().find("Stubborn: ended: the caller hung up or was dropped"), std::string::npos);
}

TEST_F(DoorTest, TimeLimitEndsTheDoorAndTheCallerIsBackInTheArea) {
    offer({{"Short", testDoor() + " echo %D", "", 1, 0, false}});
    startBrowsing();
    enter('A');
    client.readUntil("READY\r\n");
    EXPECT_NE(client.readUntil("is up.\r\n"), "");
    EXPECT_NE(nextScreen().find("Main hall"), std::string::npos);
    EXPECT_NE(log().find("Short: ended: time limit"), std::string::npos);
}

TEST_F(DoorTest, IdleTimeOutEndsTheDoorAndTheCall) {
    ASSERT_TRUE(setIdleTimeoutMs(1000));
    offer({{"Echo", testDoor() + " echo %D", "", 0, 0, false}});
    startBrowsing();
    enter('A');
    client.readUntil("READY\r\n");
    EXPECT_NE(client.readToClose().find("You have been idle too long.\r\n"), std::string::npos);
    departure();
    EXPECT_NE(log().find("Echo: ended: idle time-out"), std::string::npos);
}

TEST_F(DoorTest, SingleCallerDoorTurnsASecondCallerAway) {
    UserRecord bob;
    ASSERT_TRUE(addUser(bob, "bob"));
    offer({{"Solo", testDoor() + " echo %D", "", 0, 0, true}});
    startBrowsing();
    enter('A');
    client.readUntil("READY\r\n");

    int serverSide = -1, clientSide = -1;
    ASSERT_TRUE(ovtest::makeTcpPair(serverSide, clientSide));
    ovtest::LoopbackClient second(clientSide);
    std::thread secondBrowser([serverSide] {
        TelnetConnection c(serverSide);
        (void)browseAreas(c, "bob");
    });
    second.readUntil("]  ");
    ASSERT_TRUE(second.send("A"));
    EXPECT_NE(second.readUntil("]  ").find(
                  "Solo is in use by another caller. Please try again later.\r\n"),
              std::string::npos);

    // Free again once the first caller leaves it.
    ASSERT_TRUE(client.send("q"));
    nextScreen();
    ASSERT_TRUE(second.send("A"));
    EXPECT_NE(second.readUntil("READY\r\n"), "");
    second.close();
    secondBrowser.join();
}

TEST_F(DoorTest, DoorWhoseProgramIsMissingTellsTheCallerAndTheSysop) {
    offer({{"Gone", "/nonexistent/door %D", "", 0, 1, false}});
    startBrowsing();
    enter('A');
    std::string seen = nextScreen();
    EXPECT_NE(seen.find("The door \"Gone\" cannot be opened just now. The sysop has been told."),
              std::string::npos)
        << seen;
    EXPECT_NE(seen.find("Main hall"), std::string::npos);
    EXPECT_NE(log().find("[alice]  Gone: there is no program /nonexistent/door"), std::string::npos)
        << log();
    EXPECT_TRUE(scratchIsEmpty());
}

// A curses game from bsdgames through the bridge, seen as a terminal would show it.
TEST_F(DoorTest, HangmanPlaysThroughTheBridge) {
    if (access("/usr/games/hangman", X_OK) != 0 || access(OV_DEBIAN_PYTHON, X_OK) != 0)
        GTEST_SKIP() << "bsdgames or python3-pyte is not installed (scripts/setup-deps.sh)";
    setAnsi(true);
    offer({{"Hangman", "/usr/games/hangman", "", 0, 0, false}});
    startBrowsing();
    enter('A');
    std::string received;
    auto screenShows = [&](const std::string& text) {
        return ovtest::waitUntil(
            [&] {
                std::string more =
                    client.readUntil("\x01 never sent", std::chrono::milliseconds(200));
                if (more.empty() && !received.empty()) return false;
                received += more;
                ovtest::writeFile("received.bin", received);
                std::string command =
                    std::string(OV_DEBIAN_PYTHON) + " " + OV_PYTE_SCREEN + " received.bin";
                std::string screen;
                if (FILE* rows = popen(command.c_str(), "r")) {
                    char buf[4096];
                    size_t n;
                    while ((n = fread(buf, 1, sizeof buf, rows)) > 0)
                        screen.append(buf, n);
                    pclose(rows);
                }
                return screen.find(text) != std::string::npos;
            },
            std::chrono::seconds(20));
    };
    EXPECT_TRUE(screenShows("Guess:"));
    ASSERT_TRUE(client.send("e"));
    EXPECT_TRUE(screenShows("Guessed:  e"));
    ASSERT_TRUE(client.send("\x04")); // hangman's own way out
    EXPECT_NE(client.readUntil("]  ").find("Main hall"), std::string::npos);
    EXPECT_NE(log().find("Hangman: ended\r\n"), std::string::npos) << log();
}
