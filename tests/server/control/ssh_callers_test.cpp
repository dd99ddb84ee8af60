// SSH callers against the whole server in this process (OVHOST_SSH): OpenSSH's ssh in a
// pseudo-terminal and paramiko as real clients, libssh's client side for scripted callers. An
// SSH caller is admitted, listed, dropped, timed out and logged as a Telnet caller is.
#include "server_harness.h"

#include "server/connections/ssh_listener.h"
#include "server/connections/ssh_settings.h"
#include "server/preferences/preferences.h"
#include "server/sessions/session_list.h"
#include "server/sysop/connections_dialog.h"
#include "server/sysop/main_window_resources.h"
#include "server/users/user_db.h"
#include "support/server_fixture.h"
#include "support/ssh_client.h"

#include <cstdio>
#include <cstdlib>

using namespace std::chrono_literals;

namespace {

// Standard output of a command, and whether it exited with 0.
bool run(const std::string& command, std::string& output) {
    output.clear();
    FILE* p = popen(command.c_str(), "r");
    if (!p) return false;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
        output.append(buf, n);
    return pclose(p) == 0;
}

bool haveTool(const char* name) {
    std::string out;
    return run(std::string("command -v ") + name + " >/dev/null 2>&1", out);
}

void makeAnsiAccount(const char* name, const char* password) {
    ovtest::makeAccount(name, password);
    UserRecord rec;
    ASSERT_TRUE(findUser(rec, name));
    rec.userFlags |= AnsiTerminalFlag;
    ASSERT_TRUE(updateUser(rec));
}

class SshCallersTest : public ServerTest {
protected:
    void SetUp() override {
        ServerTest::SetUp();
        uint16_t p = 0;
        int fd = ovtest::listenOnFreePort(p);
        ::close(fd);
        sshPort = p;
        ::setenv(SshSettingName, ("127.0.0.1:" + std::to_string(sshPort)).c_str(), 1);
    }
    void TearDown() override {
        ServerTest::TearDown();
        ::unsetenv(SshSettingName);
    }
    // Host keys made once per run: a 3072-bit RSA key takes a while on a busy machine.
    void start(const std::function<void()>& adjust = {}) {
        static std::string ed25519, rsa;
        preparePreferences(adjust);
        if (!ed25519.empty()) {
            ovtest::writeFile(SshEd25519KeyFile, ed25519);
            ovtest::writeFile(SshRsaKeyFile, rsa);
        }
        startServer();
        ASSERT_TRUE(isSshListening());
        ed25519 = ovtest::readFile(SshEd25519KeyFile);
        rsa = ovtest::readFile(SshRsaKeyFile);
    }
    std::string script(const std::string& args) {
        std::string out;
        std::string command = "/usr/bin/python3 " + ovtest::sourceDir() +
                              "/tests/server/control/ssh_callers.py " + args + " 2>&1";
        EXPECT_TRUE(run(command, out)) << command << "\n" << out;
        return out;
    }
    std::string port() const { return std::to_string(sshPort); }
    uint16_t sshPort = 0;
};

TEST_F(SshCallersTest, RealClientsLogInAndMeetTheFingerprintsShownAtStart) {
    if (!haveTool("ssh") || !haveTool("ssh-keygen"))
        GTEST_SKIP() << "openssh-client is not installed (scripts/setup-deps.sh)";
    start([] { makeAnsiAccount("alice", "pass word"); });
    const std::string knownHosts = workDir.path() + "/known_hosts";

    EXPECT_EQ(script("openssh " + port() + " alice 'pass word' " + knownHosts), "OK\n");
    std::string out;
    ASSERT_TRUE(run("ssh-keygen -lf " + knownHosts, out)) << out;
    const std::vector<std::string> shown = sshStartupLines();
    ASSERT_EQ(shown.size(), 3u);
    const std::string fingerprint = shown[1].substr(shown[1].find("SHA256:"));
    EXPECT_NE(out.find(fingerprint + " [127.0.0.1]:" + port() + " (ED25519)"), std::string::npos)
        << out << shown[1];
    EXPECT_EQ(ovtest::logEvents(),
              (std::vector<std::string>{"CONNECT", "SUCCESSFUL LOGIN", "DISCONNECT: Logged off"}));
    const std::string log = ovtest::readFile("bbslog.txt");
    EXPECT_NE(log.find("CONNECT\r\n   SSH from 127.0.0.1:"), std::string::npos) << log;
    EXPECT_NE(log.find(" (remote) to 127.0.0.1:" + port() + " (local)\r\n"), std::string::npos);

    // The new-account name needs no password and starts the new-account dialogue.
    EXPECT_NE(script("openssh-new " + port() + " " + knownHosts).find("login name"),
              std::string::npos);
    // A client that only offers keyboard-interactive is asked with the board's own prompt.
    EXPECT_EQ(script("kbdint " + port() + " alice 'pass word'"), "['Password:  ']\nOK\n");
}

TEST_F(SshCallersTest, GuessesAreLoggedForFail2banAndEndAfterTheLoginRetries) {
    start([] { ovtest::makeAccount("alice", "right"); });
    // loginRetries is 3: four wrong passwords, then the server hangs up.
    EXPECT_EQ(script("guess " + port() + " alice 10"), "closed\n");
    const std::string log = ovtest::readFile("bbslog.txt");
    size_t failures = 0;
    for (size_t at = 0;
         (at = log.find("LOGIN FAILURE\r\n   SSH from 127.0.0.1:", at)) != std::string::npos; ++at)
        ++failures;
    EXPECT_EQ(failures, 4u) << log;
    EXPECT_EQ(log.find("wrong-"), std::string::npos); // passwords never reach the log
    if (!haveTool("fail2ban-regex")) GTEST_SKIP() << "fail2ban-regex is not installed";
    std::string out;
    ASSERT_TRUE(run("fail2ban-regex --out ip bbslog.txt " + ovtest::sourceDir() +
                        "/dist/fail2ban/filter.d/ovhost.conf 2>&1",
                    out))
        << out;
    EXPECT_EQ(out, "127.0.0.1\n127.0.0.1\n127.0.0.1\n127.0.0.1\n");
}

TEST_F(SshCallersTest, AdmittedListedDroppedAndTimedOutLikeAnyCaller) {
    start([] {
        ovtest::makeAccount("alice", "right");
        ASSERT_TRUE(setMaxUsers(1));
        ASSERT_TRUE(setIdleTimeoutMs(3000));
    });
    char tooMany[PrefTextSize];
    getPrefText(PrefText::TooManyUsers, tooMany);
    const ovtest::SshLogin alice("alice", "right");

    // The one seat is taken: the SSH caller hears so over its channel and is let go.
    ovtest::LoopbackClient seated = callIn();
    ASSERT_GE(seated.fd(), 0);
    ovtest::SshClient refused;
    ASSERT_TRUE(refused.logIn(sshPort, alice)) << refused.error();
    EXPECT_NE(refused.readUntil(tooMany, 10s).find(tooMany), std::string::npos);
    EXPECT_TRUE(refused.waitForClose());
    seated.close();
    ASSERT_TRUE(ovtest::waitUntil([] { return snapshotSessions().empty(); }));

    // Seated, it is listed with its login and description, and the sysop's Disconnect drops it.
    ovtest::SshClient listed;
    ASSERT_TRUE(listed.logIn(sshPort, alice)) << listed.error();
    ASSERT_TRUE(ovtest::waitUntil([] {
        auto s = snapshotSessions();
        return s.size() == 1 && std::string(s[0].login) == "alice";
    }));
    EXPECT_EQ(std::string(snapshotSessions()[0].description).rfind("SSH from 127.0.0.1:", 0), 0u);
    ASSERT_TRUE(ovuiMenuCommand(main, CmdActiveConnections));
    HWND dlg = waitForWindow(ConnectionsDialogId);
    ASSERT_NE(dlg, nullptr);
    ASSERT_TRUE(ovuiListViewSelect(dlg, IdcConnectionList, 0));
    ASSERT_TRUE(ovuiClick(dlg, IdcDisconnectCaller));
    EXPECT_NE(ovtest::answerMessageBox(IDYES), "");
    EXPECT_TRUE(listed.waitForClose());
    ASSERT_TRUE(ovuiCloseBox(dlg));
    ASSERT_TRUE(ovtest::waitUntil([] { return snapshotSessions().empty(); }));

    // A caller who says nothing is timed out.
    ovtest::SshClient idle;
    ASSERT_TRUE(idle.logIn(sshPort, alice)) << idle.error();
    EXPECT_TRUE(idle.waitForClose(20s));
    EXPECT_TRUE(ovtest::waitUntil([] { return snapshotSessions().empty(); }));
    EXPECT_EQ(ovtest::logEvents(),
              (std::vector<std::string>{
                  "CONNECT", "CONNECT", "TOO MANY USERS",
                  "DISCONNECT: Connection closed without logoff", // refused
                  "DISCONNECT: Connection closed without logoff", // the Telnet caller
                  "CONNECT", "SUCCESSFUL LOGIN", "DISCONNECT: Connection closed without logoff",
                  "CONNECT", "SUCCESSFUL LOGIN", "DISCONNECT: Timed out"}));
}

} // namespace
