// The built ovhost as a process: console address on standard output, a Telnet caller, the
// single-instance rule, and SIGTERM running the normal shutdown.
#include "support/test_support.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "server/control/single_instance.h"
#include "server/preferences/preferences.h"
#include "server/users/user_db.h"

namespace {

using namespace std::chrono_literals;

struct Child {
    pid_t pid = -1;
    int out = -1; // its standard output
    std::string seen;

    // Reads until `needle` shows up or the bound passes.
    bool readUntil(const std::string& needle, std::chrono::milliseconds bound = 20s) {
        auto deadline = std::chrono::steady_clock::now() + bound;
        while (seen.find(needle) == std::string::npos) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) return false;
            pollfd p{out, POLLIN, 0};
            if (poll(&p, 1, int(left.count())) <= 0) continue;
            char buf[512];
            ssize_t n = read(out, buf, sizeof buf);
            if (n <= 0) return seen.find(needle) != std::string::npos;
            seen.append(buf, size_t(n));
        }
        return true;
    }
    // The exit status once it has ended within the bound; -1 otherwise.
    int waitExit(std::chrono::milliseconds bound = 20s) {
        int status = 0;
        bool ended =
            ovtest::waitUntil([&] { return waitpid(pid, &status, WNOHANG) == pid; }, bound);
        if (!ended) return -1;
        pid = -1;
        readUntil("\x01", 1s); // whatever is left in the pipe
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    ~Child() {
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        if (out >= 0) close(out);
    }
};

struct SpawnOptions {
    bool asNobody = false; // as the user nobody (the tests run as root), in "/"
    rlim_t softFiles = 0;  // with these open-file limits, when not 0
    rlim_t hardFiles = 0;
    std::string web{}; // OVHOST_WEB, when not empty
};

