// Today's terminal clients against the built ovhost: inetutils telnet in a pty and a caller that
// talks as PuTTY does, each with pyte as its screen (callers.py). The board: a main hall with a
// lounge, the file viewer, the character set switch and the terminal type switch, two pages of
// rules, and one account. Beside them, text files as Linux editors write them (lone LF): the
// forbidden names, the main hall's plain screen, the lounge's description and its viewed file.
#include "hostile/ovhost_process.h"

#include "server/areas/area_tree.h"
#include "server/plugins/plugin_registry.h"
#include "server/users/user_db.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace {

std::string lines(const char* format, int count) {
    std::string text;
    char line[128];
    for (int i = 1; i <= count; ++i) {
        std::snprintf(line, sizeof line, format, i);
        text += line;
    }
    return text;
}

void attach(AreaRecord& area, uint32_t pluginId, const char* name, const char* args) {
    int i = area.extensionCount++;
    area.extensionPluginIds[i] = pluginId;
    std::snprintf(area.extensionNames[i], sizeof area.extensionNames[i], "%s", name);
    std::snprintf(area.extensionArgs[i], sizeof area.extensionArgs[i], "%s", args);
}

// Runs in the board's directory before it starts.
void makeBoard() {
    UINT command = 41000;
    const std::string bin = ovtest::binDir();
    ASSERT_TRUE(installPlugin((bin + "/pagepeek.so").c_str(), &command)); // id 0
    ASSERT_TRUE(installPlugin((bin + "/ttypick.so").c_str(), &command));  // id 1
    unloadAllPlugins();

    ASSERT_TRUE(loadAreaTree());
    AreaRecord root, lounge;
    ASSERT_TRUE(addSubArea(0, lounge));
    std::snprintf(lounge.title, sizeof lounge.title, "Lounge");
    attach(lounge, 0, "Linux notes", "notes");
    ASSERT_TRUE(putArea(lounge.id, lounge));
    ASSERT_TRUE(getArea(0, root));
    std::snprintf(root.title, sizeof root.title, "Main hall");
    attach(root, 0, "Read the news", "news");
    attach(root, 1, "Character set", "charset");
    attach(root, 1, "Terminal type", "");
    ASSERT_TRUE(putArea(0, root));
    freeAreaTree();

    ovtest::writeFile("news.txt", lines("news %05d\r\n", 80)); // 960 bytes
    ovtest::writeFile("rules.txt", lines("Rule %02d: be kind.\r\n", 30));
    ovtest::writeFile("badnames.txt", "root\nsysop\n");
    ovtest::writeFile("notes.txt", "note 1\nnote 2\r\nnote 3\n");
    ovtest::writeFile("area/00000000.asc", "Hall for plain callers\nsecond line\n");
    ovtest::writeFile("area/00000001.txt", "First line\nSecond line\n");
    UserRecord putty;
    ASSERT_TRUE(addUser(putty, "putty"));
    std::snprintf(putty.password, sizeof putty.password, "secret");
    putty.userFlags = AnsiTerminalFlag;
    ASSERT_TRUE(updateUser(putty));
}

int runCaller(const char* kind, uint16_t port) {
    const std::string script = ovtest::sourceDir() + "/tests/callers/callers.py";
    const std::string cmd =
        "/usr/bin/python3 '" + script + "' " + kind + " " + std::to_string(port) + " 2>&1";
    return std::system(cmd.c_str());
}

class Callers : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(0, std::system("/usr/bin/python3 -c 'import pexpect, pyte' && command -v "
                                 "telnet >/dev/null"))
            << "install python3-pexpect, python3-pyte and inetutils-telnet (scripts/setup-deps.sh)";
        board.prepare(8, 60000, [] { makeBoard(); });
        ASSERT_FALSE(HasFatalFailure());
        ASSERT_TRUE(board.start()) << board.output();
    }
    OvhostProcess board;
};

} // namespace

TEST_F(Callers, InetutilsTelnetMakesAnAccountPagesOncePerEnterAndLogsInAfterDel) {
    int status = runCaller("telnet", board.telnetPort());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(0, WEXITSTATUS(status));
}

TEST_F(Callers, PuttyCallerLogsInAfterDelSeesBoxLinesInUtf8AndPagesOncePerEnter) {
    int status = runCaller("putty", board.telnetPort());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(0, WEXITSTATUS(status));
    // The choice is kept in the account.
    char here[4096];
    ASSERT_NE(getcwd(here, sizeof here), nullptr);
    ASSERT_EQ(0, chdir(board.dir().c_str()));
    UserRecord putty;
    bool found = findUser(putty, "putty");
    ASSERT_EQ(0, chdir(here));
    ASSERT_TRUE(found);
    EXPECT_EQ(putty.userFlags, AnsiTerminalFlag | Utf8TerminalFlag);
}

TEST_F(Callers, LfOnlyTextFilesReachTheCallerWithCrLf) {
    // Rules as a Linux editor writes them, one line with CR LF among them.
    std::string rules = lines("Rule %02d: be kind.\n", 30);
    rules.replace(rules.find("kind.\nRule 04"), 6, "kind.\r\n");
    ovtest::writeFile(board.dir() + "/rules.txt", rules);
    int status = runCaller("lf", board.telnetPort());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(0, WEXITSTATUS(status));
}
