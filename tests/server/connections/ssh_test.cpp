// The SSH listener and connection with libssh's client side over 127.0.0.1: host keys, the
// login rules handed in by the session layer, what the client says about its terminal, time
// limits before and after the login, and the bound on handshakes.
#include "server/base/record_codec.h"
#include "server/connections/ssh_connection.h"
#include "server/connections/ssh_listener.h"
#include "server/connections/ssh_settings.h"
#include "server/preferences/preferences.h"
#include "support/ssh_client.h"
#include "support/test_support.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

namespace {

// What the callers' threads saw, for the test thread to look at.
struct Seen {
    std::mutex lock;
    std::condition_variable changed;
    std::vector<std::string> tries; // "name/password", "name/-" for a try without password
    int handshakesDone = 0;
    int threadsLeft = 0;
    bool lastReady = false;
    bool lastTimedOut = false;
    std::string login, terminal;
    uint32_t columns = 0, rows = 0;
    bool utf8 = false, newAccount = false;
    std::string session; // what the session part below did
    SshConnection* live = nullptr;
};
Seen seen;

SshLoginVerdict testCheck(Connection&, const char* name, const char* password) {
    std::lock_guard g(seen.lock);
    seen.tries.push_back(std::string(name) + "/" + (password ? password : "-"));
    if (std::strcmp(name, "new") == 0) return SshLoginVerdict::NewAccount;
    if (password && std::strcmp(name, "alice") == 0 && std::strcmp(password, "secret") == 0)
        return SshLoginVerdict::Accepted;
    return SshLoginVerdict::Refused;
}

// A small session: echo lines back until "quit", "write" sends 3 MB, "peek" looks for keys, "wait"
// reads with a short limit; the outcome goes to seen.session.
void testSession(SshConnection& c) {
    (void)c.setTimeouts(5000, 20000);
    char line[LineBufferSize];
    c.setEcho(true);
    std::string outcome = "ended";
    while (c.readLine(line)) {
        if (std::strcmp(line, "quit") == 0) break;
        if (std::strcmp(line, "write") == 0) {
            (void)c.setTimeouts(1500, 20000);
            std::string big(3u << 20, 'w');
            bool ok = c.write(big.data(), static_cast<uint32_t>(big.size()));
            outcome = ok ? "written" : (c.timedOut() ? "write timed out" : "write failed");
            break;
        }
        if (std::strcmp(line, "peek") == 0) {
            // A door's looks for keys, 200 ms each for 5 s, with no time-out of the read near:
            // a packet of protocol alone arriving meanwhile is no key and must not hold a look
            // in a read until a key comes.
            (void)c.setTimeouts(5000, 60000);
            bool ok = c.writeString("[peek]\r\n");
            for (int i = 0; i < 25 && ok; ++i) {
                char keys[8];
                uint32_t got = 99;
                ok = c.readAvailable(keys, sizeof keys, 200, -1, &got) && got == 0;
            }
            outcome = ok && c.writeString("[nothing]\r\n") ? "peeked" : "peek failed";
            break;
        }
        if (std::strcmp(line, "wait") == 0) (void)c.setTimeouts(5000, 500);
        if (!c.writeString((std::string("[") + line + "]\r\n").c_str())) break;
    }
    if (outcome == "ended" && c.timedOut()) outcome = "read timed out";
    std::lock_guard g(seen.lock);
    seen.session = outcome;
}

void handleCaller(SshCaller caller) {
    {
        std::lock_guard g(seen.lock);
        ++seen.threadsLeft;
    }
    std::thread([caller] {
        {
            SshConnection c(caller.socketFd, caller.session);
            bool ready = c.handshake(testCheck, caller.deadline);
            endSshHandshake(caller.socketFd);
            {
                std::lock_guard g(seen.lock);
                ++seen.handshakesDone;
                seen.lastReady = ready;
                seen.lastTimedOut = c.handshakeTimedOut();
                seen.login = c.loginName();
                seen.terminal = c.terminalType();
                seen.columns = c.columns();
                seen.rows = c.rows();
                seen.utf8 = c.localeIsUtf8();
                seen.newAccount = c.wantsNewAccount();
                if (ready) seen.live = &c;
            }
            seen.changed.notify_all();
            if (ready) testSession(c);
            std::lock_guard g(seen.lock);
            seen.live = nullptr;
        }
        std::lock_guard g(seen.lock);
        --seen.threadsLeft;
        seen.changed.notify_all();
    }).detach();
}

uint16_t freePort() {
    uint16_t port = 0;
    int fd = ovtest::listenOnFreePort(port);
    ::close(fd);
    return port;
}

mode_t modeOf(const char* path) {
    struct stat st {};
    return ::stat(path, &st) == 0 ? (st.st_mode & 0777) : 0;
}

class SshTest : public ovtest::WorkDirTest {
protected:
    void SetUp() override {
        (void)loadPreferences();
        port = freePort();
        ::setenv(SshSettingName, ("127.0.0.1:" + std::to_string(port)).c_str(), 1);
        std::lock_guard g(seen.lock);
        seen.tries.clear();
        seen.handshakesDone = 0;
        seen.session.clear();
    }
    void TearDown() override {
        stopSshListener();
        ::unsetenv(SshSettingName);
        std::unique_lock g(seen.lock);
        EXPECT_TRUE(seen.changed.wait_for(g, 30s, [] { return seen.threadsLeft == 0; }));
        EXPECT_EQ(sshHandshakesInProgress(), 0u);
    }
    // Keys made once per run: a 3072-bit RSA key takes a while on a busy machine.
    void start(bool freshKeys = false) {
        static std::string ed25519, rsa;
        if (!freshKeys && !ed25519.empty()) {
            ovtest::writeFile(SshEd25519KeyFile, ed25519);
            ovtest::writeFile(SshRsaKeyFile, rsa);
        }
        ASSERT_TRUE(startSshListener(handleCaller));
        ed25519 = ovtest::readFile(SshEd25519KeyFile);
        rsa = ovtest::readFile(SshRsaKeyFile);
    }
    bool waitForHandshakes(int n, std::chrono::milliseconds bound = 30s) {
        std::unique_lock g(seen.lock);
        return seen.changed.wait_for(g, bound, [n] { return seen.handshakesDone >= n; });
    }
    bool waitForSession(std::chrono::milliseconds bound = 30s) {
        std::unique_lock g(seen.lock);
        return seen.changed.wait_for(g, bound, [] { return seen.threadsLeft == 0; });
    }
    uint16_t port = 0;
};

TEST(SshSettings, AddressLocaleAndTerminalText) {
    SshAddress a;
    ASSERT_TRUE(parseSshAddress("2222", a));
    EXPECT_EQ(a.port, 2222);
    EXPECT_EQ(a.host[0], 0);
    ASSERT_TRUE(parseSshAddress("127.0.0.1:22", a));
    EXPECT_EQ(a.port, 22);
    EXPECT_EQ(a.host[0], 127);
    EXPECT_EQ(a.host[3], 1);
    ASSERT_TRUE(parseSshAddress("LocalHost:65535", a));
    EXPECT_EQ(a.host[0], 127);
    for (const char* bad : {"", "0", "65536", "x", "1.2.3:22", "1.2.3.4.5:22", "256.1.1.1:22",
                            "[::1]:22", ":22", "1.2.3.4:", "22 ", "-1", "123456"})
        EXPECT_FALSE(parseSshAddress(bad, a)) << bad;

    for (const char* yes : {"en_US.UTF-8", "C.utf8", "de_DE.utf-8@euro", "x.UTF8"})
        EXPECT_TRUE(localeIsUtf8(yes)) << yes;
    for (const char* no : {"C", "POSIX", "en_US", "en_US.ISO-8859-1", "UTF-8", "en.UTF-80", ""})
        EXPECT_FALSE(localeIsUtf8(no)) << no;
    SshLocale l;
    EXPECT_FALSE(noteLocaleVariable(l, "TERM", "en_US.UTF-8"));
    EXPECT_TRUE(noteLocaleVariable(l, "LC_ALL", "C"));
    EXPECT_TRUE(noteLocaleVariable(l, "LANG", "en_US.UTF-8")); // weaker than LC_ALL
    EXPECT_FALSE(l.utf8);
    SshLocale m;
    EXPECT_TRUE(noteLocaleVariable(m, "LANG", "C"));
    EXPECT_TRUE(noteLocaleVariable(m, "LC_CTYPE", "C.UTF-8"));
    EXPECT_TRUE(noteLocaleVariable(m, "LC_ALL", "")); // empty counts as unset
    EXPECT_TRUE(m.utf8);

    char term[8];
    copyTerminalType(term, sizeof term, "xterm-256color");
    EXPECT_STREQ(term, "xterm-2");
    copyTerminalType(term, sizeof term, "a\x1b[m\x80");
    EXPECT_STREQ(term, "a?[m?");
}

TEST_F(SshTest, OffUnlessSetAndRefusedWhenMalformed) {
    ::unsetenv(SshSettingName);
    EXPECT_FALSE(startSshListener(handleCaller));
    ::setenv(SshSettingName, "not-a-port", 1);
    EXPECT_FALSE(startSshListener(handleCaller));
    EXPECT_FALSE(isSshListening());
    EXPECT_FALSE(ovtest::fileExists(SshEd25519KeyFile)); // nothing made for nothing
}

TEST_F(SshTest, HostKeysMadeOncePrivateAndShownAtEachStart) {
    start(true);
    EXPECT_EQ(modeOf(SshEd25519KeyFile), 0600u);
    EXPECT_EQ(modeOf(SshRsaKeyFile), 0600u);
    std::vector<std::string> lines = sshStartupLines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "SSH on 127.0.0.1:" + std::to_string(port));
    EXPECT_EQ(lines[1].rfind("ED25519 key fingerprint is SHA256:", 0), 0u) << lines[1];
    EXPECT_EQ(lines[2].rfind("RSA key fingerprint is SHA256:", 0), 0u) << lines[2];
    // The fingerprint printed is the one a client meets.
    ovtest::SshClient client;
    ASSERT_TRUE(client.connectTo(port)) << client.error();
    EXPECT_EQ("ED25519 key fingerprint is " + client.serverFingerprint(), lines[1]);
    client.close();
    const std::string ed25519 = ovtest::readFile(SshEd25519KeyFile);

