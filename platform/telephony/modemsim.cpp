#include "platform/telephony/modemsim.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace ovsim {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

std::string upperNoSpaces(const std::string& s) {
    std::string out;
    for (char c : s)
        if (c != ' ' && c != '\t') out.push_back(static_cast<char>(std::toupper(c)));
    return out;
}

} // namespace

ModemSim::ModemSim(ModemSimOptions options) : options_(std::move(options)) {}

ModemSim::~ModemSim() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    if (wake_[1] >= 0) wake();
    if (thread_.joinable()) thread_.join();
    closePty();
    for (int& w : wake_)
        if (w >= 0) close(w);
    if (!options_.linkPath.empty()) unlink(options_.linkPath.c_str());
}

bool ModemSim::start() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) return false;
    if (!openPty()) return false;
    thread_ = std::thread([this] { run(); });
    return true;
}

bool ModemSim::openPty() {
    int m = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m < 0) return false;
    char name[128];
    if (grantpt(m) != 0 || unlockpt(m) != 0 || ptsname_r(m, name, sizeof name) != 0) {
        close(m);
        return false;
    }
    int s = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (s < 0) {
        close(m);
        return false;
    }
    termios t{};
    tcgetattr(s, &t);
    cfmakeraw(&t); // no echo or line editing before the provider sets the line up itself
    tcsetattr(s, TCSANOW, &t);
    fcntl(m, F_SETFL, fcntl(m, F_GETFL) | O_NONBLOCK);
    master_ = m;
    slave_ = s;
    ptyPath_ = name;
    ++generation_;
    if (!options_.linkPath.empty()) {
        std::string tmp = options_.linkPath + ".new";
        unlink(tmp.c_str());
        if (symlink(name, tmp.c_str()) != 0 || rename(tmp.c_str(), options_.linkPath.c_str()) != 0)
            return false;
    }
    return true;
}

void ModemSim::closePty() {
    if (master_ >= 0) close(master_);
    if (slave_ >= 0) close(slave_);
    master_ = slave_ = -1;
}

std::string ModemSim::path() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return options_.linkPath.empty() ? ptyPath_ : options_.linkPath;
}

void ModemSim::wake() {
    char c = 1;
    ssize_t n = ::write(wake_[1], &c, 1);
    (void)n;
}

void ModemSim::write(const std::string& bytes) {
    // Bounded: a provider that reads nothing must not stall the simulator.
    size_t done = 0;
    auto deadline = Clock::now() + milliseconds(2000);
    while (done < bytes.size() && master_ >= 0) {
        ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) return;
        if (Clock::now() >= deadline) return;
        pollfd p{master_, POLLOUT, 0};
        poll(&p, 1, 20);
    }
}

void ModemSim::result(const char* verbose, int numeric) {
    if (options_.mute) return;
    if (verbose_)
        write(std::string("\r\n") + verbose + "\r\n");
    else
        write(std::to_string(numeric) + "\r");
}

void ModemSim::ring(const std::string& number, const std::string& name) {
    std::lock_guard<std::mutex> lock(mutex_);
    ringing_ = true;
    rings_ = 0;
    ringNumber_ = number;
    ringName_ = name;
    nextRing_ = Clock::now();
    wake();
}

void ModemSim::stopRinging() {
    std::lock_guard<std::mutex> lock(mutex_);
    ringing_ = false;
    changed_.notify_all();
}

void ModemSim::setAnswer(uint32_t rate, uint32_t carrierRate, bool fails) {
    std::lock_guard<std::mutex> lock(mutex_);
    rate_ = rate;
    carrierRate_ = carrierRate;
    answerFails_ = fails;
}

void ModemSim::setMute(bool mute) {
    std::lock_guard<std::mutex> lock(mutex_);
    options_.mute = mute;
}

void ModemSim::hangUp() {
    std::unique_lock<std::mutex> lock(mutex_);
    int generation = generation_;
    hangUpPending_ = true;
    wake();
    changed_.wait_for(lock, milliseconds(5000), [&] { return generation_ != generation || stop_; });
}

void ModemSim::send(const std::string& bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    write(bytes);
}

bool ModemSim::online() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return online_;
}

std::string ModemSim::received() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return received_;
}

std::vector<std::string> ModemSim::commands() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return commands_;
}

