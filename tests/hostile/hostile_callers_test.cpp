// Hostile callers against a running ovhost: a flood of connections far beyond its seats,
// callers that never read, megabytes at a prompt, running out of descriptors, and a password
// guesser. Afterwards the server answers as before and holds no more descriptors or threads
// than when it was idle.
#include "ovhost_process.h"
#include "support/ssh_client.h"
#include "support/web_client.h"

#include "server/base/record_codec.h"
#include "server/preferences/preferences.h"
#include "server/users/user_db.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <vector>

using namespace std::chrono_literals;

namespace {

constexpr uint32_t Seats = 5;

// Non-blocking sockets connecting to the port at once.
std::vector<int> openMany(uint16_t port, int count, int receiveBuffer = 0) {
    std::vector<int> fds;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    for (int i = 0; i < count; ++i) {
        int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (fd < 0) break;
        if (receiveBuffer > 0)
            setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        (void)connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        fds.push_back(fd);
    }
    return fds;
}

// Reads every socket until the server has closed it all; false when some stay open past the
// bound. Sockets that were never accepted count as closed once the connect fails.
bool waitAllClosed(std::vector<int>& fds, std::chrono::milliseconds bound) {
    std::vector<bool> done(fds.size(), false);
    size_t left = fds.size();
    auto deadline = std::chrono::steady_clock::now() + bound;
    char buf[4096];
    while (left > 0 && std::chrono::steady_clock::now() < deadline) {
        std::vector<pollfd> p;
        std::vector<size_t> index;
        for (size_t i = 0; i < fds.size(); ++i)
            if (!done[i]) {
                p.push_back({fds[i], POLLIN, 0});
                index.push_back(i);
            }
        if (poll(p.data(), p.size(), 200) <= 0) continue;
        for (size_t k = 0; k < p.size(); ++k) {
            if (!p[k].revents) continue;
            ssize_t n = recv(p[k].fd, buf, sizeof buf, 0);
            if (n > 0 || (n < 0 && errno == EAGAIN)) continue;
            done[index[k]] = true;
            --left;
        }
    }
    return left == 0;
}

void closeAll(std::vector<int>& fds) {
    for (int fd : fds)
        close(fd);
    fds.clear();
}

// No limit on login attempts per call (-1 in the file), so that one caller can go on.
void allowEndlessLoginAttempts() {
    uint8_t image[PreferencesSize];
    copyPreferences(image);
    storeLe32(image + 40, 0xFFFFFFFFu);
    ovtest::writeFile(PreferencesFileName,
                      std::string(reinterpret_cast<char*>(image), sizeof image));
}

// Sends `line` over and over without reading, a little at a time, until the server stops taking
// it (its own writes to us are stuck) or `limit` bytes went. Keeping the server's input queue
// short means it gets stuck on its writes soon, not after working through megabytes.
size_t pushUntilStuck(int fd, const std::string& line, size_t limit) {
    std::string burst;
    while (burst.size() < 4096)
        burst += line;
    size_t sent = 0;
    while (sent < limit) {
        ssize_t n = send(fd, burst.data(), burst.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) sent += size_t(n);
        int queued = 0;
        bool taken =
            ovtest::waitUntil([&] { return ioctl(fd, SIOCOUTQ, &queued) == 0 && queued == 0; }, 2s);
        if (!taken || n <= 0) break;
    }
    return sent;
}

class HostileCallers : public ::testing::Test {
protected:
    OvhostProcess host;
    int idleDescriptors = 0;
    int idleThreads = 0;

