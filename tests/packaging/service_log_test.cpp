// The logrotate and fail2ban files shipped in dist/, run by the real tools against an event log
// that the server's own event log wrote for Telnet callers on loopback sockets.
#include "server/connections/tcp_connection.h"
#include "server/log/event_log.h"
#include "server/preferences/preferences.h"
#include "support/test_support.h"

#include <arpa/inet.h>
#include <grp.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

// Runs a shell command; its standard output, and whether it exited with 0.
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

// A caller from `from` (any 127.x.y.z address) to a listener on 127.0.0.1, as the server sees
// it: a TelnetConnection on the accepted socket.
struct Caller {
    std::unique_ptr<TelnetConnection> conn;
    ovtest::LoopbackClient peer;
};

bool connectFrom(const char* from, Caller& caller) {
    uint16_t port = 0;
    int l = ovtest::listenOnFreePort(port);
    if (l < 0) return false;
    int c = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    inet_pton(AF_INET, from, &a.sin_addr);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = c >= 0 && bind(c, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
              connect(c, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0;
    int s = ok ? accept4(l, nullptr, nullptr, SOCK_CLOEXEC) : -1;
    ::close(l);
    caller.peer = ovtest::LoopbackClient(c);
    if (s < 0) return false;
    caller.conn = std::make_unique<TelnetConnection>(s);
    return true;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) out.push_back(line);
    return out;
}

std::string dist(const std::string& name) {
    return ovtest::sourceDir() + "/dist/" + name;
}

// The shipped configuration, pointed at this test's directory and user.
std::string localLogrotateConfig(const std::string& dir) {
    std::string conf = ovtest::readFile(dist("logrotate/ovhost"));
    const std::string path = "/var/lib/ovhost/bbslog.txt";
    size_t at = conf.find(path);
    if (at == std::string::npos) return "";
    conf.replace(at, path.size(), dir + "/bbslog.txt");
    passwd* pw = getpwuid(getuid());
    group* gr = getgrgid(getgid());
    if (!pw || !gr) return "";
    const std::string owner = std::string(pw->pw_name) + " " + gr->gr_name;
    for (size_t p; (p = conf.find("ovhost ovhost")) != std::string::npos;)
        conf.replace(p, 13, owner);
    return conf;
}

class ServiceLogTest : public ovtest::WorkDirTest {
protected:
    void SetUp() override { (void)loadPreferences(); } // paranoid logging is on by default
};

} // namespace

TEST_F(ServiceLogTest, Fail2banFindsTheRemoteAddressOfEachFailedLogin) {
    if (!haveTool("fail2ban-regex")) GTEST_SKIP() << "fail2ban-regex is not installed";
    Caller guesser, member;
    ASSERT_TRUE(connectFrom("127.0.0.2", guesser));
    ASSERT_TRUE(connectFrom("127.0.0.3", member));

    logConnect(*guesser.conn);
    for (const char* name : {"root", "admin", "sysop"})
        logLoginFailure(*guesser.conn, name);
    // A typed name that looks like a description line must not give away another address.
    logLoginFailure(*guesser.conn, "TCP from 10.9.8.7:1 (remote) to 1.1.1.1:23 (local)");
    logConnect(*member.conn);
    logLogin(*member.conn, "alice");
    logTooManyUsers();
    logDisconnect(*member.conn, DisconnectReason::LoggedOff);
    logDisconnect(*guesser.conn, DisconnectReason::ClosedWithoutLogoff);

    std::string log = ovtest::readFile(EventLogFileName);
    size_t failures = 0;
    for (size_t at = 0; (at = log.find("LOGIN FAILURE\r\n", at)) != std::string::npos; ++at)
        ++failures;
    ASSERT_EQ(4u, failures);
    ASSERT_EQ('\x1A', log.back());

    std::string out;
    ASSERT_TRUE(run("fail2ban-regex --out ip " + std::string(EventLogFileName) + " " +
                        dist("fail2ban/filter.d/ovhost.conf") + " 2>&1",
                    out))
        << out;
    auto ips = lines(out);
    EXPECT_EQ(std::vector<std::string>(4, "127.0.0.2"), ips) << out;

    // The summary agrees, and every entry's time stamp was recognised.
    ASSERT_TRUE(run("fail2ban-regex " + std::string(EventLogFileName) + " " +
                        dist("fail2ban/filter.d/ovhost.conf") + " 2>&1",
                    out))
        << out;
    EXPECT_NE(std::string::npos, out.find("Failregex: 4 total")) << out;
    EXPECT_NE(std::string::npos, out.find("[10] {^LN-BEG}===")) << out;
}