int ModemSim::callsEnded() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return callsEnded_;
}

int ModemSim::ptyGeneration() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return generation_;
}

bool ModemSim::waitLocked(const std::function<bool()>& cond, int timeoutMs) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, milliseconds(timeoutMs), cond);
}

bool ModemSim::waitFor(const std::function<bool()>& cond, int timeoutMs) const {
    auto deadline = Clock::now() + milliseconds(timeoutMs);
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        lock.unlock(); // cond may call back into the simulator
        bool done = cond();
        lock.lock();
        if (done) return true;
        auto now = Clock::now();
        if (now >= deadline) return false;
        changed_.wait_until(lock, std::min(deadline, now + milliseconds(20)));
    }
}

bool ModemSim::waitForCommand(const std::string& command, int timeoutMs, size_t occurrence) const {
    std::string want = upperNoSpaces(command);
    return waitLocked(
        [&] {
            return static_cast<size_t>(std::count(commands_.begin(), commands_.end(), want)) >=
                   occurrence;
        },
        timeoutMs);
}

bool ModemSim::waitForReceived(const std::string& needle, int timeoutMs) const {
    return waitLocked([&] { return received_.find(needle) != std::string::npos; }, timeoutMs);
}

int ModemSim::timeoutMs(Clock::time_point now) const {
    Clock::time_point next = now + milliseconds(1000);
    if (ringing_) next = std::min(next, nextRing_);
    if (online_ && plusCount_ == 3)
        next = std::min(next, plusDone_ + milliseconds(options_.guardMs));
    if (answering_) next = std::min(next, connectAt_);
    auto ms = std::chrono::duration_cast<milliseconds>(next - now).count();
    return static_cast<int>(std::max<long long>(ms + 1, 0));
}

void ModemSim::run() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stop_) {
        pollfd fds[2] = {{wake_[0], POLLIN, 0}, {master_, POLLIN, 0}};
        int timeout = timeoutMs(Clock::now());
        lock.unlock();
        poll(fds, 2, timeout);
        lock.lock();
        if (fds[0].revents & POLLIN) {
            char buf[64];
            while (::read(wake_[0], buf, sizeof buf) > 0) {
            }
        }
        if (stop_) break;
        auto now = Clock::now();
        if (hangUpPending_) {
            hangUpPending_ = false;
            if (offHook_) write("\r\nNO CARRIER\r\n");
            if (offHook_) ++callsEnded_;
            online_ = offHook_ = ringing_ = answering_ = false;
            closePty();
            if (!openPty()) std::fprintf(stderr, "ovmodemsim: cannot open a new pty\n");
            changed_.notify_all();
            continue;
        }
        if (fds[1].revents & POLLIN) {
            char buf[256];
            ssize_t n = ::read(master_, buf, sizeof buf);
            std::string echo;
            for (ssize_t i = 0; i < n; ++i) {
                if (online_) {
                    onDataByte(buf[i], now);
                } else if (answering_) {
                    answering_ = false; // any key aborts the answer
                    result("NO CARRIER", 3);
                } else {
                    if (echo_ && !options_.mute) echo.push_back(buf[i]);
                    if (!echo.empty() && buf[i] == '\r') {
                        write(echo);
                        echo.clear();
                    }
                    onCommandByte(buf[i]);
                }
            }
            if (!echo.empty()) write(echo);
            changed_.notify_all();
        }
        if (online_ && plusCount_ == 3 && now >= plusDone_ + milliseconds(options_.guardMs)) {
            plusCount_ = 0;
            online_ = false; // escaped: the call stays up, commands are read again
            if (received_.size() >= 3) received_.resize(received_.size() - 3);
            result("OK", 0);
            changed_.notify_all();
        }
        if (answering_ && now >= connectAt_) {
            answering_ = false;
            connect();
        }
        if (ringing_ && now >= nextRing_) sendRing();
    }
}

void ModemSim::sendRing() {
    write("\r\nRING\r\n");
    ++rings_;
    if (rings_ == 1 && (!ringNumber_.empty() || !ringName_.empty())) {
        std::string block = "\r\nDATE = 1207\r\nTIME = 2150\r\n";
        if (!ringNumber_.empty()) block += "NMBR = " + ringNumber_ + "\r\n";
        if (!ringName_.empty()) block += "NAME = " + ringName_ + "\r\n";
        write(block);
    }
    nextRing_ = Clock::now() + milliseconds(options_.ringIntervalMs);
    if (rings_ >= options_.maxRings) ringing_ = false;
    changed_.notify_all();
}

