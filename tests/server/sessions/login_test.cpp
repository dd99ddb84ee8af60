// One caller at a time through banner, login and account creation, byte for byte.
#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>

#include <cstring>

#include "server/base/caller_threads.h"
#include "server/sessions/new_account.h"
#include "session_harness.h"

using namespace sesstest;
using ovtest::LoopbackClient;

namespace {

// loginRetries has no setter: only the file sets it.
void setLoginRetriesInFile(uint32_t value) {
    ASSERT_TRUE(setTelnetPort(23)); // writes the whole record
    std::string bytes = ovtest::readFile("osvbpref.dat");
    ASSERT_EQ(bytes.size(), 3888u);
    for (int i = 0; i < 4; ++i)
        bytes[40 + i] = char((value >> (8 * i)) & 0xFF);
    ovtest::writeFile("osvbpref.dat", bytes);
    ASSERT_TRUE(loadPreferences());
    ASSERT_EQ(uint32_t(getLoginRetries()), value);
}

std::string failedAttempt(const std::string& name) {
    return LoginPrompt + name + "\r\n" + PasswordPrompt + "\r\n" + Failure;
}

class LoginTest : public SessionTest {};

TEST_F(LoginTest, FirstLoginDialogueIsExact) {
    makeAccount("alice", "Secret");
    SessionServer server;
    LoopbackClient c = server.call();
    EXPECT_EQ(c.readUntil(LoginPrompt), Negotiation + Banner + HowTo + LoginPrompt);
    ASSERT_TRUE(c.send("ALICE\r\n"));
    EXPECT_EQ(c.readUntil(PasswordPrompt), "ALICE\r\n" + PasswordPrompt);
    ASSERT_TRUE(c.send("Secret\r\n"));
    // No echo of the password, only the line end; the name goes on as typed.
    EXPECT_EQ(c.readUntil(areasMarker("ALICE")), "\r\n" + areasMarker("ALICE"));
    ASSERT_TRUE(ovtest::waitUntil([] {
        auto rows = snapshotSessions();
        return rows.size() == 1 && std::strcmp(rows[0].login, "ALICE") == 0;
    }));
    ASSERT_TRUE(c.send("Q"));
    EXPECT_TRUE(c.waitForClose());
    ASSERT_TRUE(ovtest::waitUntil([] { return runningSessionThreads() == 0; }));
    EXPECT_EQ(logEvents(),
              (std::vector<std::string>{"CONNECT", "SUCCESSFUL LOGIN", "DISCONNECT: Logged off"}));
    EXPECT_TRUE(snapshotSessions().empty());
    EXPECT_EQ(activeUserCount(), 0u);
}

TEST_F(LoginTest, ConnectionAuthenticatedCallerSkipsTheLoginDialogue) {
    makeAccount("alice", "Secret");
    SessionStart start = ovtest::standInStart();
    start.authenticatedLogin = "alice";
    SessionServer server(start);
    LoopbackClient c = server.call();
    EXPECT_EQ(c.readUntil(areasMarker("alice")), Negotiation + Banner + areasMarker("alice"));
    ASSERT_TRUE(c.send("Q"));
    EXPECT_TRUE(c.waitForClose());
    ASSERT_TRUE(ovtest::waitUntil([] { return runningSessionThreads() == 0; }));
    EXPECT_EQ(logEvents(),
              (std::vector<std::string>{"CONNECT", "SUCCESSFUL LOGIN", "DISCONNECT: Logged off"}));
}

TEST_F(LoginTest, FourWrongPasswordsEndTheCallWithDefaultRetries) {
    makeAccount("alice", "Secret");
    SessionServer server;
    LoopbackClient c = server.call();
    ASSERT_TRUE(c.send("alice\r\nsecret\r\nnobody\r\nx\r\nalice\r\nSECRET\r\nalice\r\n\r\n"));
    std::string expected = Negotiation + Banner + HowTo + failedAttempt("alice") +
                           failedAttempt("nobody") + failedAttempt("alice") +
                           failedAttempt("alice");
    EXPECT_EQ(c.readToClose(), expected); // no fifth prompt
    ASSERT_TRUE(ovtest::waitUntil([] { return runningSessionThreads() == 0; }));
    EXPECT_EQ(logEvents(), (std::vector<std::string>{
                               "CONNECT", "LOGIN FAILURE", "LOGIN FAILURE", "LOGIN FAILURE",
                               "LOGIN FAILURE", "DISCONNECT: Connection closed without logoff"}));
    EXPECT_NE(ovtest::readFile("bbslog.txt").find("Attempted login:  nobody\r\n"),
              std::string::npos);
}

TEST_F(LoginTest, RetryLimitComesFromTheFileComparedUnsigned) {
    makeAccount("alice", "Secret");
    setLoginRetriesInFile(0);
    {
        SessionServer server;
        LoopbackClient c = server.call();
        ASSERT_TRUE(c.send("alice\r\nwrong\r\n"));
        EXPECT_EQ(c.readToClose(), Negotiation + Banner + HowTo + failedAttempt("alice"));
    }
    setLoginRetriesInFile(0xFFFFFFFFu);
    SessionServer server;
    LoopbackClient c = server.call();
    std::string wrong, expected = Negotiation + Banner + HowTo;
    for (int i = 0; i < 6; ++i) {
        wrong += "alice\r\nwrong\r\n";
        expected += failedAttempt("alice");
    }
    ASSERT_TRUE(c.send(wrong + "alice\r\nSecret\r\n"));
    expected += LoginPrompt + "alice\r\n" + PasswordPrompt + "\r\n" + areasMarker("alice");
    EXPECT_EQ(c.readUntil(areasMarker("alice")), expected);
}

TEST_F(LoginTest, EmptyLinesAtTheLoginPromptCostNothing) {
    makeAccount("alice", "Secret");
    setLoginRetriesInFile(0);
    SessionServer server;
    LoopbackClient c = server.call();
    ASSERT_TRUE(c.send("\r\n\r\nalice\r\nSecret\r\n"));
    EXPECT_EQ(c.readUntil(areasMarker("alice")),
              Negotiation + Banner + HowTo + LoginPrompt + "\r\n" + LoginPrompt + "\r\n" +
                  LoginPrompt + "alice\r\n" + PasswordPrompt + "\r\n" + areasMarker("alice"));
    EXPECT_EQ(logEvents(), (std::vector<std::string>{"CONNECT", "SUCCESSFUL LOGIN"}));
}

TEST_F(LoginTest, KeywordIsAPlainNameWhenNewAccountsAreOff) {
    ASSERT_TRUE(setAllowNewAccounts(false));
    SessionServer server;
    LoopbackClient c = server.call();
    ASSERT_TRUE(c.send("new\r\n"));
    EXPECT_EQ(c.readUntil(PasswordPrompt),
              Negotiation + Banner + LoginPrompt + "new\r\n" + PasswordPrompt);
}

TEST_F(LoginTest, NewAccountWithDefaultsAndTwoPagesOfRules) {
    std::string rules;
    for (int i = 1; i <= 21; ++i)
        rules += "Rule " + std::to_string(i) + "\r\n";
    ovtest::writeFile("rules.txt", rules);
    SessionServer server;
    LoopbackClient c = server.call();
    EXPECT_EQ(c.readUntil(LoginPrompt), Negotiation + Banner + HowTo + LoginPrompt);
    ASSERT_TRUE(c.send("nEw\r\n"));
    EXPECT_EQ(c.readUntil(HandlePrompt), "nEw\r\n" + HandlePrompt);
    ASSERT_TRUE(c.send("x\r\n"));
    EXPECT_EQ(c.readUntil(HandlePrompt), "x\r\n" + NameInUse + HandlePrompt);
    ASSERT_TRUE(c.send("Bob Smith\r\n"));
    EXPECT_EQ(c.readUntil(NewPasswordPrompt), "Bob Smith\r\n" + NewPasswordPrompt);
    ASSERT_TRUE(c.send("pw1\r\npw2\r\n"));
    EXPECT_EQ(c.readUntil(NewPasswordPrompt),
              "\r\n" + RepeatPrompt + "\r\n" +
                  "The passwords did not match.  Please try again.\r\n" + NewPasswordPrompt);
    ASSERT_TRUE(c.send("Pass\r\nPass\r\n\r\nBob\tSmith\xe9\r\n"));
    EXPECT_EQ(c.readUntil(AnsiPrompt), "\r\n" + RepeatPrompt + "\r\n" + RealNamePrompt + "\r\n" +
                                           RealNamePrompt + "Bob\tSmith\xe9\r\n" + AnsiPrompt);
    ASSERT_TRUE(c.send("xy"));
    // Only the accepted key is echoed, in capitals; then the first page of 21 lines.
    EXPECT_EQ(c.readUntil("Rule 21\r\n\r\n"), "Y\r\n\r\n" + rules + "\r\n");
    ASSERT_TRUE(c.send("k"));
    EXPECT_EQ(c.readUntil("\r\n"), "\r\n"); // the empty last page also waits for a key
    ASSERT_TRUE(c.send("k"));
    EXPECT_EQ(c.readUntil(areasMarker("bobsmith")), areasMarker("bobsmith"));

    UserRecord rec;
    ASSERT_TRUE(findUser(rec, "bobsmith"));
    EXPECT_STREQ(rec.password, "Pass");
    EXPECT_STREQ(rec.realName, "Bob*Smith*");
    EXPECT_EQ(rec.userFlags, AnsiTerminalFlag); // no longer marked half-made
    EXPECT_FALSE(isUserReserved("bobsmith"));
    ASSERT_TRUE(c.send("Q"));
    EXPECT_TRUE(c.waitForClose());
    ASSERT_TRUE(ovtest::waitUntil([] { return runningSessionThreads() == 0; }));
    EXPECT_NE(ovtest::readFile("bbslog.txt").find("Login name:  bobsmith\r\n"), std::string::npos);
}

TEST_F(LoginTest, NewAccountPrefersRulesAnsForAnsiCallersAndToleratesNoRules) {
    ovtest::writeFile("rules.ans", "\x1b[1mBe kind\r\n");
    ovtest::writeFile("rules.txt", "Be kind (plain)\r\n");
    SessionServer server;
    LoopbackClient ansi = server.call();
    ASSERT_TRUE(ansi.send("new\r\ncarla\r\np\r\np\r\nCarla\r\nY"));
    std::string seen = ansi.readUntil("Be kind\r\n\r\n");
    EXPECT_NE(seen.find(AnsiPrompt + "Y\r\n\r\n\x1b[1mBe kind\r\n\r\n"), std::string::npos);
    ASSERT_TRUE(ansi.send("k"));
    EXPECT_NE(ansi.readUntil(areasMarker("carla")).find(areasMarker("carla")), std::string::npos);

    std::remove("rules.ans");
    std::remove("rules.txt");
    LoopbackClient plain = server.call();
    ASSERT_TRUE(plain.send("new\r\ndan\r\np\r\np\r\nDan\r\nn"));
    seen = plain.readUntil(areasMarker("dan"));
    EXPECT_NE(seen.find(AnsiPrompt + "N\r\n\r\n" + areasMarker("dan")), std::string::npos);
    UserRecord rec;
    ASSERT_TRUE(findUser(rec, "dan"));
    EXPECT_EQ(rec.userFlags & AnsiTerminalFlag, 0);
}

TEST_F(LoginTest, HangingUpDuringAccountCreationLeavesNoAccount) {
    SessionServer server;
    for (const std::string& upTo : {NewPasswordPrompt, RealNamePrompt, AnsiPrompt}) {
        LoopbackClient c = server.call();
        ASSERT_TRUE(c.send("new\r\nerin\r\n"));
        if (upTo != NewPasswordPrompt) {
            ASSERT_TRUE(c.send("pw\r\npw\r\n"));
        }
        if (upTo == AnsiPrompt) {
            ASSERT_TRUE(c.send("Erin\r\n"));
        }
        ASSERT_NE(c.readUntil(upTo).find(upTo), std::string::npos);
        c.close();
        ASSERT_TRUE(ovtest::waitUntil([] { return runningSessionThreads() == 0; })) << upTo;
        UserRecord rec;
        EXPECT_FALSE(findUser(rec, "erin")) << upTo;
        EXPECT_FALSE(isUserReserved("erin")) << upTo;
    }
    auto events = logEvents();
    ASSERT_EQ(events.size(), 6u);
    EXPECT_EQ(events[5], "DISCONNECT: Connection closed without logoff");
    // The name is free again for the next caller.
    LoopbackClient c = server.call();
    ASSERT_TRUE(c.send("new\r\nerin\r\n"));
    EXPECT_NE(c.readUntil(NewPasswordPrompt).find(NewPasswordPrompt), std::string::npos);
}

// Another program holds the user file when the caller leaves: the half-made account stays, so its
// name stays taken and nobody enters it with its empty password.
TEST_F(LoginTest, AHalfMadeAccountThatCannotBeRemovedStaysReservedAndClosed) {
    SessionServer server;
    {
        LoopbackClient c = server.call();
        ASSERT_TRUE(c.send("new\r\nerin\r\n"));
        ASSERT_NE(c.readUntil(NewPasswordPrompt).find(NewPasswordPrompt), std::string::npos);
        int holder = ::open("bbsusers.dat", O_RDWR | O_CLOEXEC);
        ASSERT_GE(holder, 0);
        ASSERT_EQ(flock(holder, LOCK_EX), 0);
        c.close();
        EXPECT_TRUE(ovtest::waitUntil([] { return runningSessionThreads() == 0; }));
        ::close(holder);
    }
    EXPECT_TRUE(isUserReserved("erin"));
    UserRecord rec;
    ASSERT_TRUE(findUser(rec, "erin"));
    EXPECT_EQ(rec.userFlags, AccountIncompleteFlag);
    LoopbackClient c = server.call();
    ASSERT_TRUE(c.send("erin\r\n\r\nnew\r\nerin\r\n"));
    std::string seen = c.readUntil(NameInUse);
    EXPECT_NE(seen.find(PasswordPrompt + "\r\n" + Failure), std::string::npos) << seen;
    EXPECT_NE(seen.find(NameInUse), std::string::npos) << seen;
}

// Plug-ins run on the caller's thread: its stack is the size the SDK promises.
size_t stageStackBytes = 0;
DisconnectReason measureStack(Connection&, const char*) {
    pthread_attr_t attr;
    if (pthread_getattr_np(pthread_self(), &attr) == 0) {
        (void)pthread_attr_getstacksize(&attr, &stageStackBytes);
        pthread_attr_destroy(&attr);
    }
    return DisconnectReason::LoggedOff;
}

TEST_F(LoginTest, CallersThreadsHaveTheChosenStack) {
    makeAccount("alice", "Secret");
    SessionStart start;
    start.afterLogin = measureStack;
    SessionServer server(start);
    LoopbackClient c = server.call();
    ASSERT_TRUE(c.send("alice\r\nSecret\r\n"));
    EXPECT_TRUE(c.waitForClose());
    ASSERT_TRUE(ovtest::waitUntil([] { return runningSessionThreads() == 0; }));
    EXPECT_EQ(stageStackBytes, CallerThreadStackBytes);
}

TEST_F(LoginTest, LongNamesAndPasswordsCountUpTo31Characters) {
    const std::string name31 = "abcdefghijklmnopqrstuvwxyz01234";
    const std::string password40 = "Password-of-forty-characters-0123456789!";
    SessionServer server;
    LoopbackClient maker = server.call();
    ASSERT_TRUE(maker.send("new\r\n" + name31 + "56789XYZZY\r\n" + password40 + "\r\n" +
                           password40 + "\r\nLong\r\nN"));
    EXPECT_NE(maker.readUntil(areasMarker(name31)).find(areasMarker(name31)), std::string::npos);
    UserRecord rec;
    ASSERT_TRUE(findUser(rec, name31.c_str()));
    EXPECT_EQ(std::string(rec.password), password40.substr(0, 31));

    LoopbackClient c = server.call();
    ASSERT_TRUE(c.send(name31 + "-and-then-some\r\n" + password40 + "\r\n"));
    EXPECT_NE(c.readUntil(areasMarker(name31)).find(areasMarker(name31)), std::string::npos);
}

TEST_F(LoginTest, UnrevealingLoginShowsTheBannerOnlyAfterLogin) {
    makeAccount("alice", "Secret");
    ASSERT_TRUE(setUnrevealingLogin(true));
    SessionServer server;
    LoopbackClient c = server.call();
    EXPECT_EQ(c.readUntil(LoginPrompt), Negotiation + HowTo + LoginPrompt);
    ASSERT_TRUE(c.send("\xff\xf6")); // are you there?
    EXPECT_EQ(c.readUntil("\r\n"), "Yes\r\n");
    ASSERT_TRUE(c.send("alice\r\nSecret\r\n"));
    EXPECT_EQ(c.readUntil(areasMarker("alice")), "alice\r\n" + PasswordPrompt + "\r\n" +
                                                     "\r\n\r\n" + Banner + "\r\n\r\n" +
                                                     areasMarker("alice"));
}

TEST_F(LoginTest, SilenceAtThePasswordPromptTimesOut) {
    ASSERT_TRUE(setIdleTimeoutMs(300));
    SessionServer server;
    LoopbackClient c = server.call();
    ASSERT_TRUE(c.send("alice\r\n"));
    EXPECT_NE(c.readToClose().find(PasswordPrompt), std::string::npos);
    ASSERT_TRUE(ovtest::waitUntil([] { return runningSessionThreads() == 0; }));
    EXPECT_EQ(logEvents(), (std::vector<std::string>{"CONNECT", "DISCONNECT: Timed out"}));
}

TEST(MaskControlChars, ReplacesEverythingOutsidePrintableAscii) {
    char text[] = "a\tb\x7f"
                  "c\x80\xff~ ";
    maskControlChars(text);
    EXPECT_STREQ(text, "a*b*c**~ ");
}

} // namespace
