// ovload: N simulated Telnet callers against a server on 127.0.0.1. Each connects, logs in,
// walks the area tree one key at a time with a think time between keys, and logs off. One
// epoll thread drives all callers; a second thread samples the server's memory, threads and
// descriptors from /proc while the load runs. Prints a readable summary and one RESULT line.
// With --web the callers come through the caller page's WebSocket instead (Boost.Beast's
// client, driven by one Asio loop on the same thread). With --ssh they come over SSH (libssh's
// client side): a few threads dial and log in, the epoll thread walks the areas.
#include "server/connections/web_beast.h"
#include "ssh_leg.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <queue>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using Time = Clock::time_point;

double msBetween(Time a, Time b) {
    return std::chrono::duration<double, std::milli>(b - a).count();
}

struct Options {
    uint16_t port = 0;
    int callers = 100;
    std::string nameFormat = "p%d"; // printf pattern, given the caller's index
    std::string password = "secret";
    int rampMs = 5000;
    int holdS = 20; // walking time once every caller is online
    int thinkMinMs = 1000;
    int thinkMaxMs = 3000;
    int promptTimeoutMs = 30000; // no answer for this long counts as an error
    int overallS = 180;          // at least; longer when the ramp and hold need it
    int pid = 0;                 // the server, for /proc sampling
    std::string label = "run";
    std::string latencyFile; // raw key-to-screen latencies, one per line (ms)
    bool web = false;        // callers over the caller page's WebSocket at --port
    bool ssh = false;        // callers over SSH at --port, logged in by the SSH login itself
};

enum class Stage { Connecting, WaitLogin, WaitPassword, WaitPrompt, Thinking, WaitClose, Done };

// A web caller's WebSocket. It outlives the call: handlers may still be queued after a close.
struct WebLeg {
    websocket::stream<tcp::socket> ws;
    beast::flat_buffer in;
    std::deque<std::string> out;
    bool writing = false;
    explicit WebLeg(net::io_context& ioc) : ws(ioc) {}
};

struct Caller {
    std::unique_ptr<WebLeg> web;
    SshLeg* ssh = nullptr;
    int fd = -1;
    Stage stage = Stage::Connecting;
    Time started{};    // connect() called
    Time loginShown{}; // "Login:  " received
    Time keySent{};
    bool steadyKey = false; // the key was sent while every caller was online
    bool loggedIn = false;
    bool failed = false;
    uint64_t bytesSinceKey = 0;
    std::string tail; // the last bytes after Telnet filtering, for prompt detection
    int iacState = 0; // 0 data, 1 after IAC, 2 after IAC WILL/WONT/DO/DONT, 3 in SB, 4 SB IAC
    Time deadline{};  // prompt time-out
};

struct Stats {
    std::vector<double> connectMs, loginMs;
    std::vector<double> keyMs;     // while every caller is online: the figures that count
    std::vector<double> rampKeyMs; // while callers still arrive or already leave
    uint64_t screens = 0, screenBytes = 0;
    int errors = 0, served = 0, online = 0, maxOnline = 0;
    std::map<std::string, int> errorKinds;
    uint64_t steadyScreens = 0;
};

bool parseArgs(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto next = [&]() -> const char* { return i + 1 < argc ? argv[++i] : ""; };
        if (a == "--port")
            o.port = static_cast<uint16_t>(std::atoi(next()));
        else if (a == "--callers")
            o.callers = std::atoi(next());
        else if (a == "--names")
            o.nameFormat = next();
        else if (a == "--password")
            o.password = next();
        else if (a == "--ramp-ms")
            o.rampMs = std::atoi(next());
        else if (a == "--hold-s")
            o.holdS = std::atoi(next());
        else if (a == "--think-ms") {
            std::string v = next();
            auto dash = v.find('-');
            o.thinkMinMs = std::atoi(v.c_str());
            o.thinkMaxMs =
                dash == std::string::npos ? o.thinkMinMs : std::atoi(v.c_str() + dash + 1);
        } else if (a == "--pid")
            o.pid = std::atoi(next());
        else if (a == "--label")
            o.label = next();
        else if (a == "--latency-file")
            o.latencyFile = next();
        else if (a == "--overall-s")
            o.overallS = std::atoi(next());
        else if (a == "--web")
            o.web = true;
        else if (a == "--ssh")
            o.ssh = true;
        else {
            std::fprintf(stderr, "ovload: unknown option %s\n", a.c_str());
            return false;
        }
    }
    if (o.port == 0 || o.callers <= 0 || o.thinkMaxMs < o.thinkMinMs) {
        std::fprintf(stderr,
                     "usage: ovload --port P [--callers N] [--names p%%d] [--password pw]\n"
                     "  [--ramp-ms 5000] [--hold-s 20] [--think-ms 1000-3000] [--pid SERVER]\n"
                     "  [--label text] [--latency-file path] [--overall-s 180] [--web | --ssh]\n");
        return false;
    }
    return true;
}