void ModemSim::onDataByte(char c, Clock::time_point now) {
    if (c == '+') {
        if (plusCount_ == 0 && now - lastDataByte_ >= milliseconds(options_.guardMs))
            plusCount_ = 1;
        else if (plusCount_ > 0 && plusCount_ < 3)
            ++plusCount_;
        else
            plusCount_ = 0;
        if (plusCount_ == 3) plusDone_ = now;
    } else {
        plusCount_ = 0;
    }
    received_.push_back(c);
    lastDataByte_ = now;
}

void ModemSim::onCommandByte(char c) {
    if (c == '\r') {
        std::string line;
        line.swap(commandLine_);
        execute(line);
    } else if (c == 8 || c == 127) {
        if (!commandLine_.empty()) commandLine_.pop_back();
    } else if (c != '\n' && commandLine_.size() < 256) {
        commandLine_.push_back(c);
    }
}

void ModemSim::execute(const std::string& line) {
    std::string s = upperNoSpaces(line);
    size_t at = s.find("AT");
    if (at == std::string::npos) return; // modems ignore anything that is not a command
    s = s.substr(at);
    commands_.push_back(s);
    changed_.notify_all();
    if (options_.mute) return;
    size_t i = 2;
    bool ok = true;
    std::string info;
    auto number = [&] {
        int v = 0;
        while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i])))
            v = v * 10 + (s[i++] - '0');
        return v;
    };
    while (ok && i < s.size()) {
        char c = s[i++];
        switch (c) {
        case 'Z':
            number();
            echo_ = verbose_ = true;
            break;
        case 'E':
            echo_ = number() != 0;
            break;
        case 'V':
            verbose_ = number() != 0;
            break;
        case 'Q':
        case 'X':
        case 'L':
        case 'M':
        case 'W':
            number();
            break;
        case '&':
            if (i < s.size()) ++i;
            number();
            break;
        case 'S':
            number();
            if (i < s.size() && s[i] == '=') {
                ++i;
                number();
            } else if (i < s.size() && s[i] == '?') {
                ++i;
                info = "000";
            }
            break;
        case 'H':
            number();
            if (offHook_) endCall();
            break;
        case 'I':
            number();
            info = "Ossivane modem simulator";
            break;
        case 'A':
            if (!ringing_) {
                result("NO CARRIER", 3);
                return;
            }
            ringing_ = false;
            if (options_.answerDelayMs > 0) {
                answering_ = true;
                connectAt_ = Clock::now() + milliseconds(options_.answerDelayMs);
            } else {
                connect();
            }
            return;
        case 'O':
            if (!offHook_) {
                result("NO CARRIER", 3);
                return;
            }
            online_ = true;
            lastDataByte_ = Clock::now();
            result(("CONNECT " + std::to_string(rate_)).c_str(), 1);
            return;
        case '+':
        case '#': {
            size_t end = s.find(';', i);
            std::string ext = s.substr(i, end == std::string::npos ? std::string::npos : end - i);
            i = end == std::string::npos ? s.size() : end + 1;
            if (ext.rfind("VCID", 0) == 0 || ext.rfind("CID", 0) == 0)
                ok = options_.callerIdSupported;
            break;
        }
        default:
            ok = false;
        }
    }
    if (!info.empty()) write("\r\n" + info + "\r\n");
    result(ok ? "OK" : "ERROR", ok ? 0 : 4);
}

void ModemSim::connect() {
    if (answerFails_) {
        result("NO CARRIER", 3);
        return;
    }
    if (carrierRate_) result(("CARRIER " + std::to_string(carrierRate_)).c_str(), 1);
    result(rate_ ? ("CONNECT " + std::to_string(rate_)).c_str() : "CONNECT", 1);
    online_ = offHook_ = true;
    plusCount_ = 0;
    lastDataByte_ = Clock::now();
    changed_.notify_all();
}

void ModemSim::endCall() {
    online_ = offHook_ = false;
    ++callsEnded_;
    changed_.notify_all();
}

} // namespace ovsim