TEST_F(ServiceLogTest, Fail2banJailNamesTheFilterAndTheLog) {
    std::string jail = ovtest::readFile(dist("fail2ban/jail.d/ovhost.conf"));
    EXPECT_NE(std::string::npos, jail.find("[ovhost]"));
    EXPECT_NE(std::string::npos, jail.find("filter   = ovhost\n"));
    EXPECT_NE(std::string::npos, jail.find("logpath  = /var/lib/ovhost/bbslog.txt\n"));
    EXPECT_NE(std::string::npos, jail.find("enabled  = false\n"));
}

TEST_F(ServiceLogTest, LogrotateRenamesTheLogAndTheServerStartsAFreshOne) {
    if (!haveTool("logrotate")) GTEST_SKIP() << "logrotate is not installed";
    std::string conf = localLogrotateConfig(workDir.path());
    ASSERT_FALSE(conf.empty());
    ovtest::writeFile("rotate.conf", conf);

    Caller caller;
    ASSERT_TRUE(connectFrom("127.0.0.2", caller));
    logConnect(*caller.conn);
    logLoginFailure(*caller.conn, "before");
    std::string before = ovtest::readFile(EventLogFileName);

    std::string out;
    EXPECT_TRUE(run("logrotate -d -s state rotate.conf 2>&1", out)) << out;
    EXPECT_EQ(std::string::npos, out.find("error")) << out;
    EXPECT_EQ(before, ovtest::readFile(EventLogFileName)); // a dry run changes nothing

    ASSERT_TRUE(run("logrotate -f -s state rotate.conf 2>&1", out)) << out;
    EXPECT_EQ(before, ovtest::readFile("bbslog.txt.1")); // delaycompress: plain for one round
    EXPECT_EQ(0u, ovtest::fileSizeOf(EventLogFileName)); // create: an empty file in its place

    logLoginFailure(*caller.conn, "after");
    std::string after = ovtest::readFile(EventLogFileName);
    ASSERT_FALSE(after.empty());
    EXPECT_EQ(0u, after.find("===[")); // the next entry starts the new file at offset 0
    EXPECT_EQ(std::string::npos, after.find("before"));
    EXPECT_NE(std::string::npos, after.find("Attempted login:  after\r\n"));
    EXPECT_EQ('\x1A', after.back());
    EXPECT_EQ(before, ovtest::readFile("bbslog.txt.1")); // the old entries stay put

    // A second round compresses the first rotation.
    ASSERT_TRUE(run("logrotate -f -s state rotate.conf 2>&1", out)) << out;
    EXPECT_TRUE(ovtest::fileExists("bbslog.txt.2.gz"));
    EXPECT_EQ(after, ovtest::readFile("bbslog.txt.1"));
}

TEST_F(ServiceLogTest, LogrotateLeavesAMissingOrEmptyLogAlone) {
    if (!haveTool("logrotate")) GTEST_SKIP() << "logrotate is not installed";
    std::string conf = localLogrotateConfig(workDir.path());
    ASSERT_FALSE(conf.empty());
    ovtest::writeFile("rotate.conf", conf);
    std::string out;
    EXPECT_TRUE(run("logrotate -f -s state rotate.conf 2>&1", out)) << out; // missingok
    EXPECT_FALSE(ovtest::fileExists("bbslog.txt.1"));
    ovtest::writeFile(EventLogFileName, "");
    EXPECT_TRUE(run("logrotate -f -s state rotate.conf 2>&1", out)) << out; // notifempty
    EXPECT_FALSE(ovtest::fileExists("bbslog.txt.1"));
}