void raiseFileLimit(int needed) {
    rlimit r{};
    if (getrlimit(RLIMIT_NOFILE, &r) != 0) return;
    rlim_t want = static_cast<rlim_t>(needed) + 64;
    if (r.rlim_cur >= want) return;
    r.rlim_cur = std::min(want, r.rlim_max);
    (void)setrlimit(RLIMIT_NOFILE, &r);
}

// ---- /proc sampling ---------------------------------------------------------------------------

struct ProcSample {
    long rssKb = -1;
    long threads = -1;
    long fds = -1;
};

ProcSample sampleProcess(int pid) {
    ProcSample s;
    if (pid <= 0) return s;
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/status", pid);
    if (FILE* f = std::fopen(path, "r")) {
        char line[256];
        while (std::fgets(line, sizeof line, f)) {
            if (std::strncmp(line, "VmRSS:", 6) == 0) s.rssKb = std::atol(line + 6);
            if (std::strncmp(line, "Threads:", 8) == 0) s.threads = std::atol(line + 8);
        }
        std::fclose(f);
    }
    std::snprintf(path, sizeof path, "/proc/%d/fd", pid);
    if (DIR* d = opendir(path)) {
        long n = 0;
        while (dirent* e = readdir(d))
            if (e->d_name[0] != '.') ++n;
        closedir(d);
        s.fds = n;
    }
    return s;
}

// The process's user and system CPU time so far, in seconds; negative when unknown.
double cpuSeconds(int pid) {
    if (pid <= 0) return -1;
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/stat", pid);
    FILE* f = std::fopen(path, "r");
    if (!f) return -1;
    char buf[1024];
    size_t n = std::fread(buf, 1, sizeof buf - 1, f);
    std::fclose(f);
    buf[n] = 0;
    // The fields after the command's name (which may hold spaces) in brackets: utime is the
    // 12th of them, stime the 13th.
    const char* p = std::strrchr(buf, ')');
    unsigned long long utime = 0, stime = 0;
    if (!p || std::sscanf(p + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %llu %llu", &utime,
                          &stime) != 2)
        return -1;
    return double(utime + stime) / double(sysconf(_SC_CLK_TCK));
}

struct Sampler {
    int pid = 0;
    std::atomic<bool> stop{false};
    std::atomic<int>* online = nullptr;
    ProcSample idle, peak;
    long rssAtFullLoad = -1; // highest RSS while every caller was online
    int fullCount = 0;
    std::thread thread;

    void start(int p, std::atomic<int>* onlineCount, int callers) {
        pid = p;
        online = onlineCount;
        fullCount = callers;
        idle = sampleProcess(pid);
        peak = idle;
        thread = std::thread([this] {
            while (!stop.load()) {
                ProcSample s = sampleProcess(pid);
                peak.rssKb = std::max(peak.rssKb, s.rssKb);
                peak.threads = std::max(peak.threads, s.threads);
                peak.fds = std::max(peak.fds, s.fds);
                if (online->load() >= fullCount) rssAtFullLoad = std::max(rssAtFullLoad, s.rssKb);
                std::this_thread::sleep_for(std::chrono::milliseconds(200));
            }
        });
    }
    void finish() {
        stop = true;
        if (thread.joinable()) thread.join();
    }
};

// ---- The callers ------------------------------------------------------------------------------

class Load {
public:
    explicit Load(const Options& o) : o_(o), callers_(o.callers), rng_(12345) {}

