// The file viewer plug-in, loaded with dlopen and driven over a loopback socket.
#include "plugins/standard/plugin_harness.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using ovtest::writeFile;
using plugtest::CallerLink;

const std::string Reset = "\x1b[0m";
const std::string Clear = "\x1b[2J\x1b[1;1H";
const std::string Status = "\x1b[23;1H\x1b[7m";

// `count` lines of `width` characters, each ended by CR LF.
std::string linesOf(int count, int width) {
    std::string text;
    for (int i = 0; i < count; ++i)
        text += std::string(width, char('a' + i % 26)) + "\r\n";
    return text;
}

class Pagepeek : public ovtest::WorkDirTest {
protected:
    plugtest::PluginLibrary lib{"pagepeek.so"};
    plugtest::FakeAccount account;

    void SetUp() override {
        ASSERT_TRUE(lib.loaded());
        ASSERT_TRUE(lib.start());
    }
    // Views `args` pressing `keys` one after each prompt; returns all the caller got.
    std::string view(const std::string& args, const std::string& keys) {
        account.args = args;
        CallerLink link(lib.session, account);
        std::string seen;
        for (char key : keys) {
            seen += link.caller.readUntil("%)");
            EXPECT_TRUE(link.caller.send(std::string(1, key)));
        }
        seen += link.restAfterFinish();
        result = link.result;
        endSession = link.endSession;
        return seen;
    }
    BOOL result = -1;
    DWORD endSession = 99;
};

TEST_F(Pagepeek, PlainCallerPagesFiftyLines) {
    const std::string text = linesOf(50, 10);
    ASSERT_EQ(text.size(), 600u);
    writeFile("doc.txt", text);
    const std::string expected = text.substr(0, 251) + "\r\nMORE (251/600, 41%)\r\n\r\n" +
                                 text.substr(251, 252) + "\r\nMORE (503/600, 83%)\r\n\r\n" +
                                 text.substr(503) + "\r\nMORE (600/600, 100%)\r\n\r\n";
    EXPECT_EQ(view("doc", "  x"), expected);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(endSession, 0u);
}

TEST_F(Pagepeek, AnsiCallerStopsWithEscapeAfterTheFirstPage) {
    const std::string text = linesOf(50, 10);
    writeFile("doc.ans", text);
    account.ansi = 1;
    EXPECT_EQ(view("doc", "\x1b"), Reset + Clear + text.substr(0, 251) + Status +
                                       "MORE (251/600, 41%)" + Reset + "\r\n\r\n");
    EXPECT_EQ(result, 1);
    EXPECT_EQ(endSession, 0u);
}

TEST_F(Pagepeek, CtrlCStopsToo) {
    writeFile("doc.asc", linesOf(50, 10));
    EXPECT_EQ(view("doc", "\x03").size(),
              251 + std::string("\r\nMORE (251/600, 41%)\r\n\r\n").size());
}

TEST_F(Pagepeek, EnterAsCrLfOrCrNulTurnsOnePage) {
    const std::string text = linesOf(80, 10);
    writeFile("doc.asc", text);
    account.args = "doc";
    CallerLink link(lib.session, account);
    std::string seen = link.caller.readUntil("%)");
    ASSERT_TRUE(link.caller.send("\r\n"));
    seen += link.caller.readUntil("%)");
    ASSERT_TRUE(link.caller.send(std::string("\r\0", 2)));
    seen += link.caller.readUntil("%)");
    // Had the LF or the NUL counted as a key, the escape would stop a later page.
    ASSERT_TRUE(link.caller.send("\x1b"));
    seen += link.restAfterFinish();
    EXPECT_EQ(seen, text.substr(0, 251) + "\r\nMORE (251/960, 26%)\r\n\r\n" +
                        text.substr(251, 252) + "\r\nMORE (503/960, 52%)\r\n\r\n" +
                        text.substr(503, 252) + "\r\nMORE (755/960, 78%)\r\n\r\n");
}

TEST_F(Pagepeek, HangUpAtThePromptEndsTheSession) {
    writeFile("doc.asc", linesOf(50, 10));
    account.args = "doc";
    CallerLink link(lib.session, account);
    link.caller.readUntil("%)");
    link.caller.close();
    link.finish();
    EXPECT_EQ(link.result, 0);
    EXPECT_EQ(link.endSession, 1u);
}

TEST_F(Pagepeek, NameFollowsTerminalTypeWithTxtFallback) {
    writeFile("welcome.txt", "T\r\n");
    writeFile("welcome.asc", "S\r\n");
    writeFile("news.asc", "N\r\n");
    writeFile("menu.ans", "M\r\n");
    writeFile("menu.asc", "m\r\n");
    writeFile("odd.asc.txt", "O\r\n");
    account.ansi = 1;
    EXPECT_EQ(view("welcome", "x").substr(Reset.size() + Clear.size(), 3), "T\r\n");
    EXPECT_EQ(view("news.asc", "x").substr(Reset.size() + Clear.size(), 3), "N\r\n");
    EXPECT_EQ(view("menu", "x").substr(Reset.size() + Clear.size(), 3), "M\r\n");
    account.ansi = 0;
    EXPECT_EQ(view("welcome", "x").substr(0, 3), "S\r\n");
    EXPECT_EQ(view("menu", "x").substr(0, 3), "m\r\n");
    EXPECT_EQ(view("odd.asc", "x").substr(0, 3), "O\r\n");
}