// Standard output and error both go to `child.out`.
bool spawnOvhost(Child& child, const std::string& dir, const std::string& console,
                 SpawnOptions options = {}) {
    const bool asNobody = options.asNobody;
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return false;
    const std::string program = ovtest::binDir() + "/ovhost";
    pid_t pid = fork();
    if (pid < 0) return false;
    if (pid == 0) {
        dup2(fds[1], STDOUT_FILENO);
        dup2(fds[1], STDERR_FILENO);
        if (asNobody && (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0))
            _exit(125);
        if (chdir(asNobody ? "/" : dir.c_str()) != 0) _exit(126);
        rlimit files{options.softFiles, options.hardFiles};
        if (options.softFiles != 0 && setrlimit(RLIMIT_NOFILE, &files) != 0) _exit(124);
        if (!options.web.empty()) setenv("OVHOST_WEB", options.web.c_str(), 1);
        setenv("OVHOST_CONSOLE", console.c_str(), 1);
        execl(program.c_str(), "ovhost", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    child.pid = pid;
    child.out = fds[0];
    return true;
}

// Starts a server of our own and waits until its start-up shows the version. Another build's
// test may start its server between our look and our start: then wait for it and try again.
bool startOwnServer(Child& child, const std::string& dir, const std::string& console,
                    SpawnOptions options = {}) {
    for (int attempt = 0; attempt < 5; ++attempt) {
        std::string other;
        if (!ovtest::waitUntil([&] { return !askRunningInstance(other); }, 60s) ||
            !spawnOvhost(child, dir, console, options))
            return false;
        if (child.readUntil("Version 1.00b1")) return true;
        if (child.seen.find("already running") == std::string::npos) return false;
        child.waitExit();
        child.seen.clear();
    }
    return false;
}

uint16_t freePort() {
    uint16_t port = 0;
    int fd = ovtest::listenOnFreePort(port);
    if (fd >= 0) close(fd);
    return port;
}

TEST(OvhostProcess, ServesCallersAnswersASecondStartAndStopsOnSigterm) {
    ovtest::TempWorkDir dir;
    // Another server on this machine holds the name: wait for it to go (tests run one at a
    // time per build, but several builds may test at once).
    std::string other;
    if (!ovtest::waitUntil([&] { return !askRunningInstance(other); }, 60s))
        GTEST_SKIP() << "another ovhost is running: " << other;

    (void)loadPreferences();
    const uint16_t telnetPort = freePort();
    ASSERT_TRUE(setTelnetPort(telnetPort));
    ASSERT_TRUE(setUseTapi(false));
    const uint16_t consolePort = freePort();
    const std::string console = "127.0.0.1:" + std::to_string(consolePort);

    Child first;
    ASSERT_TRUE(spawnOvhost(first, dir.path(), console));
    const std::string prefix = "Console: http://" + console + "/?token=";
    ASSERT_TRUE(first.readUntil(prefix)) << first.seen;
    ASSERT_TRUE(first.readUntil("\n", 5s));
    size_t at = first.seen.find(prefix);
    const std::string address =
        first.seen.substr(at + 9, first.seen.find('\n', at) - at - 9); // after "Console: "
    ASSERT_TRUE(first.readUntil("Version 1.00b1, build 311 (14 Apr 99)")) << first.seen;
    EXPECT_LT(first.seen.find("Loading preferences..."), first.seen.find("Loading BBS layout..."));
    EXPECT_EQ(first.seen.find("Preferences file not found"), std::string::npos);

    ovtest::LoopbackClient caller;
    ASSERT_TRUE(ovtest::waitUntil([&] { return caller.connectTo(telnetPort); }, 20s));
    char prompt[PrefTextSize];
    getPrefText(PrefText::LoginPrompt, prompt);
    ASSERT_NE(caller.readUntil(prompt).find(prompt), std::string::npos);

    Child second;
    ASSERT_TRUE(spawnOvhost(second, dir.path(), "127.0.0.1:" + std::to_string(freePort())));
    EXPECT_EQ(second.waitExit(), 0);
    EXPECT_NE(second.seen.find(address), std::string::npos) << second.seen;
    EXPECT_NE(second.seen.find("already running"), std::string::npos) << second.seen;

    // Another user learns that a server runs, never its address with the token.
    if (geteuid() == 0) {
        Child stranger;
        ASSERT_TRUE(spawnOvhost(stranger, dir.path(), "127.0.0.1:" + std::to_string(freePort()),
                                {.asNobody = true}));
        EXPECT_EQ(stranger.waitExit(), 0) << stranger.seen;
        EXPECT_NE(stranger.seen.find("already running as another user"), std::string::npos)
            << stranger.seen;
        EXPECT_EQ(stranger.seen.find("token="), std::string::npos) << stranger.seen;
    }

    ASSERT_EQ(kill(first.pid, SIGTERM), 0);
    EXPECT_TRUE(caller.waitForClose());
    EXPECT_EQ(first.waitExit(), 0) << first.seen;
    EXPECT_FALSE(askRunningInstance(other));
}

} // namespace

TEST(OvhostProcess, RefusesAConsoleBeyondLoopbackUnlessAllowed) {
    ovtest::TempWorkDir dir;
    (void)loadPreferences();
    ASSERT_TRUE(setTelnetPort(freePort()));
    ASSERT_TRUE(setUseTapi(false));
    // TEST-NET-1: nothing here has that address, so even the allowed start listens nowhere.
    const std::string remote = "192.0.2.1:" + std::to_string(freePort());

    Child refused;
    ASSERT_TRUE(spawnOvhost(refused, dir.path(), remote));
    EXPECT_EQ(refused.waitExit(), 2) << refused.seen;
    EXPECT_NE(refused.seen.find("OVHOST_CONSOLE_ALLOW_REMOTE=1"), std::string::npos)
        << refused.seen;

    setenv("OVHOST_CONSOLE_ALLOW_REMOTE", "1", 1);
    Child allowed;
    bool started = startOwnServer(allowed, dir.path(), remote);
    unsetenv("OVHOST_CONSOLE_ALLOW_REMOTE");
    ASSERT_TRUE(started) << allowed.seen;
    EXPECT_NE(allowed.seen.find("is not a loopback address; anyone"), std::string::npos)
        << allowed.seen;
    ASSERT_EQ(kill(allowed.pid, SIGTERM), 0);
    EXPECT_EQ(allowed.waitExit(), 0) << allowed.seen;
}

// A service stop while a caller sits between the name and the password, with the user file held
// by another program so that the caller's thread cannot remove the account: after the restart
// nobody enters that name with an empty password, and the account is gone.
TEST(OvhostProcess, AStopDuringAccountCreationLeavesNoAccountToEnter) {
    ovtest::TempWorkDir dir;
    (void)loadPreferences();
    const uint16_t telnetPort = freePort();
    ASSERT_TRUE(setTelnetPort(telnetPort));
    ASSERT_TRUE(setUseTapi(false));
    ASSERT_TRUE(setParanoidLogging(true));
    auto start = [&](Child& server, ovtest::LoopbackClient& caller) {
        return startOwnServer(server, dir.path(), "127.0.0.1:" + std::to_string(freePort())) &&
               ovtest::waitUntil([&] { return caller.connectTo(telnetPort); }, 30s) &&
               caller.readUntil("Login:  ", 20s).find("Login:  ") != std::string::npos;
    };

    Child first;
    ovtest::LoopbackClient maker;
    ASSERT_TRUE(start(first, maker)) << first.seen;
    ASSERT_TRUE(maker.send("new\r\nerin\r\n"));
    ASSERT_NE(maker.readUntil("Enter a new password").find("Enter a new password"),
              std::string::npos);
    int holder = open("bbsusers.dat", O_RDWR | O_CLOEXEC);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(flock(holder, LOCK_EX), 0);
    ASSERT_EQ(kill(first.pid, SIGTERM), 0);
    EXPECT_TRUE(maker.waitForClose());
    EXPECT_EQ(first.waitExit(), 0) << first.seen;
    close(holder);
    // The caller's thread was let finish before the process ended.
    EXPECT_NE(ovtest::readFile("bbslog.txt").find("DISCONNECT"), std::string::npos);

    Child second;
    ovtest::LoopbackClient intruder;
    ASSERT_TRUE(start(second, intruder)) << second.seen;
    ASSERT_TRUE(intruder.send("erin\r\n\r\n"));
    EXPECT_NE(intruder.readUntil("Login incorrect").find("Login incorrect"), std::string::npos);
    ASSERT_EQ(kill(second.pid, SIGTERM), 0);
    EXPECT_EQ(second.waitExit(), 0) << second.seen;
    UserRecord rec;
    EXPECT_FALSE(findUser(rec, "erin"));
}

// A service's soft limit of open files is raised to its hard limit at start; when even that
// cannot serve maxUsers callers, counting four for a caller of the caller page, the server says so.
TEST(OvhostProcess, RaisesTheOpenFileLimitAndSaysWhenMaxUsersCannotBeServed) {
    ovtest::TempWorkDir dir;
    (void)loadPreferences();
    ASSERT_TRUE(setTelnetPort(freePort()));
    ASSERT_TRUE(setUseTapi(false));
    ASSERT_TRUE(setMaxUsers(1000));
    const std::string shortage = "callers allowed can be served";
    struct Case {
        rlim_t hard;
        bool web;
        const char* said; // empty: no shortage
    };
    for (const Case& c : {Case{2048, false, ""}, Case{512, false, "Only 448 of the 1000 "},
                          Case{2048, true, "Only 496 of the 1000 "}}) {
        Child server;
        const std::string web = c.web ? "127.0.0.1:" + std::to_string(freePort()) : "";
        ASSERT_TRUE(startOwnServer(server, dir.path(), "127.0.0.1:" + std::to_string(freePort()),
                                   {.softFiles = 256, .hardFiles = c.hard, .web = web}))
            << server.seen;
        rlimit now{};
        ASSERT_EQ(prlimit(server.pid, RLIMIT_NOFILE, nullptr, &now), 0);
        EXPECT_EQ(now.rlim_cur, c.hard);
        if (c.said[0])
            EXPECT_NE(server.seen.find(c.said + shortage), std::string::npos) << server.seen;
        else
            EXPECT_EQ(server.seen.find(shortage), std::string::npos) << server.seen;
        ASSERT_EQ(kill(server.pid, SIGTERM), 0);
        EXPECT_EQ(server.waitExit(), 0) << server.seen;
    }
}
