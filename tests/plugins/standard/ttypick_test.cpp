// The terminal type plug-in, loaded with dlopen and driven over a loopback socket.
#include "plugins/standard/plugin_harness.h"

#include <unistd.h>

namespace {

using ovtest::fileExists;
using ovtest::writeFile;
using plugtest::CallerLink;

std::string promptFor(const std::string& current, char textKey = 'T', char ansiKey = 'A') {
    return "\r\nYou are currently using " + current +
           ".\r\n\r\nSelect from these terminal types:\r\n   " + textKey +
           ") Plain text only\r\n   " + ansiKey +
           ") ANSI escapes and DOS extended characters\r\n\r\nWhich do you wish to use?  ";
}

class Ttypick : public ovtest::WorkDirTest {
protected:
    plugtest::PluginLibrary lib{"ttypick.so"};
    plugtest::FakeAccount account;

    void startWith(const std::string* settingsFile) {
        if (settingsFile) writeFile("ttypick.dat", *settingsFile);
        ASSERT_TRUE(lib.start());
    }
};

TEST_F(Ttypick, PlainCallerPressingLowerCaseAChoosesAnsi) {
    startWith(nullptr);
    CallerLink link(lib.session, account);
    const std::string prompt = promptFor("text only");
    EXPECT_EQ(link.caller.readBytes(prompt.size()), prompt);
    ASSERT_TRUE(link.caller.send("a"));
    EXPECT_EQ(link.restAfterFinish(), "A\r\n");
    EXPECT_EQ(link.result, 1);
    EXPECT_EQ(link.endSession, 0u);
    EXPECT_EQ(account.ansi, 1u);
    EXPECT_EQ(account.saves, 1);
}

TEST_F(Ttypick, AnsiCallerPressingTChoosesPlainTextAfterOtherKeysAreIgnored) {
    startWith(nullptr);
    account.ansi = 1;
    CallerLink link(lib.session, account);
    const std::string prompt = promptFor("ANSI escapes");
    EXPECT_EQ(link.caller.readBytes(prompt.size()), prompt);
    ASSERT_TRUE(link.caller.send("1\r\nxz\x1b\x80t"));
    EXPECT_EQ(link.restAfterFinish(), "T\r\n");
    EXPECT_EQ(link.result, 1);
    EXPECT_EQ(account.ansi, 0u);
}

TEST_F(Ttypick, HangUpWhileWaitingStoresNothing) {
    startWith(nullptr);
    CallerLink link(lib.session, account);
    link.caller.readUntil("use?  ");
    ASSERT_TRUE(link.caller.send("q"));
    link.caller.close();
    link.finish();
    EXPECT_EQ(link.result, 0);
    EXPECT_EQ(link.endSession, 1u);
    EXPECT_EQ(account.saves, 0);
}

TEST_F(Ttypick, UnreadableAccountSendsNothing) {
    startWith(nullptr);
    account.refuseGets = true;
    CallerLink link(lib.session, account);
    EXPECT_EQ(link.restAfterFinish(), "");
    EXPECT_EQ(link.result, 0);
    EXPECT_EQ(link.endSession, 1u);
}

TEST_F(Ttypick, FailedSaveStillEchoesTheKey) {
    startWith(nullptr);
    account.refuseSaves = true;
    CallerLink link(lib.session, account);
    link.caller.readUntil("use?  ");
    ASSERT_TRUE(link.caller.send("A"));
    EXPECT_EQ(link.restAfterFinish(), "A\r\n");
    EXPECT_EQ(link.result, 1);
    EXPECT_EQ(account.ansi, 0u);
}

TEST_F(Ttypick, CharsetInstanceSwitchesUtf8AndLeavesTheTypeAlone) {
    startWith(nullptr);
    account.args = " Charset ";
    account.ansi = 1;
    CallerLink link(lib.session, account);
    const std::string prompt =
        "\r\nYou are currently using the DOS character set.\r\n\r\nSelect the character set your "
        "terminal shows:\r\n   D) DOS characters (code page 437)\r\n   U) UTF-8 (most terminals "
        "today)\r\n\r\nWhich do you wish to use?  ";
    EXPECT_EQ(link.caller.readBytes(prompt.size()), prompt);
    // The terminal type's keys mean nothing here.
    ASSERT_TRUE(link.caller.send("tau"));
    EXPECT_EQ(link.restAfterFinish(), "U\r\n");
    EXPECT_EQ(link.result, 1);
    EXPECT_EQ(account.utf8, 1u);
    EXPECT_EQ(account.ansi, 1u);
    EXPECT_EQ(account.saves, 1);
}

std::string settingsFile(char textKey, char ansiKey) {
    const char* texts[7] = {"Now", "plain", "colour", "Pick:", "Plain", "Colour", "Which?"};
    std::string bytes(562, '\0');
    for (size_t i = 0; i < 7; ++i)
        bytes.replace(i * 80, std::string(texts[i]).size(), texts[i]);
    bytes[560] = textKey;
    bytes[561] = ansiKey;
    return bytes;
}

TEST_F(Ttypick, SettingsFileGivesTextsAndKeys) {
    const std::string file = settingsFile('P', 'C');
    startWith(&file);
    account.ansi = 1;
    CallerLink link(lib.session, account);
    const std::string prompt =
        "\r\nNow colour.\r\n\r\nPick:\r\n   P) Plain\r\n   C) Colour\r\n\r\nWhich?  ";
    EXPECT_EQ(link.caller.readBytes(prompt.size()), prompt);
    ASSERT_TRUE(link.caller.send("tap"));
    EXPECT_EQ(link.restAfterFinish(), "P\r\n");
    EXPECT_EQ(account.ansi, 0u);
}

TEST_F(Ttypick, EmptyKeysStandForTheDefaults) {
    const std::string file = settingsFile('\0', '\0');
    startWith(&file);
    CallerLink link(lib.session, account);
    const std::string prompt =
        "\r\nNow plain.\r\n\r\nPick:\r\n   T) Plain\r\n   A) Colour\r\n\r\nWhich?  ";
    EXPECT_EQ(link.caller.readBytes(prompt.size()), prompt);
    ASSERT_TRUE(link.caller.send(std::string("\0x", 2) + "a"));
    EXPECT_EQ(link.restAfterFinish(), "A\r\n");
    EXPECT_EQ(account.ansi, 1u);
}

TEST_F(Ttypick, FilesOfOtherSizesGiveDefaults) {
    for (size_t size : {0u, 561u, 563u}) {
        std::string file = settingsFile('P', 'C');
        file.resize(size, 'z');
        writeFile("ttypick.dat", file);
        ASSERT_TRUE(lib.start());
        CallerLink link(lib.session, account);
        const std::string prompt = promptFor("text only");
        EXPECT_EQ(link.caller.readBytes(prompt.size()), prompt) << size;
        ASSERT_TRUE(link.caller.send("t"));
        EXPECT_EQ(link.restAfterFinish(), "T\r\n");
    }
}

TEST_F(Ttypick, RegisterUnregisterAndWindowMessages) {
    ASSERT_TRUE(lib.loaded());
    char name[256] = {};
    DWORD capable = 0;
    EXPECT_EQ(lib.reg(nullptr, name, &capable), 1);
    EXPECT_STREQ(name, "Set terminal type");
    EXPECT_EQ(capable, 1u);
    writeFile("ttypick.dat", settingsFile('T', 'A'));
    EXPECT_EQ(lib.unreg(nullptr), 1);
    EXPECT_EQ(lib.shutdown(nullptr), 1);
    EXPECT_TRUE(fileExists("ttypick.dat"));
    EXPECT_EQ(lib.wndProc(nullptr, 0x0111, 41000, 0), 0);
    EXPECT_TRUE(lib.start(0x1ABCD));
    EXPECT_FALSE(lib.start(0x20000));
}

} // namespace
