#include "ovhost_process.h"

#include "server/control/single_instance.h"
#include "server/preferences/preferences.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <sstream>

using namespace std::chrono_literals;

namespace {

uint16_t freePort() {
    uint16_t port = 0;
    int fd = ovtest::listenOnFreePort(port);
    if (fd >= 0) close(fd);
    return port;
}

// The SSH host keys of the first server started, for the next ones: a 3072-bit RSA key takes a
// while to make on a busy machine.
std::string cachedEd25519Key, cachedRsaKey;

std::string procFile(pid_t pid, const char* name) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/" + name);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

long statusField(pid_t pid, const char* field) {
    std::string status = procFile(pid, "status");
    size_t at = status.find(std::string("\n") + field + ":");
    if (at == std::string::npos) return -1;
    return std::strtol(status.c_str() + at + std::strlen(field) + 2, nullptr, 10);
}

} // namespace

OvhostProcess::OvhostProcess() {
    const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::string templ = std::string(base) + "/ovhostile-XXXXXX";
    if (!mkdtemp(templ.data())) std::abort();
    dir_ = templ;
    char cwd[PATH_MAX];
    previous_ = getcwd(cwd, sizeof cwd) ? cwd : "/";
}

OvhostProcess::~OvhostProcess() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) close(out_);
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}

void OvhostProcess::prepare(uint32_t maxUsers, uint32_t idleMs,
                            const std::function<void()>& adjust) {
    if (chdir(dir_.c_str()) != 0) std::abort();
    (void)loadPreferences();
    telnetPort_ = freePort();
    bool ok = setTelnetPort(telnetPort_) && setUseTapi(false) && setUseTcp(true) &&
              setMaxUsers(maxUsers) && setIdleTimeoutMs(idleMs) && setParanoidLogging(true);
    EXPECT_TRUE(ok);
    if (adjust) adjust();
    if (!cachedEd25519Key.empty()) {
        ovtest::writeFile("ssh_host_ed25519_key", cachedEd25519Key);
        ovtest::writeFile("ssh_host_rsa_key", cachedRsaKey);
    }
    if (chdir(previous_.c_str()) != 0) std::abort();
}

bool OvhostProcess::readUntil(const std::string& needle, std::chrono::milliseconds bound) {
    auto deadline = std::chrono::steady_clock::now() + bound;
    while (seen_.find(needle) == std::string::npos) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        pollfd p{out_, POLLIN, 0};
        if (poll(&p, 1, int(left.count())) <= 0) continue;
        char buf[4096];
        ssize_t n = read(out_, buf, sizeof buf);
        if (n <= 0) return seen_.find(needle) != std::string::npos;
        seen_.append(buf, size_t(n));
    }
    return true;
}

std::string OvhostProcess::output() {
    for (;;) {
        pollfd p{out_, POLLIN, 0};
        if (out_ < 0 || poll(&p, 1, 0) <= 0) break;
        char buf[4096];
        ssize_t n = read(out_, buf, sizeof buf);
        if (n <= 0) break;
        seen_.append(buf, size_t(n));
    }
    return seen_;
}

bool OvhostProcess::start(int fileLimit) {
    // Another test may start its server between our look and our start: then try again.
    auto deadline = std::chrono::steady_clock::now() + 180s;
    while (std::chrono::steady_clock::now() < deadline) {
        if (launch(fileLimit)) return true;
        bool lostRace = seen_.find("already running") != std::string::npos;
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
        if (out_ >= 0) close(out_);
        out_ = -1;
        if (!lostRace) return false;
        seen_.clear();
    }
    return false;
}