    // The next start keeps the keys, and a key others could read is made private again.
    stopSshListener();
    ASSERT_EQ(::chmod(SshRsaKeyFile, 0644), 0);
    start();
    EXPECT_EQ(sshStartupLines(), lines);
    EXPECT_EQ(ovtest::readFile(SshEd25519KeyFile), ed25519);
    EXPECT_EQ(modeOf(SshRsaKeyFile), 0600u);

    // A key file that cannot be read is the sysop's to mend: left alone, and no SSH.
    stopSshListener();
    ovtest::writeFile(SshRsaKeyFile, "garbage");
    EXPECT_FALSE(startSshListener(handleCaller));
    EXPECT_EQ(ovtest::readFile(SshRsaKeyFile), "garbage");
}

TEST_F(SshTest, PasswordLoginKeepsTheClientsTerminalAndCarriesBytes) {
    start();
    ovtest::SshClient client;
    ovtest::SshLogin login{"alice", "secret"};
    login.term = "xterm-256color";
    login.columns = 132;
    login.rows = 43;
    login.lang = "en_GB.UTF-8";
    ASSERT_TRUE(client.connectTo(port)) << client.error();
    ovtest::SshLogin wrong = login;
    wrong.password = "Secret";
    EXPECT_FALSE(client.authenticate(wrong));
    ASSERT_TRUE(client.authenticate(login)) << client.error();
    ASSERT_TRUE(client.openShell(login)) << client.error();
    ASSERT_TRUE(waitForHandshakes(1));
    {
        std::lock_guard g(seen.lock);
        EXPECT_TRUE(seen.lastReady);
        EXPECT_EQ(seen.login, "alice");
        EXPECT_FALSE(seen.newAccount);
        EXPECT_EQ(seen.terminal, "xterm-256color");
        EXPECT_EQ(seen.columns, 132u);
        EXPECT_EQ(seen.rows, 43u);
        EXPECT_TRUE(seen.utf8);
        EXPECT_EQ(seen.tries.back(), "alice/secret");
        EXPECT_NE(std::find(seen.tries.begin(), seen.tries.end(), "alice/Secret"),
                  seen.tries.end());
    }
    ASSERT_TRUE(client.send("hello\r"));
    EXPECT_EQ(client.readUntil("[hello]\r\n"), "hello\r\n[hello]\r\n");
    // All 255 byte values both ways: no translation at this layer.
    ASSERT_TRUE(client.send("\xff\xfe\x01x\r"));
    EXPECT_NE(client.readUntil("]\r\n").find("[\xff\xfe\x01x]"), std::string::npos);
    ASSERT_TRUE(client.send("quit\r"));
    EXPECT_TRUE(client.waitForClose());
    ASSERT_TRUE(waitForSession());
    EXPECT_EQ(seen.session, "ended");
}

