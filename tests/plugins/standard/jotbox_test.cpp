// The memo plug-in, loaded with dlopen and driven over a loopback socket.
#include "plugins/standard/plugin_harness.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <memory>

namespace {

using ovtest::fileExists;
using ovtest::readFile;
using ovtest::writeFile;
using plugtest::CallerLink;

const std::string Instructions = "\r\nEnter a one-line memo to the sysop, or Ctrl-C to cancel.\r\n";
const std::string Success = "\r\nThe message has been recorded.\r\n";

class JotboxSession : public ovtest::WorkDirTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(lib.loaded());
        ASSERT_TRUE(lib.start());
    }
    void TearDown() override {
        if (lib.loaded()) {
            EXPECT_EQ(lib.shutdown(nullptr), 1);
        }
    }
    plugtest::PluginLibrary lib{"jotbox.so"};
    plugtest::FakeAccount account;
};

TEST_F(JotboxSession, RecordsEditedMemoAndConfirms) {
    CallerLink link(lib.session, account);
    EXPECT_EQ(link.caller.readUntil(Instructions), Instructions);
    ASSERT_TRUE(link.caller.send("hi\bo\r"));
    EXPECT_EQ(link.restAfterFinish(), "hi\b \bo" + Success);
    EXPECT_EQ(link.result, 1);
    EXPECT_EQ(link.endSession, 0u);
    EXPECT_EQ(readFile("jotbox.txt"), "[alice]:  \"ho\"\r\n");
}

TEST_F(JotboxSession, DelErasesAsBackspaceDoes) {
    CallerLink link(lib.session, account);
    link.caller.readUntil(Instructions);
    ASSERT_TRUE(link.caller.send("hix\x7f\x7fo\r"));
    EXPECT_EQ(link.restAfterFinish(), "hix\b \b\b \bo" + Success);
    EXPECT_EQ(readFile("jotbox.txt"), "[alice]:  \"ho\"\r\n");
}

TEST_F(JotboxSession, BackspaceOnEmptyAndOtherBytesSendNothing) {
    CallerLink link(lib.session, account);
    link.caller.readUntil(Instructions);
    ASSERT_TRUE(link.caller.send(std::string("\b\x7f\n\x01\x80\xff", 6) + "a\r"));
    EXPECT_EQ(link.restAfterFinish(), "a" + Success);
    EXPECT_EQ(readFile("jotbox.txt"), "[alice]:  \"a\"\r\n");
}

TEST_F(JotboxSession, EmptyMemoIsRecordedWithEmptyQuotes) {
    writeFile("jotbox.txt", "[bob]:  \"old\"\r\n");
    account.loginName = "carol.b";
    CallerLink link(lib.session, account);
    link.caller.readUntil(Instructions);
    ASSERT_TRUE(link.caller.send("\r\n"));
    EXPECT_EQ(link.restAfterFinish(), Success);
    EXPECT_EQ(readFile("jotbox.txt"), "[bob]:  \"old\"\r\n[carol.b]:  \"\"\r\n");
}

TEST_F(JotboxSession, CtrlCCancelsWithoutRecording) {
    CallerLink link(lib.session, account);
    link.caller.readUntil(Instructions);
    ASSERT_TRUE(link.caller.send("ab\x03"));
    EXPECT_EQ(link.restAfterFinish(), "ab");
    EXPECT_EQ(link.result, 1);
    EXPECT_EQ(link.endSession, 0u);
    EXPECT_FALSE(fileExists("jotbox.txt"));
}

TEST_F(JotboxSession, HangUpMidMemoEndsTheSession) {
    CallerLink link(lib.session, account);
    link.caller.readUntil(Instructions);
    ASSERT_TRUE(link.caller.send("ab"));
    EXPECT_EQ(link.caller.readBytes(2), "ab");
    link.caller.close();
    link.finish();
    EXPECT_EQ(link.result, 0);
    EXPECT_EQ(link.endSession, 1u);
    EXPECT_FALSE(fileExists("jotbox.txt"));
}

TEST_F(JotboxSession, FullMemoWaitsForEnter) {
    const std::string memo(79, 'x');
    CallerLink link(lib.session, account);
    link.caller.readUntil(Instructions);
    // The 80th character is refused (not echoed); a backspace still edits.
    ASSERT_TRUE(link.caller.send(memo + "yz\b" + "w\r"));
    EXPECT_EQ(link.restAfterFinish(), memo + "\b \bw" + Success);
    EXPECT_EQ(readFile("jotbox.txt"), "[alice]:  \"" + memo.substr(0, 78) + "w\"\r\n");
}

TEST_F(JotboxSession, UnreadableLoginNameDropsTheMemoQuietly) {
    CallerLink link(lib.session, account);
    link.caller.readUntil(Instructions);
    {
        std::lock_guard<std::mutex> hold(account.lock);
        account.refuseGets = true;
    }
    ASSERT_TRUE(link.caller.send("a\r"));
    EXPECT_EQ(link.restAfterFinish(), "a");
    EXPECT_EQ(link.result, 1);
    EXPECT_EQ(link.endSession, 0u);
    EXPECT_FALSE(fileExists("jotbox.txt"));
}

// Holds jotbox.txt the way a memo being appended does.
struct MemoFileHold {
    MemoFileHold() : fd(open("jotbox.txt", O_RDWR | O_CREAT | O_CLOEXEC, 0644)) {
        EXPECT_GE(fd, 0);
        EXPECT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
    }
    ~MemoFileHold() { release(); }
    void release() {
        if (fd >= 0) close(fd);
        fd = -1;
    }
    int fd;
};