    void startWith(uint32_t seats, uint32_t idleMs, int fileLimit = 0,
                   const std::function<void()>& adjust = {}) {
        host.prepare(seats, idleMs, adjust);
        ASSERT_TRUE(host.start(fileLimit)) << host.output();
        // The probe caller of start() has gone once the server holds no session thread.
        ovtest::LoopbackClient c = host.callIn();
        ASSERT_GE(c.fd(), 0);
        c.close();
        ASSERT_TRUE(ovtest::waitUntil([&] {
            return countLogEntries(host.log(), "DISCONNECT") ==
                   countLogEntries(host.log(), "CONNECT");
        }));
        idleDescriptors = host.descriptors();
        idleThreads = host.threads();
    }
    // Descriptors and threads fall back to the idle figures within the bound.
    void expectBackToIdle(std::chrono::milliseconds bound = 30s) {
        EXPECT_TRUE(ovtest::waitUntil(
            [&] { return host.descriptors() <= idleDescriptors && host.threads() <= idleThreads; },
            bound))
            << "descriptors " << host.descriptors() << " (idle " << idleDescriptors << "), threads "
            << host.threads() << " (idle " << idleThreads << ")";
    }
    void expectEveryConnectDisconnected() {
        EXPECT_TRUE(ovtest::waitUntil(
            [&] {
                std::string log = host.log();
                return countLogEntries(log, "DISCONNECT") == countLogEntries(log, "CONNECT");
            },
            30s))
            << countLogEntries(host.log(), "CONNECT") << " connects, "
            << countLogEntries(host.log(), "DISCONNECT") << " disconnects";
    }
    void TearDown() override {
        if (host.running()) {
            EXPECT_EQ(host.stop(), 0) << host.output();
        }
    }
};

TEST_F(HostileCallers, TwoThousandAtOnceWithFiveSeats) {
    startWith(Seats, 4000);
    if (HasFatalFailure()) return;
    std::vector<int> flood = openMany(host.telnetPort(), 2000);
    ASSERT_EQ(flood.size(), 2000u);
    // Each caller says something once connected; what the kernel's listen queue had no room
    // for is reset or completes later, which is the kernel's business, not the server's.
    for (int fd : flood) {
        pollfd p{fd, POLLOUT, 0};
        if (poll(&p, 1, 2000) > 0) (void)send(fd, "\r\n", 2, MSG_NOSIGNAL | MSG_DONTWAIT);
    }
    // While the flood is on, a normal caller is answered (a seat or the refusal text) and the
    // console serves its state.
    EXPECT_TRUE(ovtest::waitUntil(
        [&] {
            ovtest::LoopbackClient normal;
            return normal.connectTo(host.telnetPort()) && !normal.readUntil("\r\n\r\n", 2s).empty();
        },
        60s));
    EXPECT_EQ(host.consoleGet("/state").rfind("HTTP/1.1 200", 0), 0u);
    // Every caller the server took is let go: refused ones at once, seated ones at their idle
    // time-out.
    (void)waitAllClosed(flood, 20s);
    expectEveryConnectDisconnected();
    closeAll(flood);
    expectBackToIdle();
    expectEveryConnectDisconnected();
    ovtest::LoopbackClient after = host.callIn();
    EXPECT_GE(after.fd(), 0);
    after.close();
    std::string log = host.log();
    EXPECT_GE(countLogEntries(log, "TOO MANY USERS"), 1);
    std::printf("[ figures ] flood: %d of 2000 reached the server, %d refused\n",
                countLogEntries(log, "CONNECT"), countLogEntries(log, "TOO MANY USERS"));
}

TEST_F(HostileCallers, CallersThatNeverReadTimeOutAndNobodyWaitsForThem) {
    startWith(Seats, 3000, 0, allowEndlessLoginAttempts);
    if (HasFatalFailure()) return;
    // Tiny receive windows, and failed logins whose answers pile up unread.
    std::vector<int> silent = openMany(host.telnetPort(), 3, 1024);
    for (int fd : silent)
        EXPECT_GT(pushUntilStuck(fd, "a\r\nb\r\n", 32u << 20), 0u);
    // Another caller gets the prompt and a password prompt meanwhile.
    ovtest::LoopbackClient normal = host.callIn();
    ASSERT_GE(normal.fd(), 0);
    ASSERT_TRUE(normal.send("somebody\r\n"));
    EXPECT_NE(normal.readUntil("Password:").find("Password:"), std::string::npos);
    normal.close();
    // The stuck writes end at the idle time-out and those callers are dropped.
    EXPECT_TRUE(ovtest::waitUntil(
        [&] {
            std::string log = host.log();
            return countLogEntries(log, "DISCONNECT") == countLogEntries(log, "CONNECT");
        },
        30s));
    EXPECT_NE(host.log().find("Reason:  Timed out"), std::string::npos);
    EXPECT_TRUE(waitAllClosed(silent, 30s));
    closeAll(silent);
    expectBackToIdle();
}

TEST_F(HostileCallers, MegabytesAtAPromptAreSwallowed) {
    startWith(Seats, 20000);
    if (HasFatalFailure()) return;
    [[maybe_unused]] long rssBefore = host.rssKb();
    ovtest::LoopbackClient caller = host.callIn();
    ASSERT_GE(caller.fd(), 0);
    // 4 MiB without a line end, the echo read along the way. Over-long lines are cut into
    // login names, so the server may well hang up after its login attempts: that is fine.
    std::string chunk(64 * 1024, 'm');
    size_t sent = 0;
    for (int i = 0; i < 64 && caller.send(chunk); ++i) {
        sent += chunk.size();
        caller.readBytes(1, 10ms);
        caller.pending.clear();
    }
    EXPECT_GT(sent, 0u);
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    // (A sanitizer's quarantine keeps freed memory, so the figure says nothing there.)
    EXPECT_LT(host.rssKb() - rssBefore, 16 * 1024) << "memory grew with the input";
#endif
    caller.close();
    // Logged login names stay within their field.
    std::string log = host.log();
    EXPECT_EQ(log.find(std::string(32, 'm')), std::string::npos);
    ovtest::LoopbackClient next = host.callIn();
    ASSERT_GE(next.fd(), 0);
    ASSERT_TRUE(next.send("x\r\ny\r\n"));
    EXPECT_NE(next.readUntil("Login incorrect").find("Login incorrect"), std::string::npos);
    next.close();
    expectBackToIdle();
    expectEveryConnectDisconnected();
}

TEST_F(HostileCallers, RunningOutOfDescriptorsDoesNotSpinTheListener) {
    // Few descriptors and many seats: the server runs out of descriptors before seats.
    startWith(200, 20000, 40);
    if (HasFatalFailure()) return;
    std::vector<int> crowd = openMany(host.telnetPort(), 150);
    ASSERT_TRUE(ovtest::waitUntil([&] { return host.descriptors() >= 38; }, 30s))
        << host.descriptors();
    // While the listener keeps meeting EMFILE, it must wait for callers, not poll in a loop:
    // once the crowd's sessions have started, some 2-second window shows the server well below
    // one busy core (a listener spinning on its readiness would hold one all the time). Not
    // idle: on a shared machine, tests waiting for this instance to end keep asking it.
    ovtest::LoopbackClient stillQueued;
    (void)stillQueued.connectTo(host.telnetPort());
    long quietest = -1;
    for (int window = 0; window < 10; ++window) {
        long before = host.cpuTicks();
        (void)poll(nullptr, 0, 2000); // a measuring window, not a wait for an event
        long used = host.cpuTicks() - before;
        if (quietest < 0 || used < quietest) quietest = used;
        if (used < sysconf(_SC_CLK_TCK) * 3 / 2) break;
    }
    EXPECT_LT(quietest, sysconf(_SC_CLK_TCK) * 3 / 2) << quietest << " ticks in the quietest 2 s";
    std::printf("[ figures ] out of descriptors: %ld CPU ticks in the quietest 2 s\n", quietest);
    stillQueued.close();
    closeAll(crowd);
    expectBackToIdle();
    // No log check here: out of descriptors, the log cannot open its file and drops entries.
    ovtest::LoopbackClient after = host.callIn();
    EXPECT_GE(after.fd(), 0);
}

TEST_F(HostileCallers, TenThousandWrongPasswordsAreAllLoggedAndNoneLetsIn) {
    startWith(Seats, 20000, 0, [] {
        UserRecord rec;
        ASSERT_TRUE(addUser(rec, "alice"));
        std::strcpy(rec.password, "right-one");
        ASSERT_TRUE(updateUser(rec));
        allowEndlessLoginAttempts();
    });
    if (HasFatalFailure()) return;
    ovtest::LoopbackClient guesser = host.callIn();
    ASSERT_GE(guesser.fd(), 0);
    constexpr int Guesses = 10000;
    constexpr int Batch = 100;
    for (int done = 0; done < Guesses; done += Batch) {
        std::string burst;
        for (int i = 0; i < Batch; ++i)
            burst += "alice\r\nguess-" + std::to_string(done + i) + "\r\n";
        ASSERT_TRUE(guesser.send(burst));
        int seen = 0;
        while (seen < Batch) {
            std::string got = guesser.readUntil("Login incorrect", 20s);
            ASSERT_NE(got.find("Login incorrect"), std::string::npos) << "after " << done + seen;
            ++seen;
        }
        if (done % 2000 == 0) { // others are served meanwhile
            ovtest::LoopbackClient other = host.callIn();
            EXPECT_GE(other.fd(), 0);
        }
    }
    ASSERT_TRUE(guesser.send("alice\r\nright-one\r\n"));
    std::string in = guesser.readUntil("\x1b", 20s) + guesser.readBytes(64, 2s);
    EXPECT_EQ(in.find("Login incorrect"), std::string::npos);
    guesser.close();
    std::string log = host.log();
    EXPECT_EQ(countLogEntries(log, "LOGIN FAILURE"), Guesses);
    EXPECT_EQ(countLogEntries(log, "SUCCESSFUL LOGIN"), 1);
    // No password in the log, on the server's output, or in the console's view.
    EXPECT_EQ(log.find("guess-"), std::string::npos);
    EXPECT_EQ(log.find("right-one"), std::string::npos);
    EXPECT_EQ(host.output().find("guess-"), std::string::npos);
    EXPECT_EQ(host.consoleGet("/state").find("right-one"), std::string::npos);
    expectBackToIdle();
    expectEveryConnectDisconnected();
}

TEST_F(HostileCallers, WebVisitorsThatSayNothingOrTooMuchAreBoundedAndLetGo) {
    startWith(Seats, 4000);
    if (HasFatalFailure()) return;
    // 300 visitors that never finish a request: at most 64 hold a thread, the rest are turned
    // away at once, and the held ones go at the request time-out.
    std::vector<int> silent = openMany(host.webPort(), 300);
    ASSERT_EQ(silent.size(), 300u);
    int turnedAway = 0;
    for (int fd : silent) {
        pollfd p{fd, POLLIN, 0};
        char buf[64] = {};
        if (poll(&p, 1, 100) > 0 && recv(fd, buf, sizeof buf - 1, 0) > 0 &&
            std::strncmp(buf, "HTTP/1.1 503", 12) == 0)
            ++turnedAway;
    }
    EXPECT_GE(turnedAway, 300 - 64 - 32); // a few may still sit in the listen queue
    EXPECT_LE(host.threads(), idleThreads + 64);
    // Telnet callers are served meanwhile.
    ovtest::LoopbackClient normal = host.callIn();
    EXPECT_GE(normal.fd(), 0);
    normal.close();
    EXPECT_TRUE(waitAllClosed(silent, 30s));
    closeAll(silent);

    // Web callers beyond the seats are refused and the seated ones dropped when idle; one that
    // sends garbage instead of frames is cut off.
    std::vector<ovtest::WebClient> callers(Seats + 3);
    for (auto& c : callers)
        ASSERT_TRUE(c.connect(host.webPort()));
    ovtest::LoopbackClient garbage;
    ASSERT_TRUE(garbage.connectTo(host.webPort()));
    ASSERT_TRUE(garbage.send("GET /ws HTTP/1.1\r\nHost: x\r\nUpgrade: websocket\r\n"
                             "Connection: Upgrade\r\nSec-WebSocket-Version: 13\r\n"
                             "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n\r\n"));
    EXPECT_NE(garbage.readUntil("\r\n\r\n").find("101"), std::string::npos);
    ASSERT_TRUE(garbage.send(std::string(4096, '\xff')));
    EXPECT_TRUE(garbage.waitForClose(10s));
    for (auto& c : callers)
        EXPECT_TRUE(c.waitForClose(30s)) << c.text;
    int refused = 0;
    for (auto& c : callers)
        refused += c.text.find("Login:") == std::string::npos ? 1 : 0;
    EXPECT_GE(refused, 3);
    expectEveryConnectDisconnected();
    expectBackToIdle();
    std::printf("[ figures ] web: %d of 300 silent visitors turned away at once, %d of %d web "
                "callers refused\n",
                turnedAway, refused, int(callers.size()));
}

TEST_F(HostileCallers, SshClientsThatStallOrVanishMidHandshakeLeaveNothingBehind) {
    startWith(Seats, 3000); // the idle time-out is also the SSH login grace
    if (HasFatalFailure()) return;
    const int connectsBefore = countLogEntries(host.log(), "CONNECT");
    // 300 connections that never speak: at most 64 hold a handshake thread, the others are
    // closed before they hear a word, and the held ones go at the login grace.
    std::vector<int> silent = openMany(host.sshPort(), 300);
    ASSERT_EQ(silent.size(), 300u);
    int closedAtOnce = 0;
    for (int fd : silent) {
        pollfd p{fd, POLLIN, 0};
        char buf[64];
        if (poll(&p, 1, 100) > 0 && recv(fd, buf, sizeof buf, 0) == 0) ++closedAtOnce;
    }
    EXPECT_GE(closedAtOnce, 300 - 64 - 8); // a few may still sit in the listen queue
    EXPECT_LE(host.threads(), idleThreads + 64);
    EXPECT_TRUE(waitAllClosed(silent, 30s));
    closeAll(silent);

    // Clients that go at every step of the way: after the version line, with garbage for a
    // key exchange, reset in the middle of it, after it, and with a wrong password.
    for (int round = 0; round < 20; ++round) {
        ovtest::LoopbackClient early;
        ASSERT_TRUE(early.connectTo(host.sshPort()));
        EXPECT_EQ(early.readUntil("\r\n").rfind("SSH-2.0-", 0), 0u);
        ASSERT_TRUE(early.send("SSH-2.0-hostile\r\n"));
        if (round % 3 == 1) (void)early.send(std::string(5000, char(round)));
        if (round % 3 == 2) {
            linger abort{1, 0};
            setsockopt(early.fd(), SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
        }
        early.close();
        ovtest::SshClient late;
        ASSERT_TRUE(late.connectTo(host.sshPort())) << late.error();
        if (round % 2) {
            EXPECT_FALSE(late.authenticate({"nobody", "wrong"}));
        }
        late.vanish();
    }
    expectBackToIdle();
    // A caller who follows the protocol gets in, and is the only one the log calls a caller.
    ovtest::SshClient caller;
    ASSERT_TRUE(caller.logIn(host.sshPort(), {"new", ""})) << caller.error();
    EXPECT_NE(caller.readUntil("login name", 20s).find("login name"), std::string::npos);
    caller.close();
    expectEveryConnectDisconnected();
    expectBackToIdle();
    const std::string log = host.log();
    EXPECT_EQ(countLogEntries(log, "CONNECT"), connectsBefore + 1);
    EXPECT_EQ(countLogEntries(log, "LOGIN FAILURE"), 10);
    std::printf("[ figures ] ssh: %d of 300 silent clients closed at once\n", closedAtOnce);
}

} // namespace