TEST_F(SshTest, KeyboardInteractiveUsesTheBoardsPromptAndNewNeedsNoPassword) {
    start();
    ovtest::SshClient client;
    ovtest::SshLogin login{"alice", "secret"};
    login.keyboardInteractive = true;
    ASSERT_TRUE(client.logIn(port, login)) << client.error();
    ASSERT_TRUE(waitForHandshakes(1));
    EXPECT_EQ(seen.login, "alice");
    client.close();

    ovtest::SshClient newcomer;
    ovtest::SshLogin asNew{"new", "whatever"};
    ASSERT_TRUE(newcomer.logIn(port, asNew)) << newcomer.error();
    ASSERT_TRUE(waitForHandshakes(2));
    std::lock_guard g(seen.lock);
    EXPECT_TRUE(seen.newAccount);
    EXPECT_EQ(seen.login, "new");
}

TEST_F(SshTest, RefusedPasswordsEndTheConnectionAfterTheLoginRetries) {
    // Two tries: loginRetries is 1.
    uint8_t image[PreferencesSize];
    copyPreferences(image);
    storeLe32(image + 40, 1);
    ovtest::writeFile(PreferencesFileName,
                      std::string(reinterpret_cast<char*>(image), sizeof image));
    ASSERT_TRUE(loadPreferences());
    ASSERT_EQ(getLoginRetries(), 1);
    start();
    ovtest::SshClient client;
    ovtest::SshLogin login{"alice", "wrong"};
    ASSERT_TRUE(client.connectTo(port));
    EXPECT_FALSE(client.authenticate(login));
    EXPECT_FALSE(client.authenticate(login));
    ASSERT_TRUE(waitForHandshakes(1));
    EXPECT_FALSE(seen.lastReady);
    EXPECT_FALSE(seen.lastTimedOut);
    login.password = "secret"; // too late: the server has hung up
    EXPECT_FALSE(client.authenticate(login));
    std::lock_guard g(seen.lock);
    EXPECT_EQ(std::count(seen.tries.begin(), seen.tries.end(), "alice/wrong"), 2);
}