TEST_F(JotboxSession, SimultaneousMemosAreBothRecorded) {
    plugtest::FakeAccount second;
    second.loginName = "bob";
    MemoFileHold hold;
    CallerLink one(lib.session, account);
    CallerLink two(lib.session, second);
    one.caller.readUntil(Instructions);
    two.caller.readUntil(Instructions);
    ASSERT_TRUE(one.caller.send("first\r"));
    ASSERT_TRUE(two.caller.send("second\r"));
    EXPECT_EQ(one.caller.readBytes(5), "first");
    EXPECT_EQ(two.caller.readBytes(6), "second");
    EXPECT_EQ(readFile("jotbox.txt"), ""); // nobody writes past the lock
    hold.release();
    EXPECT_EQ(one.restAfterFinish(), Success);
    EXPECT_EQ(two.restAfterFinish(), Success);
    const std::string memos = readFile("jotbox.txt");
    EXPECT_TRUE(memos == "[alice]:  \"first\"\r\n[bob]:  \"second\"\r\n" ||
                memos == "[bob]:  \"second\"\r\n[alice]:  \"first\"\r\n")
        << memos;
}

TEST_F(JotboxSession, ManyCallersAtOnceLoseNoMemo) {
    constexpr int Callers = 8;
    std::vector<std::unique_ptr<plugtest::FakeAccount>> accounts;
    std::vector<std::unique_ptr<CallerLink>> links;
    for (int i = 0; i < Callers; ++i) {
        accounts.push_back(std::make_unique<plugtest::FakeAccount>());
        accounts.back()->loginName = "user" + std::to_string(i);
        links.push_back(std::make_unique<CallerLink>(lib.session, *accounts.back()));
    }
    for (auto& link : links)
        link->caller.readUntil(Instructions);
    for (auto& link : links)
        ASSERT_TRUE(link->caller.send("memo\r"));
    for (auto& link : links)
        EXPECT_EQ(link->restAfterFinish(), "memo" + Success);
    const std::string memos = readFile("jotbox.txt");
    for (int i = 0; i < Callers; ++i)
        EXPECT_NE(memos.find("[user" + std::to_string(i) + "]:  \"memo\"\r\n"), std::string::npos);
    EXPECT_EQ(memos.size(), Callers * std::string("[user0]:  \"memo\"\r\n").size());
}

TEST_F(JotboxSession, MemoFileHeldTooLongDropsTheMemoWithoutMessage) {
    MemoFileHold hold;
    CallerLink link(lib.session, account);
    link.caller.readUntil(Instructions);
    ASSERT_TRUE(link.caller.send("late\r"));
    link.finish(); // gives up after its bounded wait
    EXPECT_EQ(link.caller.readToClose(), "late");
    EXPECT_EQ(link.result, 1);
    EXPECT_EQ(link.endSession, 0u);
    EXPECT_EQ(readFile("jotbox.txt"), "");
}

std::string settingsBytes(const std::string& instructions, const std::string& success) {
    std::string bytes(160, '\0');
    bytes.replace(0, instructions.size(), instructions);
    bytes.replace(80, success.size(), success);
    return bytes;
}

class JotboxSettings : public ovtest::WorkDirTest {
protected:
    plugtest::PluginLibrary lib{"jotbox.so"};
    plugtest::FakeAccount account;

    std::string dialogueFor(const std::string& typed) {
        EXPECT_TRUE(lib.start());
        CallerLink link(lib.session, account);
        EXPECT_TRUE(link.caller.send(typed));
        return link.restAfterFinish();
    }
};

TEST_F(JotboxSettings, ExactFileGivesItsTexts) {
    writeFile("jotbox.dat", settingsBytes("Say it:", "Noted."));
    EXPECT_EQ(dialogueFor("k\r"), "\r\nSay it:\r\nk\r\nNoted.\r\n");
}

TEST_F(JotboxSettings, FilesOfOtherSizesGiveDefaults) {
    for (size_t size : {0u, 159u, 161u}) {
        std::string bytes = settingsBytes("Say it:", "Noted.");
        bytes.resize(size, 'z');
        writeFile("jotbox.dat", bytes);
        EXPECT_EQ(dialogueFor("\x03"), Instructions) << size;
    }
    unlink("jotbox.dat");
    EXPECT_EQ(dialogueFor("\x03"), Instructions);
}

TEST_F(JotboxSettings, UnterminatedTextsAreCutTo78Characters) {
    writeFile("jotbox.dat", std::string(160, 'q'));
    EXPECT_EQ(dialogueFor("\r"),
              "\r\n" + std::string(78, 'q') + "\r\n\r\n" + std::string(78, 'q') + "\r\n");
}

TEST_F(JotboxSettings, RegisterAndUnregister) {
    char name[256] = {};
    DWORD capable = 0;
    ASSERT_TRUE(lib.loaded());
    EXPECT_EQ(lib.reg(nullptr, name, &capable), 1);
    EXPECT_STREQ(name, "Memo to sysop");
    EXPECT_EQ(capable, 1u);
    writeFile("jotbox.txt", "[a]:  \"b\"\r\n");
    writeFile("jotbox.dat", settingsBytes("x", "y"));
    EXPECT_EQ(lib.unreg(nullptr), 1);
    EXPECT_FALSE(fileExists("jotbox.txt"));
    EXPECT_TRUE(fileExists("jotbox.dat"));
}

TEST_F(JotboxSettings, StartupAcceptsOnlyInterfaceOne) {
    ASSERT_TRUE(lib.loaded());
    EXPECT_TRUE(lib.start(0x10000));
    EXPECT_TRUE(lib.start(0x1FFFF));
    EXPECT_FALSE(lib.start(0x20000));
    EXPECT_FALSE(lib.start(0xFFFF));
    EXPECT_EQ(lib.startup(nullptr, nullptr, 0, 0, nullptr, nullptr), 0);
}

} // namespace