    int run();

private:
    const Options& o_;
    std::vector<Caller> callers_;
    std::mt19937 rng_;
    Stats st_;
    int epfd_ = -1;
    net::io_context ioc_{1}; // the web callers' loop
    std::unique_ptr<SshDialer> dialer_;
    std::vector<double> dialQueueMs_; // SSH callers' wait for a dialling thread
    std::atomic<int> online_{0};
    int started_ = 0;
    bool stopping_ = false;
    Time t0_{};
    Time allOnlineAt_{};
    Time stoppedAt_{};
    double cpuAtFull_ = -1, cpuAtStop_ = -1; // the server's CPU seconds then
    int done_ = 0;
    using Timer = std::pair<Time, int>;
    std::priority_queue<Timer, std::vector<Timer>, std::greater<Timer>> timers_;

    void startCaller(int i);
    void fail(int i, const char* why);
    void finishCaller(int i, bool ok);
    void onReadable(int i);
    void onData(int i, const char* data, size_t n);
    void onPrompt(int i, Time now);
    void sendText(int i, const std::string& text);
    void pressKey(int i);
    void startWebCaller(int i);
    void takeSshCallers();
    void readWeb(int i);
    void writeWeb(int i);
    int thinkMs() {
        std::uniform_int_distribution<int> d(o_.thinkMinMs, o_.thinkMaxMs);
        return d(rng_);
    }
};

void Load::fail(int i, const char* why) {
    Caller& c = callers_[i];
    if (c.stage == Stage::Done) return;
    ++st_.errors;
    ++st_.errorKinds[why];
    finishCaller(i, false);
}

void Load::finishCaller(int i, bool ok) {
    Caller& c = callers_[i];
    if (c.loggedIn) online_.fetch_sub(1);
    c.loggedIn = false;
    c.failed = !ok;
    if (ok) ++st_.served;
    if (c.web) {
        beast::error_code ignored;
        c.web->ws.next_layer().close(ignored);
    }
    if (c.fd >= 0) {
        epoll_ctl(epfd_, EPOLL_CTL_DEL, c.fd, nullptr);
        if (!c.ssh) ::close(c.fd); // libssh closes its own
    }
    sshLegClose(c.ssh);
    c.ssh = nullptr;
    c.fd = -1;
    c.stage = Stage::Done;
    ++done_;
}

