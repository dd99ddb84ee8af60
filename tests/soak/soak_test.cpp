// A soak run: random callers doing random things against a running ovhost for OV_SOAK_SECONDS
// (60 by default; run it longer by hand, e.g. 600), then the invariants: every caller that
// connected was disconnected once, descriptors and threads are back to the idle figures,
// memory is near them, the server stops cleanly and every data file it left loads.
#include "../hostile/ovhost_process.h"
#include "../reliability/child_process.h"

#include "server/users/user_db.h"

#include <atomic>
#include <cstring>
#include <random>
#include <thread>

using namespace std::chrono_literals;

namespace {

int soakSeconds() {
    const char* s = std::getenv("OV_SOAK_SECONDS");
    int n = s ? std::atoi(s) : 60;
    return n > 0 ? n : 60;
}

struct Tally {
    std::atomic<int> calls{0};
    std::atomic<int> refused{0};
};

// One random caller from connect to hang-up.
void randomCall(uint16_t port, std::mt19937& rng, Tally& tally) {
    ovtest::LoopbackClient c;
    if (!c.connectTo(port)) return;
    ++tally.calls;
    auto pick = [&](int n) { return int(rng() % unsigned(n)); };
    std::string greeting = c.readUntil("Login:", 3s);
    if (greeting.find("Login:") == std::string::npos) {
        if (!greeting.empty()) ++tally.refused;
        return;
    }
    switch (pick(6)) {
    case 0: { // a regular visit
        int who = pick(4);
        c.send("soak" + std::to_string(who) + "\r\npass" + std::to_string(who) + "\r\n");
        if (c.readUntil("\x1b", 3s).empty()) return;
        static const char keys[] = "123456789ABCDQqBb\r\n ";
        for (int i = pick(12); i > 0; --i) {
            c.send(std::string(1, keys[pick(int(sizeof keys) - 1)]));
            (void)c.readBytes(1, 50ms);
            c.pending.clear();
        }
        break;
    }
    case 1: // a wrong password or two
        c.send("soak1\r\nwrong\r\n");
        (void)c.readUntil("Login:", 2s);
        if (pick(2)) c.send("nobody\r\nnothing\r\n");
        break;
    case 2: { // line noise, Telnet commands included
        std::string noise;
        for (int i = pick(4096); i > 0; --i)
            noise += char(rng());
        c.send(noise);
        (void)c.readBytes(1, 200ms);
        break;
    }
    case 3: // a long silence: the idle time-out drops it
        (void)c.waitForClose(5s);
        break;
    case 4: // an over-long line
        c.send(std::string(size_t(pick(100000)), 'z') + "\r\n");
        (void)c.readUntil("Password:", 2s);
        break;
    default: // hangs up at once
        break;
    }
}

TEST(Soak, RandomCallersLeaveNothingBehind) {
    OvhostProcess host;
    host.prepare(5, 2000, [] {
        for (int i = 0; i < 4; ++i) {
            UserRecord rec;
            ASSERT_TRUE(addUser(rec, ("soak" + std::to_string(i)).c_str()));
            std::snprintf(rec.password, sizeof rec.password, "pass%d", i);
            ASSERT_TRUE(updateUser(rec));
        }
    });
    ASSERT_TRUE(host.start()) << host.output();
    ASSERT_TRUE(ovtest::waitUntil([&] {
        std::string log = host.log();
        return countLogEntries(log, "DISCONNECT") == countLogEntries(log, "CONNECT");
    }));
    const int idleDescriptors = host.descriptors();
    const int idleThreads = host.threads();
    const long idleRss = host.rssKb();

    Tally tally;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(soakSeconds());
    std::vector<std::thread> callers;
    for (int t = 0; t < 8; ++t)
        callers.emplace_back([&, t] {
            std::mt19937 rng(1234u + unsigned(t));
            while (std::chrono::steady_clock::now() < deadline)
                randomCall(host.telnetPort(), rng, tally);
        });
    for (auto& t : callers)
        t.join();

    EXPECT_TRUE(ovtest::waitUntil(
        [&] {
            std::string log = host.log();
            return countLogEntries(log, "DISCONNECT") == countLogEntries(log, "CONNECT");
        },
        30s))
        << countLogEntries(host.log(), "CONNECT") << " connects, "
        << countLogEntries(host.log(), "DISCONNECT") << " disconnects";
    EXPECT_TRUE(ovtest::waitUntil(
        [&] { return host.descriptors() <= idleDescriptors && host.threads() <= idleThreads; },
        30s))
        << host.descriptors() << "/" << idleDescriptors << " descriptors, " << host.threads() << "/"
        << idleThreads << " threads";
    const long rss = host.rssKb();
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    // (A sanitizer's quarantine keeps freed memory, so the figure says nothing there.)
    EXPECT_LT(rss - idleRss, 32 * 1024)
        << "memory after the soak " << rss << " kB, idle " << idleRss << " kB";
#endif
    const std::string log = host.log();
    std::printf("[ figures ] soak %d s: %d calls, %d logins, %d failed logins, %d refused; "
                "%d connects logged; rss %ld -> %ld kB\n",
                soakSeconds(), tally.calls.load(), countLogEntries(log, "SUCCESSFUL LOGIN"),
                countLogEntries(log, "LOGIN FAILURE"), tally.refused.load(),
                countLogEntries(log, "CONNECT"), idleRss, rss);
    EXPECT_EQ(host.stop(), 0) << host.output();
    EXPECT_EQ(host.output().find("pass1"), std::string::npos);
    ChildResult dump = runChild(ovtest::binDir() + "/ovfaultdriver", {"dump"}, host.dir(),
                                {{"ASAN_OPTIONS", "detect_leaks=0"}});
    EXPECT_EQ(dump.exitCode, 0) << dump.out << dump.err;
    EXPECT_NE(dump.out.find("soak3"), std::string::npos);
}

} // namespace