TEST_F(SshTest, SilentClientsTimeOutAndHandshakesAreBounded) {
    ASSERT_TRUE(setIdleTimeoutMs(3000)); // the login grace follows the idle time-out
    start();
    const int before = ovtest::openDescriptorCount();
    // The bound's worth of connections that never speak fill every handshake slot...
    std::vector<ovtest::LoopbackClient> silent(MaxSshHandshakes);
    for (auto& s : silent)
        ASSERT_TRUE(s.connectTo(port));
    ASSERT_TRUE(ovtest::waitUntil([] { return sshHandshakesInProgress() == MaxSshHandshakes; }));
    // ...so the next one is closed before it hears a word.
    ovtest::LoopbackClient extra;
    ASSERT_TRUE(extra.connectTo(port));
    EXPECT_TRUE(extra.waitForClose());
    EXPECT_EQ(extra.pending, "");
    // At the grace time every silent one is let go, counted as timed out.
    ASSERT_TRUE(waitForHandshakes(MaxSshHandshakes));
    EXPECT_TRUE(seen.lastTimedOut);
    EXPECT_FALSE(seen.lastReady);
    for (auto& s : silent)
        EXPECT_TRUE(s.waitForClose());
    silent.clear();
    extra.close();
    EXPECT_TRUE(waitForSession());
    EXPECT_TRUE(ovtest::waitUntil([&] { return ovtest::openDescriptorCount() <= before; }))
        << ovtest::openDescriptorCount() << " descriptors, " << before << " before";
    // A caller who speaks gets in again.
    ovtest::SshClient client;
    EXPECT_TRUE(client.logIn(port, {"alice", "secret"})) << client.error();
}