void Load::startCaller(int i) {
    Caller& c = callers_[i];
    c.started = Clock::now();
    if (o_.web) return startWebCaller(i);
    if (o_.ssh) {
        char name[64];
        std::snprintf(name, sizeof name, o_.nameFormat.c_str(), i);
        dialer_->dial(i, name, o_.password);
        c.stage = Stage::Connecting;
        c.deadline = c.started + std::chrono::milliseconds(o_.promptTimeoutMs);
        return;
    }
    c.fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (c.fd < 0) return fail(i, "socket");
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(o_.port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int r = ::connect(c.fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    if (r != 0 && errno != EINPROGRESS) return fail(i, "connect");
    epoll_event ev{};
    ev.events = EPOLLIN | EPOLLRDHUP;
    ev.data.u32 = static_cast<uint32_t>(i);
    epoll_ctl(epfd_, EPOLL_CTL_ADD, c.fd, &ev);
    c.stage = Stage::WaitLogin;
    c.deadline = c.started + std::chrono::milliseconds(o_.promptTimeoutMs);
}

void Load::startWebCaller(int i) {
    Caller& c = callers_[i];
    c.web = std::make_unique<WebLeg>(ioc_);
    c.stage = Stage::WaitLogin;
    c.deadline = c.started + std::chrono::milliseconds(o_.promptTimeoutMs);
    tcp::endpoint at(net::ip::address_v4::loopback(), o_.port);
    c.web->ws.next_layer().async_connect(at, [this, i](beast::error_code ec) {
        Caller& c = callers_[i];
        if (c.stage == Stage::Done) return;
        if (ec) return fail(i, "connect");
        c.web->ws.next_layer().set_option(tcp::no_delay(true), ec);
        c.web->ws.async_handshake("127.0.0.1:" + std::to_string(o_.port), "/ws",
                                  [this, i](beast::error_code ec) {
                                      Caller& c = callers_[i];
                                      if (c.stage == Stage::Done) return;
                                      if (ec) return fail(i, "handshake");
                                      c.web->ws.binary(true);
                                      readWeb(i);
                                      writeWeb(i);
                                  });
    });
}

// SSH callers whose login and shell are done: from now on the epoll thread reads them. The SSH
// login is the board's login, so the next prompt is the first area screen's.
void Load::takeSshCallers() {
    for (SshDialer::Ready& r : dialer_->takeReady()) {
        Caller& c = callers_[r.index];
        if (c.stage == Stage::Done) {
            sshLegClose(r.leg);
            continue;
        }
        if (!r.leg) {
            fail(r.index, r.error.c_str());
            continue;
        }
        c.ssh = r.leg;
        c.fd = sshLegFd(r.leg);
        c.loginShown = Clock::now();
        st_.connectMs.push_back(r.setupMs);
        dialQueueMs_.push_back(r.queuedMs);
        c.stage = Stage::WaitPrompt;
        c.deadline = c.loginShown + std::chrono::milliseconds(o_.promptTimeoutMs);
        epoll_event ev{};
        ev.events = EPOLLIN | EPOLLRDHUP;
        ev.data.u32 = static_cast<uint32_t>(r.index);
        epoll_ctl(epfd_, EPOLL_CTL_ADD, c.fd, &ev);
        onReadable(r.index); // the screen may have come in with the shell's reply
    }
}

void Load::readWeb(int i) {
    Caller& c = callers_[i];
    c.web->ws.async_read(c.web->in, [this, i](beast::error_code ec, size_t) {
        Caller& c = callers_[i];
        if (c.stage == Stage::Done) return;
        if (ec) {
            // End of the line: expected only after the quit key.
            if (c.stage == Stage::WaitClose) return finishCaller(i, true);
            return fail(i, "closed by server");
        }
        auto data = c.web->in.data();
        onData(i, static_cast<const char*>(data.data()), data.size());
        c.web->in.consume(c.web->in.size());
        if (c.stage != Stage::Done) readWeb(i);
    });
}

// One message at a time, in order.
void Load::writeWeb(int i) {
    Caller& c = callers_[i];
    if (c.web->writing || c.web->out.empty() || !c.web->ws.is_open()) return;
    c.web->writing = true;
    c.web->ws.async_write(net::buffer(c.web->out.front()), [this, i](beast::error_code ec, size_t) {
        Caller& c = callers_[i];
        c.web->writing = false;
        c.web->out.pop_front();
        if (c.stage == Stage::Done) return;
        if (ec) return fail(i, "send");
        writeWeb(i);
    });
}

void Load::sendText(int i, const std::string& text) {
    Caller& c = callers_[i];
    if (c.web) {
        c.web->out.push_back(text);
        return writeWeb(i);
    }
    if (c.ssh) {
        if (!sshLegWrite(c.ssh, text)) return fail(i, "send");
        return onReadable(i); // libssh may have taken in the answer while it sent
    }
    ssize_t n = ::send(c.fd, text.data(), text.size(), MSG_NOSIGNAL);
    if (n != static_cast<ssize_t>(text.size())) fail(i, "send");
}

// Strips Telnet commands (the server's option negotiation) and keeps a short tail of the text.
void Load::onData(int i, const char* data, size_t n) {
    Caller& c = callers_[i];
    for (size_t k = 0; k < n && c.stage != Stage::Done; ++k) {
        auto b = static_cast<uint8_t>(data[k]);
        switch (c.iacState) {
        case 1:
            if (b == 255) break; // an escaped 255 is data
            c.iacState = (b >= 251 && b <= 254) ? 2 : (b == 250 ? 3 : 0);
            continue;
        case 2:
            c.iacState = 0;
            continue;
        case 3:
            if (b == 255) c.iacState = 4;
            continue;
        case 4:
            c.iacState = b == 240 ? 0 : 3;
            continue;
        default:
            if (b == 255) {
                c.iacState = 1;
                continue;
            }
        }
        c.iacState = 0;
        ++c.bytesSinceKey;
        c.tail.push_back(static_cast<char>(b));
        if (c.tail.size() > 512) c.tail.erase(0, c.tail.size() - 256);
        auto endsWith = [&](const char* s) {
            size_t l = std::strlen(s);
            return c.tail.size() >= l && c.tail.compare(c.tail.size() - l, l, s) == 0;
        };
        Time now = Clock::now();
        if (c.stage == Stage::WaitLogin && endsWith("Login:  ")) {
            c.loginShown = now;
            st_.connectMs.push_back(msBetween(c.started, now));
            char name[64];
            std::snprintf(name, sizeof name, o_.nameFormat.c_str(), i);
            c.stage = Stage::WaitPassword;
            c.deadline = now + std::chrono::milliseconds(o_.promptTimeoutMs);
            sendText(i, std::string(name) + "\r");
        } else if (c.stage == Stage::WaitPassword && endsWith("Password:  ")) {
            c.stage = Stage::WaitPrompt;
            c.tail.clear();
            sendText(i, o_.password + "\r");
        } else if (c.stage == Stage::WaitPrompt && endsWith("]  ")) {
            onPrompt(i, now);
        }
    }
}

void Load::onPrompt(int i, Time now) {
    Caller& c = callers_[i];
    if (!c.loggedIn) {
        c.loggedIn = true;
        st_.loginMs.push_back(msBetween(c.loginShown, now));
        int on = online_.fetch_add(1) + 1;
        st_.maxOnline = std::max(st_.maxOnline, on);
        if (on == o_.callers && allOnlineAt_ == Time{}) allOnlineAt_ = now;
    } else {
        (c.steadyKey ? st_.keyMs : st_.rampKeyMs).push_back(msBetween(c.keySent, now));
        ++st_.screens;
        if (c.steadyKey) ++st_.steadyScreens;
        st_.screenBytes += c.bytesSinceKey;
    }
    c.stage = Stage::Thinking;
    c.deadline = Time::max();
    timers_.push({now + std::chrono::milliseconds(thinkMs()), i});
}

// The prompt is "[keys]  ", maybe with colour sequences around the keys: walk into a sub-area
// or back to the parent at random; log off with the last key (quit) once the run is over.
void Load::pressKey(int i) {
    Caller& c = callers_[i];
    std::string plain;
    for (size_t k = 0; k < c.tail.size(); ++k) {
        if (c.tail[k] == '\x1b' && k + 1 < c.tail.size() && c.tail[k + 1] == '[') {
            k += 2;
            while (k < c.tail.size() && !(c.tail[k] >= 0x40 && c.tail[k] <= 0x7E))
                ++k;
            continue;
        }
        plain.push_back(c.tail[k]);
    }
    size_t close = plain.size() >= 3 ? plain.size() - 3 : 0;
    size_t open = plain.rfind('[', close);
    if (open == std::string::npos || close <= open + 1) return fail(i, "prompt unreadable");
    std::string keys = plain.substr(open + 1, close - open - 1);
    char quit = keys.back();
    std::string choices;
    for (char k : keys)
        if (k >= '1' && k <= '9') choices.push_back(k);
    if (keys.size() >= 2) {
        char back = keys[keys.size() - 2];
        if (!(back >= '1' && back <= '9') && !(back >= 'A' && back <= 'I')) choices.push_back(back);
    }
    char key = quit;
    if (!stopping_ && !choices.empty()) {
        std::uniform_int_distribution<size_t> d(0, choices.size() - 1);
        key = choices[d(rng_)];
    }
    c.tail.clear();
    c.bytesSinceKey = 0;
    c.keySent = Clock::now();
    c.steadyKey = allOnlineAt_ != Time{} && !stopping_;
    c.deadline = c.keySent + std::chrono::milliseconds(o_.promptTimeoutMs);
    c.stage = key == quit ? Stage::WaitClose : Stage::WaitPrompt;
    sendText(i, std::string(1, key));
}

void Load::onReadable(int i) {
    Caller& c = callers_[i];
    char buf[65536];
    while (c.ssh) {
        long n = sshLegRead(c.ssh, buf, sizeof buf);
        if (n > 0) {
            onData(i, buf, static_cast<size_t>(n));
            if (c.stage == Stage::Done) return;
            continue;
        }
        if (n == 0) return;
        if (c.stage == Stage::WaitClose) return finishCaller(i, true);
        return fail(i, "closed by server");
    }
    for (;;) {
        ssize_t n = ::recv(c.fd, buf, sizeof buf, 0);
        if (n > 0) {
            onData(i, buf, static_cast<size_t>(n));
            if (c.stage == Stage::Done) return;
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
        if (n < 0 && errno == EINTR) continue;
        // End of the line: expected only after the quit key.
        if (c.stage == Stage::WaitClose) return finishCaller(i, true);
        return fail(i, n == 0 ? "closed by server" : "recv error");
    }
}

int Load::run() {
    raiseFileLimit(o_.callers + 16);
    epfd_ = epoll_create1(EPOLL_CLOEXEC);
    Sampler sampler;
    sampler.start(o_.pid, &online_, o_.callers);
    t0_ = Clock::now();
    const Time hardEnd =
        t0_ + std::chrono::seconds(std::max(o_.overallS, o_.rampMs / 1000 + o_.holdS + 150));
    std::vector<epoll_event> events(1024);
    auto keepLoop = net::make_work_guard(ioc_);
    // Enough dialling threads that logging in keeps up with the ramp on a busy machine; how
    // long a caller still waited for one is told apart from the connect itself.
    if (o_.ssh) dialer_ = std::make_unique<SshDialer>(o_.port, 32);
    Time nextDeadlineCheck{};
    while (done_ < o_.callers) {
        Time now = Clock::now();
        // Connect on schedule, spread evenly over the ramp.
        while (started_ < o_.callers &&
               (o_.rampMs <= 0 || msBetween(t0_, now) >= double(o_.rampMs) * started_ / o_.callers))
            startCaller(started_++);
        if (dialer_) takeSshCallers();
        if (allOnlineAt_ != Time{} && cpuAtFull_ < 0) cpuAtFull_ = cpuSeconds(o_.pid);
        if (!stopping_ && allOnlineAt_ != Time{} &&
            now >= allOnlineAt_ + std::chrono::seconds(o_.holdS)) {
            stopping_ = true;
            stoppedAt_ = now;
            cpuAtStop_ = cpuSeconds(o_.pid);
        }
        // Not everyone made it online in time: stop anyway, and the errors will say why.
        if (!stopping_ && started_ == o_.callers &&
            now >= t0_ + std::chrono::milliseconds(o_.rampMs + o_.promptTimeoutMs) +
                       std::chrono::seconds(o_.holdS))
            stopping_ = true;
        while (!timers_.empty() && timers_.top().first <= now) {
            int i = timers_.top().second;
            timers_.pop();
            if (callers_[i].stage == Stage::Thinking) pressKey(i);
        }
        // Time-outs are seconds long: a look every 50 ms keeps the loop short with many callers.
        if (now >= nextDeadlineCheck) {
            nextDeadlineCheck = now + std::chrono::milliseconds(50);
            for (int i = 0; i < started_; ++i) {
                Caller& c = callers_[i];
                if (c.stage != Stage::Done && c.stage != Stage::Thinking && now > c.deadline)
                    fail(i, c.stage == Stage::WaitLogin ? "no login prompt" : "no answer in time");
            }
        }
        if (now > hardEnd) {
            for (int i = 0; i < o_.callers; ++i)
                if (callers_[i].stage != Stage::Done) fail(i, "run over time");
        }
        int timeout = 5;
        if (!timers_.empty())
            timeout = std::clamp(int(msBetween(now, timers_.top().first)) + 1, 0, 5);
        if (o_.web) {
            ioc_.run_one_for(std::chrono::milliseconds(timeout));
            ioc_.poll();
        }
        int n = o_.web ? 0 : epoll_wait(epfd_, events.data(), int(events.size()), timeout);
        for (int k = 0; k < n; ++k) {
            int i = static_cast<int>(events[k].data.u32);
            if (callers_[i].stage != Stage::Done) onReadable(i);
        }
    }
    sampler.finish();
    dialer_.reset();
    ::close(epfd_);

    auto pct = [](std::vector<double> v, double p) {
        if (v.empty()) return 0.0;
        std::sort(v.begin(), v.end());
        size_t idx = static_cast<size_t>(p / 100.0 * double(v.size() - 1) + 0.5);
        return v[std::min(idx, v.size() - 1)];
    };
    // Screens per second while every caller was online.
    double span = stoppedAt_ != Time{} ? msBetween(allOnlineAt_, stoppedAt_) / 1000.0 : 0;
    double sps = span > 0 ? double(st_.steadyScreens) / span : 0;
    double bytesPerScreen = st_.screens ? double(st_.screenBytes) / double(st_.screens) : 0;
    // The server's CPU time per 1000 screens while every caller was online.
    double cpuPer1000 = cpuAtFull_ >= 0 && cpuAtStop_ >= 0 && st_.steadyScreens
                            ? (cpuAtStop_ - cpuAtFull_) * 1000.0 / double(st_.steadyScreens)
                            : 0;
    long rssLoad = sampler.rssAtFullLoad >= 0 ? sampler.rssAtFullLoad : sampler.peak.rssKb;
    double perCallerKb = st_.maxOnline > 0 && rssLoad >= 0 && sampler.idle.rssKb >= 0
                             ? double(rssLoad - sampler.idle.rssKb) / st_.maxOnline
                             : 0;

    std::printf("%s: %d callers, %d served, %d errors, max online %d\n", o_.label.c_str(),
                o_.callers, st_.served, st_.errors, st_.maxOnline);
    for (auto& [kind, count] : st_.errorKinds)
        std::printf("  error: %s x%d\n", kind.c_str(), count);
    std::printf(
        o_.ssh ? "  connect-and-authenticate ms (to the open shell): p50 %.2f p99 %.2f max %.2f\n"
               : "  connect-to-first-prompt ms: p50 %.2f p99 %.2f max %.2f\n",
        pct(st_.connectMs, 50), pct(st_.connectMs, 99), pct(st_.connectMs, 100));
    if (o_.ssh)
        std::printf("  waiting for a dialling thread first (the generator's, not the server's) "
                    "ms: p50 %.2f p99 %.2f\n",
                    pct(dialQueueMs_, 50), pct(dialQueueMs_, 99));
    std::printf("  login ms: p50 %.2f p99 %.2f max %.2f\n", pct(st_.loginMs, 50),
                pct(st_.loginMs, 99), pct(st_.loginMs, 100));
    std::printf("  key-to-screen ms: p50 %.3f p90 %.3f p99 %.3f max %.3f (%llu screens, %.0f "
                "bytes each, %.1f screens/s)\n",
                pct(st_.keyMs, 50), pct(st_.keyMs, 90), pct(st_.keyMs, 99), pct(st_.keyMs, 100),
                static_cast<unsigned long long>(st_.screens), bytesPerScreen, sps);
    std::printf("  key-to-screen ms outside the full load (arrivals, departures): p50 %.3f p99 "
                "%.3f (%zu keys)\n",
                pct(st_.rampKeyMs, 50), pct(st_.rampKeyMs, 99), st_.rampKeyMs.size());
    if (o_.pid > 0)
        std::printf("  server: RSS idle %ld KiB, under load %ld KiB (%.1f KiB per caller), "
                    "threads %ld, descriptors %ld, CPU %.3f s per 1000 screens\n",
                    sampler.idle.rssKb, rssLoad, perCallerKb, sampler.peak.threads,
                    sampler.peak.fds, cpuPer1000);
    std::printf(
        "RESULT label=%s callers=%d served=%d errors=%d max_online=%d connect_p50=%.3f "
        "connect_p99=%.3f login_p50=%.3f login_p99=%.3f key_p50=%.4f key_p90=%.4f "
        "key_p99=%.4f key_max=%.3f ramp_key_p99=%.4f screens=%llu screen_bytes=%.0f sps=%.1f "
        "rss_idle_kb=%ld rss_load_kb=%ld kb_per_caller=%.1f threads=%ld fds=%ld "
        "cpu_s_per_1000=%.4f\n",
        o_.label.c_str(), o_.callers, st_.served, st_.errors, st_.maxOnline, pct(st_.connectMs, 50),
        pct(st_.connectMs, 99), pct(st_.loginMs, 50), pct(st_.loginMs, 99), pct(st_.keyMs, 50),
        pct(st_.keyMs, 90), pct(st_.keyMs, 99), pct(st_.keyMs, 100), pct(st_.rampKeyMs, 99),
        static_cast<unsigned long long>(st_.screens), bytesPerScreen, sps, sampler.idle.rssKb,
        rssLoad, perCallerKb, sampler.peak.threads, sampler.peak.fds, cpuPer1000);
    std::fflush(stdout);
    if (!o_.latencyFile.empty()) {
        if (FILE* f = std::fopen(o_.latencyFile.c_str(), "w")) {
            for (double v : st_.keyMs)
                std::fprintf(f, "%.4f\n", v);
            std::fclose(f);
        }
    }
    return st_.errors == 0 && st_.served == o_.callers ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    Options o;
    if (!parseArgs(argc, argv, o)) return 2;
    Load load(o);
    return load.run();
}