TEST_F(Pagepeek, EmptyFileSendsOnlyTheReset) {
    writeFile("empty.txt", "");
    account.ansi = 1;
    EXPECT_EQ(view("empty", ""), Reset);
    account.ansi = 0;
    EXPECT_EQ(view("empty", ""), "");
    EXPECT_EQ(result, 1);
}

TEST_F(Pagepeek, MissingFileOrUnreadableValuesSendNothing) {
    account.ansi = 1;
    EXPECT_EQ(view("nothing", ""), "");
    EXPECT_EQ(result, 1);
    EXPECT_EQ(endSession, 0u);
    ASSERT_EQ(mkdir("folder.asc", 0755), 0);
    ASSERT_EQ(mkfifo("pipe.txt", 0644), 0);
    EXPECT_EQ(view("folder.asc", ""), "");
    EXPECT_EQ(view("pipe", ""), "");
    EXPECT_EQ(result, 1);
    writeFile("doc.txt", "x");
    account.refuseGets = true;
    EXPECT_EQ(view("doc", ""), "");
    EXPECT_EQ(result, 1);
}

// Where the first page of many equal lines ends shows how each line was counted.
TEST_F(Pagepeek, LongLinesCountByEightyColumns) {
    struct Case {
        int width;
        int firstPageEnd;
    };
    // 78: one line each, the page byte limit comes first; 79, 80, 81: two lines each;
    // 159, 160: three lines each.
    for (Case c : {Case{78, 1678}, Case{79, 10 * 81 + 80}, Case{80, 10 * 82 + 80},
                   Case{81, 10 * 83 + 80}, Case{159, 7 * 161 - 1}, Case{160, 7 * 162 - 1}}) {
        const std::string text = linesOf(30, c.width);
        writeFile("long.txt", text);
        const std::string shown = view("long", "\x1b");
        const std::string total = std::to_string(text.size());
        const std::string status = "\r\nMORE (" + std::to_string(c.firstPageEnd) + "/" + total;
        EXPECT_EQ(shown.substr(0, c.firstPageEnd), text.substr(0, c.firstPageEnd)) << c.width;
        EXPECT_EQ(shown.substr(c.firstPageEnd, status.size()), status) << c.width;
    }
}

TEST_F(Pagepeek, ShortLinesFillTwentyOneLinesPerPage) {
    const std::string text = linesOf(22, 77); // 21 lines of 79 bytes fit in one page
    writeFile("short.txt", text);
    const std::string shown = view("short", "\x1b");
    EXPECT_EQ(shown.substr(0, 21 * 79 - 1), text.substr(0, 21 * 79 - 1));
    EXPECT_EQ(shown.substr(21 * 79 - 1, 8), "\r\nMORE (");
}

TEST_F(Pagepeek, HugeFilesShowSizeAndPercentIn64Bits) {
    const int fd = open("huge.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    const off_t size = 5000000000LL; // sparse: reads as NUL bytes
    ASSERT_EQ(ftruncate(fd, size), 0);
    close(fd);
    EXPECT_NE(view("huge", "\x1b").find("MORE (1678/5000000000, 0%)"), std::string::npos);
}

class PagepeekSettings : public ovtest::WorkDirTest {
protected:
    plugtest::PluginLibrary lib{"pagepeek.so"};
    plugtest::FakeAccount account;

    std::string statusWith() {
        EXPECT_TRUE(lib.start());
        account.args = "one";
        CallerLink link(lib.session, account);
        std::string seen = link.caller.readUntil("%)");
        EXPECT_TRUE(link.caller.send("x"));
        link.finish();
        return seen.substr(seen.find("\r\n", 2) + 2);
    }
};

TEST_F(PagepeekSettings, MoreTextFromTheFile) {
    writeFile("one.txt", "1\r\n");
    writeFile("pagepeek.dat", std::string("Next page\0junk", 14));
    EXPECT_EQ(statusWith(), "Next page (3/3, 100%)");
    writeFile("pagepeek.dat", std::string(64, 'w'));
    EXPECT_EQ(statusWith(), std::string(63, 'w') + " (3/3, 100%)");
    writeFile("pagepeek.dat", "Go on\x01more");
    EXPECT_EQ(statusWith(), "Go on (3/3, 100%)");
}

TEST_F(PagepeekSettings, MissingOrControlStartGivesMore) {
    writeFile("one.txt", "1\r\n");
    EXPECT_EQ(statusWith(), "MORE (3/3, 100%)");
    writeFile("pagepeek.dat", "\tTab");
    EXPECT_EQ(statusWith(), "MORE (3/3, 100%)");
    writeFile("pagepeek.dat", "\xc4sh");
    EXPECT_EQ(statusWith(), "MORE (3/3, 100%)");
}

TEST_F(PagepeekSettings, RegisterAndUnregister) {
    ASSERT_TRUE(lib.loaded());
    char name[256] = {};
    DWORD capable = 0;
    EXPECT_EQ(lib.reg(nullptr, name, &capable), 1);
    EXPECT_STREQ(name, "View a file");
    EXPECT_EQ(capable, 1u);
    writeFile("pagepeek.dat", "X");
    EXPECT_EQ(lib.shutdown(nullptr), 1);
    EXPECT_EQ(lib.wndProc(nullptr, 0x0111, 41000, 0), 0);
    EXPECT_EQ(lib.unreg(nullptr), 1);
    EXPECT_FALSE(ovtest::fileExists("pagepeek.dat"));
}

} // namespace