bool OvhostProcess::launch(int fileLimit) {
    std::string other;
    if (!ovtest::waitUntil([&] { return !askRunningInstance(other); }, 90s)) return false;
    consolePort_ = freePort();
    const std::string console = "127.0.0.1:" + std::to_string(consolePort_);
    sshPort_ = freePort();
    const std::string ssh = "127.0.0.1:" + std::to_string(sshPort_);
    webPort_ = freePort();
    const std::string web = "127.0.0.1:" + std::to_string(webPort_);
    const std::string program = ovtest::binDir() + "/ovhost";
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return false;
    pid_t pid = fork();
    if (pid < 0) return false;
    if (pid == 0) {
        dup2(fds[1], STDOUT_FILENO);
        dup2(fds[1], STDERR_FILENO);
        if (chdir(dir_.c_str()) != 0) _exit(126);
        if (fileLimit > 0) {
            rlimit r{rlim_t(fileLimit), rlim_t(fileLimit)};
            setrlimit(RLIMIT_NOFILE, &r);
        }
        setenv("OVHOST_CONSOLE", console.c_str(), 1);
        setenv("OVHOST_SSH", ssh.c_str(), 1);
        setenv("OVHOST_WEB", web.c_str(), 1);
        execl(program.c_str(), "ovhost", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    pid_ = pid;
    out_ = fds[0];
    const std::string prefix = "Console: http://" + console + "/?token=";
    if (!readUntil(prefix, 30s) || !readUntil("\n", 5s)) return false;
    size_t at = seen_.find(prefix) + prefix.size();
    token_ = seen_.substr(at, seen_.find('\n', at) - at);
    ovtest::LoopbackClient probe;
    if (!ovtest::waitUntil([&] { return probe.connectTo(telnetPort_); }, 60s) ||
        probe.readUntil("Login:", 20s).find("Login:") == std::string::npos ||
        !readUntil("RSA key fingerprint is", 5s))
        return false;
    cachedEd25519Key = ovtest::readFile(dir_ + "/ssh_host_ed25519_key");
    cachedRsaKey = ovtest::readFile(dir_ + "/ssh_host_rsa_key");
    return true;
}

int OvhostProcess::stop() {
    if (pid_ <= 0) return -1;
    kill(pid_, SIGTERM);
    int status = 0;
    bool ended = ovtest::waitUntil([&] { return waitpid(pid_, &status, WNOHANG) == pid_; }, 30s);
    if (!ended) return -1;
    pid_ = -1;
    output();
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::string OvhostProcess::consoleGet(const std::string& path) {
    ovtest::LoopbackClient http;
    if (!http.connectTo(consolePort_)) return "";
    std::string sep = path.find('?') == std::string::npos ? "?" : "&";
    if (!http.send("GET " + path + sep + "token=" + token_ +
                   " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n"))
        return "";
    return http.readToClose(20s);
}

ovtest::LoopbackClient OvhostProcess::callIn() {
    ovtest::LoopbackClient c;
    if (!c.connectTo(telnetPort_)) return c;
    if (c.readUntil("Login:", 20s).find("Login:") == std::string::npos) c.close();
    return c;
}

int OvhostProcess::descriptors() const {
    std::string path = "/proc/" + std::to_string(pid_) + "/fd";
    DIR* d = opendir(path.c_str());
    if (!d) return -1;
    int n = 0;
    while (dirent* e = readdir(d))
        if (e->d_name[0] != '.') ++n;
    closedir(d);
    return n;
}

int OvhostProcess::threads() const {
    return int(statusField(pid_, "Threads"));
}

long OvhostProcess::rssKb() const {
    return statusField(pid_, "VmRSS");
}

long OvhostProcess::cpuTicks() const {
    std::string stat = procFile(pid_, "stat");
    size_t at = stat.rfind(')');
    if (at == std::string::npos) return -1;
    std::istringstream in(stat.substr(at + 2));
    std::string field;
    long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && in >> field; ++i) {
        if (i == 14) utime = std::stol(field);
        if (i == 15) stime = std::stol(field);
    }
    return utime + stime;
}

int countLogEntries(const std::string& log, const std::string& kind) {
    const std::string marker = "]===\r\n" + kind + "\r\n";
    int n = 0;
    for (size_t at = log.find(marker); at != std::string::npos; at = log.find(marker, at + 1))
        ++n;
    return n;
}