TEST_F(SshTest, ReadsAndWritesTimeOutAndDisconnectWakesTheReader) {
    start();
    ovtest::SshClient idle;
    ASSERT_TRUE(idle.logIn(port, {"alice", "secret"})) << idle.error();
    ASSERT_TRUE(idle.send("wait\r"));
    EXPECT_NE(idle.readUntil("[wait]\r\n").find("[wait]"), std::string::npos);
    ASSERT_TRUE(waitForSession());
    EXPECT_EQ(seen.session, "read timed out");

    // A look for keys returns when only protocol came (here an ignore message).
    ovtest::SshClient quiet;
    ASSERT_TRUE(quiet.logIn(port, {"alice", "secret"})) << quiet.error();
    ASSERT_TRUE(quiet.send("peek\r"));
    EXPECT_NE(quiet.readUntil("[peek]\r\n"), "");
    ASSERT_TRUE(quiet.sendIgnore());
    EXPECT_NE(quiet.readUntil("[nothing]\r\n", 20s), "");
    ASSERT_TRUE(waitForSession());
    EXPECT_EQ(seen.session, "peeked");

    // A client that takes nothing: the server's write stops at the window and times out.
    ovtest::SshClient stuck;
    ASSERT_TRUE(stuck.logIn(port, {"alice", "secret"})) << stuck.error();
    ASSERT_TRUE(stuck.send("write\r"));
    ASSERT_TRUE(waitForSession());
    EXPECT_EQ(seen.session, "write timed out");

    // disconnect() from another thread ends a read that has no time limit near.
    ovtest::SshClient dropped;
    ASSERT_TRUE(dropped.logIn(port, {"alice", "secret"})) << dropped.error();
    ASSERT_TRUE(ovtest::waitUntil([] {
        std::lock_guard g(seen.lock);
        return seen.live != nullptr;
    }));
    {
        std::lock_guard g(seen.lock);
        char who[LineBufferSize];
        seen.live->describe(who);
        EXPECT_EQ(std::string(who).rfind("SSH from 127.0.0.1:", 0), 0u) << who;
        EXPECT_NE(
            std::string(who).find(" (remote) to 127.0.0.1:" + std::to_string(port) + " (local)"),
            std::string::npos)
            << who;
        EXPECT_TRUE(seen.live->disconnect());
    }
    EXPECT_TRUE(dropped.waitForClose());
    ASSERT_TRUE(waitForSession());
    EXPECT_EQ(seen.session, "ended");

    // Stopping the listener ends a handshake at once, not at the end of its grace.
    ovtest::LoopbackClient silent;
    ASSERT_TRUE(silent.connectTo(port));
    ASSERT_TRUE(ovtest::waitUntil([] { return sshHandshakesInProgress() == 1; }));
    stopSshListener();
    EXPECT_TRUE(silent.waitForClose(5s));
}

} // namespace
