#include "platform/telephony/line_watcher.h"

#include "platform/telephony/provider_state.h"
#include "platform/telephony/serial_port.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace ovtapi {
namespace {

using std::chrono::milliseconds;

constexpr int kDtrLowMs = 600;
constexpr int kEscapeReplyMs = 1500; // after the guard time, how long "+++" may take to say OK
constexpr int kAthReplyMs = 3000;
constexpr int kCarrierCheckMs = 250;
constexpr int kQuietLineMs = 100;
constexpr int kMaxBackoffMs = 5000;
constexpr int kWriteMs = 2000;
constexpr int kEscapeAttempts = 3; // data still flowing can spoil the guard time

bool isCallLive(DWORD state) {
    return state != LINECALLSTATE_IDLE && state != LINECALLSTATE_DISCONNECTED;
}

} // namespace

LineWatcher::LineWatcher(HLINE line, int fd, DeviceConfig device, Settings settings)
    : line_(line), fd_(fd), device_(std::move(device)), settings_(std::move(settings)) {}

LineWatcher::~LineWatcher() {
    if (thread_.joinable()) stopAndJoin();
    for (int& w : wake_)
        if (w >= 0) close(w);
}

bool LineWatcher::start() {
    if (pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) return false;
    hasLines_ = modemControl().hasLines(fd_);
    if (hasLines_ && !modemControl().setDtr(fd_, true)) hasLines_ = false;
    startInit();
    thread_ = std::thread([this] { run(); });
    return true;
}

void LineWatcher::wake() {
    char c = 1;
    ssize_t n = write(wake_[1], &c, 1);
    (void)n; // a full pipe already wakes the thread
}

void LineWatcher::stopAndJoin() {
    stop_ = true;
    wake();
    if (thread_.joinable()) thread_.join();
}

void LineWatcher::run() {
    while (!stop_) {
        TimePoint now = Clock::now();
        pollfd fds[2] = {{wake_[0], POLLIN, 0}, {fd_, 0, 0}};
        nfds_t count = 1;
        if (fd_ >= 0) {
            // While connected the data belongs to the caller; only a hang-up is watched.
            fds[1].events = phase_ == Phase::Connected ? 0 : POLLIN;
            count = 2;
        }
        int r = poll(fds, count, pollTimeout(now));
        if (r < 0 && errno != EINTR) break;
        if (fds[0].revents & POLLIN) {
            char buf[64];
            while (read(wake_[0], buf, sizeof buf) > 0) {
            }
        }
        if (stop_) break;
        handleCommands();
        if (count == 2 && fd_ >= 0) {
            if (fds[1].revents & POLLIN)
                readModem();
            else if (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL))
                deviceLost("the device hung up");
        }
        onTimers(Clock::now());
    }
    finalHangUp();
}

int LineWatcher::pollTimeout(TimePoint now) const {
    std::optional<TimePoint> next;
    auto consider = [&](TimePoint t) {
        if (!next || t < *next) next = t;
    };
    switch (phase_) {
    case Phase::Closed:
        consider(reopenAt_);
        break;
    case Phase::Init:
        consider(stepDeadline_);
        break;
    case Phase::Idle:
        if (!initialised_ && !ringing_) consider(initRetryAt_);
        if (ringing_) consider(lastRing_ + milliseconds(settings_.ringTimeoutMs));
        if (callerIdQuietAt_) consider(*callerIdQuietAt_);
        break;
    case Phase::Answering:
        consider(answerDeadline_);
        if (quietLineAt_) consider(*quietLineAt_);
        break;
    case Phase::Connected:
        if (hasLines_) consider(nextCarrierCheck_);
        break;
    case Phase::HangingUp:
        consider(hangAt_);
        break;
    }
    if (!next) return 1000;
    auto ms = std::chrono::duration_cast<milliseconds>(*next - now).count();
    return static_cast<int>(std::clamp<long long>(ms + 1, 0, 1000));
}

void LineWatcher::readModem() {
    char buf[256];
    while (fd_ >= 0 && phase_ != Phase::Connected) {
        // While answering, one byte at a time: nothing after CONNECT may be taken from the caller.
        size_t want = phase_ == Phase::Answering ? 1 : sizeof buf;
        ssize_t n = read(fd_, buf, want);
        if (n == 0) {
            deviceLost("end of file");
            return;
        }
        if (n < 0) {
            if (errno == EINTR) continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK) deviceLost("read error");
            return;
        }
        for (ssize_t i = 0; i < n; ++i) {
            char c = buf[i];
            if (phase_ == Phase::Answering) {
                if (c == '\r') { // the LF that follows belongs to the result, not to the caller
                    if (!assembler_.empty())
                        quietLineAt_ = Clock::now() + milliseconds(kQuietLineMs);
                    continue;
                }
                quietLineAt_.reset();
            }
            if (auto line = assembler_.feed(c)) {
                onLine(*line);
                if (phase_ == Phase::Connected || fd_ < 0) return;
            }
        }
        if (static_cast<size_t>(n) < want) return;
    }
}

void LineWatcher::onLine(const std::string& text) {
    if (text.empty()) return;
    ModemLine m = classifyLine(text);
    switch (phase_) {
    case Phase::Init:
        // Before ATV1 takes effect the modem may still answer with numeric codes.
        if (m.kind == ResultKind::Ok || text == "0")
            nextInitStep(false, nullptr);
        else if (m.kind == ResultKind::Error || text == "4")
            nextInitStep(true, "ERROR");
        break;
    case Phase::Idle:
        if (m.kind == ResultKind::Ring)
            ring();
        else if (m.kind == ResultKind::CallerIdField)
            callerIdField(m);
        else if (m.kind == ResultKind::Connect) {
            report(device_.name + ": the modem answered by itself; hanging up");
            startHangUp(0, 0);
        }
        break;
    case Phase::Answering:
        if (m.kind == ResultKind::Carrier)
            carrierRate_ = m.rate;
        else if (m.kind == ResultKind::Connect)
            connected(m.rate);
        else if (m.kind == ResultKind::NoCarrier || m.kind == ResultKind::Error ||
                 m.kind == ResultKind::Busy || m.kind == ResultKind::NoAnswer ||
                 m.kind == ResultKind::NoDialtone)
            answerFailed();
        break;
    case Phase::HangingUp:
        if (hangStep_ == HangStep::GuardAfter && m.kind == ResultKind::Ok) {
            hangAt_ = Clock::now(); // back in command mode: ATH at once
            hangUpStep(hangAt_);
        } else if (hangStep_ == HangStep::AfterAth &&
                   (m.kind == ResultKind::Ok || m.kind == ResultKind::NoCarrier ||
                    m.kind == ResultKind::Error)) {
            finishHangUp();
        }
        break;
    case Phase::Closed:
    case Phase::Connected:
        break;
    }
}

void LineWatcher::onTimers(TimePoint now) {
    switch (phase_) {
    case Phase::Closed:
        if (now >= reopenAt_) reopen();
        break;
    case Phase::Init:
        if (now >= stepDeadline_) nextInitStep(true, "no answer");
        break;
    case Phase::Idle:
        if (ringing_ && !offered_ && callerIdQuietAt_ && now >= *callerIdQuietAt_) offer();
        if (ringing_ && now >= lastRing_ + milliseconds(settings_.ringTimeoutMs)) endRinging();
        if (!initialised_ && !ringing_ && now >= initRetryAt_) startInit();
        break;
    case Phase::Answering:
        if (quietLineAt_ && now >= *quietLineAt_) {
            quietLineAt_.reset();
            if (auto line = assembler_.feed('\n')) onLine(*line);
            if (phase_ != Phase::Answering) break;
        }
        if (now >= answerDeadline_) {
            report(device_.name + ": no CONNECT after ATA");
            if (!send("")) return; // any character aborts the answer
            answerFailed();
        }
        break;
    case Phase::Connected:
        if (hasLines_ && now >= nextCarrierCheck_) {
            nextCarrierCheck_ = now + milliseconds(kCarrierCheckMs);
            bool dcd = true;
            if (modemControl().carrier(fd_, dcd) && !dcd) {
                std::lock_guard<std::recursive_mutex> lock(gLock);
                if (Call* c = findCall(connectedCall_)) {
                    postCallState(*c, LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_NORMAL);
                    postCallState(*c, LINECALLSTATE_IDLE, 0);
                }
                connectedCall_ = 0;
                phase_ = Phase::Idle;
                assembler_.clear();
            }
        }
        break;
    case Phase::HangingUp:
        if (now >= hangAt_) hangUpStep(now);
        break;
    }
}

void LineWatcher::handleCommands() {
    for (;;) {
        Command cmd;
        {
            std::lock_guard<std::recursive_mutex> lock(gLock);
            Line* line = findLine(line_);
            if (!line || line->commands.empty()) return;
            cmd = line->commands.front();
            line->commands.pop_front();
        }
        if (cmd.kind == CommandKind::Answer)
            handleAnswer(cmd.call, cmd.request);
        else
            handleDrop(cmd.call, cmd.request);
    }
}

void LineWatcher::handleAnswer(HCALL call, LONG request) {
    {
        std::lock_guard<std::recursive_mutex> lock(gLock);
        Call* c = findCall(call);
        if (phase_ != Phase::Idle || call != offered_ || !c || !isCallLive(c->state)) {
            postReply(line_, request, LINEERR_OPERATIONFAILED);
            return;
        }
    }
    answerCall_ = call;
    answerRequest_ = request;
    carrierRate_ = 0;
    answerDeadline_ = Clock::now() + milliseconds(settings_.answerTimeoutMs);
    assembler_.clear();
    quietLineAt_.reset();
    phase_ = Phase::Answering;
    if (!send("ATA")) return; // deviceLost has answered the request
}

void LineWatcher::handleDrop(HCALL call, LONG request) {
    if (phase_ == Phase::Answering && call == answerCall_) {
        if (!send("")) { // deviceLost has ended the call; the drop still succeeded
            std::lock_guard<std::recursive_mutex> lock(gLock);
            postReply(line_, request, 0);
            return;
        }
        std::lock_guard<std::recursive_mutex> lock(gLock);
        postReply(line_, answerRequest_, LINEERR_OPERATIONFAILED);
        postReply(line_, request, 0);
        if (Call* c = findCall(call)) postCallState(*c, LINECALLSTATE_IDLE, 0);
        answerCall_ = 0;
        phase_ = Phase::Idle; // the rest of this ringing is ignored: offered_ stays
        lastRing_ = Clock::now();
        return;
    }
    if (phase_ == Phase::Connected && call == connectedCall_) {
        startHangUp(call, request);
        return;
    }
    std::lock_guard<std::recursive_mutex> lock(gLock);
    postReply(line_, request, 0);
    if (Call* c = findCall(call); c && c->state != LINECALLSTATE_IDLE)
        postCallState(*c, LINECALLSTATE_IDLE, 0);
}

bool LineWatcher::send(const std::string& command) {
    if (fd_ < 0) return false;
    if (!writeAll(fd_, command + "\r", kWriteMs)) {
        deviceLost("write failed");
        return false;
    }
    return true;
}

void LineWatcher::startInit() {
    steps_.clear();
    steps_.push_back({"ATZ", false});
    if (!device_.init.empty()) {
        std::string init = device_.init;
        if (init.size() < 2 || (init.compare(0, 2, "AT") != 0 && init.compare(0, 2, "at") != 0))
            init = "AT" + init;
        steps_.push_back({init, false});
    }
    steps_.push_back({"ATE0", false});
    steps_.push_back({"ATV1", false});
    steps_.push_back({"ATS0=0", false});
    steps_.push_back({"AT+VCID=1", true}); // many modems lack caller ID; the rest still works
    step_ = 0;
    phase_ = Phase::Init;
    assembler_.clear();
    stepDeadline_ = Clock::now() + milliseconds(settings_.commandTimeoutMs);
    (void)send(steps_[0].command);
}

void LineWatcher::nextInitStep(bool previousFailed, const char* reason) {
    if (previousFailed && !steps_[step_].errorIsFine) {
        report(device_.name + ": modem initialisation failed at " + steps_[step_].command + " (" +
               reason + "); next try in " + std::to_string(settings_.initRetryMs) + " ms");
        initialised_ = false;
        initRetryAt_ = Clock::now() + milliseconds(settings_.initRetryMs);
        phase_ = Phase::Idle;
        return;
    }
    if (++step_ == steps_.size()) {
        initialised_ = true;
        backoffMs_ = 250;
        phase_ = Phase::Idle;
        return;
    }
    stepDeadline_ = Clock::now() + milliseconds(settings_.commandTimeoutMs);
    (void)send(steps_[step_].command);
}

void LineWatcher::ring() {
    TimePoint now = Clock::now();
    if (!ringing_) {
        ringing_ = true;
        rings_ = 0;
        callerId_ = CallerId();
        offered_ = 0;
        callerIdQuietAt_.reset();
    }
    ++rings_;
    lastRing_ = now;
    if (rings_ >= 2 && !offered_) offer();
}

void LineWatcher::callerIdField(const ModemLine& line) {
    if (!ringing_) { // some modems send the block before the first RING
        ring();
        rings_ = 0;
    }
    if (offered_) return; // too late for this call
    lastRing_ = Clock::now();
    callerId_.take(line);
    if (callerId_.complete())
        offer();
    else
        callerIdQuietAt_ = Clock::now() + milliseconds(settings_.callerIdWaitMs);
}

void LineWatcher::offer() {
    callerIdQuietAt_.reset();
    std::lock_guard<std::recursive_mutex> lock(gLock);
    Line* line = findLine(line_);
    if (!line) return;
    offered_ = newCall(*line, callerId_);
    if (Call* c = findCall(offered_))
        postCallState(*c, LINECALLSTATE_OFFERING, 0, LINECALLPRIVILEGE_OWNER);
}

void LineWatcher::endRinging() {
    std::lock_guard<std::recursive_mutex> lock(gLock);
    if (Call* c = findCall(offered_); c && isCallLive(c->state)) {
        postCallState(*c, LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_NORMAL);
        postCallState(*c, LINECALLSTATE_IDLE, 0);
    }
    ringing_ = false;
    offered_ = 0;
    callerIdQuietAt_.reset();
}

void LineWatcher::connected(uint32_t rate) {
    std::lock_guard<std::recursive_mutex> lock(gLock);
    Call* c = findCall(answerCall_);
    if (!c || !isCallLive(c->state)) { // dropped meanwhile: nobody wants this carrier
        answerCall_ = 0;
        phase_ = Phase::Connected;
        startHangUp(0, 0);
        return;
    }
    c->rate = carrierRate_ ? carrierRate_ : (rate ? rate : 300);
    postReply(line_, answerRequest_, 0);
    postCallState(*c, LINECALLSTATE_CONNECTED, 0);
    connectedCall_ = answerCall_;
    answerCall_ = 0;
    ringing_ = false;
    offered_ = 0;
    phase_ = Phase::Connected;
    nextCarrierCheck_ = Clock::now() + milliseconds(kCarrierCheckMs);
}

void LineWatcher::answerFailed() {
    std::lock_guard<std::recursive_mutex> lock(gLock);
    postReply(line_, answerRequest_, LINEERR_OPERATIONFAILED);
    if (Call* c = findCall(answerCall_); c && isCallLive(c->state)) {
        postCallState(*c, LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_UNAVAIL);
        postCallState(*c, LINECALLSTATE_IDLE, 0);
    }
    answerCall_ = 0;
    ringing_ = false;
    offered_ = 0;
    phase_ = Phase::Idle;
    assembler_.clear();
}

void LineWatcher::startHangUp(HCALL call, LONG request) {
    hangCall_ = call;
    dropRequest_ = request;
    phase_ = Phase::HangingUp;
    assembler_.clear();
    TimePoint now = Clock::now();
    if (hasLines_ && modemControl().setDtr(fd_, false)) {
        hangStep_ = HangStep::DtrLow;
        hangAt_ = now + milliseconds(kDtrLowMs);
        return;
    }
    setNonBlocking(fd_); // the comm handle shares this descriptor's flags
    hangAttempts_ = 1;
    hangStep_ = HangStep::GuardBefore;
    hangAt_ = now + milliseconds(settings_.guardMs);
}

void LineWatcher::hangUpStep(TimePoint now) {
    switch (hangStep_) {
    case HangStep::DtrLow:
        (void)modemControl().setDtr(fd_, true);
        tcflush(fd_, TCIFLUSH);
        finishHangUp();
        break;
    case HangStep::GuardBefore:
        if (fd_ >= 0 && !writeAll(fd_, "+++", kWriteMs)) {
            deviceLost("write failed");
            return;
        }
        hangStep_ = HangStep::GuardAfter;
        hangAt_ = now + milliseconds(settings_.guardMs + kEscapeReplyMs);
        break;
    case HangStep::GuardAfter:
        if (!send("ATH")) return;
        hangStep_ = HangStep::AfterAth;
        hangAt_ = now + milliseconds(kAthReplyMs);
        break;
    case HangStep::AfterAth:
        if (hangAttempts_ < kEscapeAttempts) { // no answer: the escape did not take
            ++hangAttempts_;
            hangStep_ = HangStep::GuardBefore;
            hangAt_ = now + milliseconds(settings_.guardMs);
            break;
        }
        report(device_.name + ": the modem did not confirm the hang-up");
        finishHangUp();
        break;
    }
}

void LineWatcher::finishHangUp() {
    std::lock_guard<std::recursive_mutex> lock(gLock);
    if (dropRequest_) postReply(line_, dropRequest_, 0);
    if (Call* c = findCall(hangCall_); c && c->state != LINECALLSTATE_IDLE)
        postCallState(*c, LINECALLSTATE_IDLE, 0);
    dropRequest_ = 0;
    hangCall_ = 0;
    connectedCall_ = 0;
    phase_ = Phase::Idle;
    assembler_.clear();
}

void LineWatcher::deviceLost(const char* why) {
    {
        std::lock_guard<std::recursive_mutex> lock(gLock);
        HCALL live = 0;
        switch (phase_) {
        case Phase::Answering:
            postReply(line_, answerRequest_, LINEERR_OPERATIONFAILED);
            live = answerCall_;
            break;
        case Phase::Connected:
            live = connectedCall_;
            break;
        case Phase::HangingUp:
            if (dropRequest_) postReply(line_, dropRequest_, 0);
            live = hangCall_;
            break;
        default:
            live = offered_;
            break;
        }
        if (Call* c = findCall(live); c && c->state != LINECALLSTATE_IDLE) {
            if (c->state != LINECALLSTATE_DISCONNECTED)
                postCallState(*c, LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_NORMAL);
            postCallState(*c, LINECALLSTATE_IDLE, 0);
        }
        setFd(-1);
    }
    answerCall_ = connectedCall_ = hangCall_ = offered_ = 0;
    dropRequest_ = 0;
    ringing_ = false;
    callerIdQuietAt_.reset();
    quietLineAt_.reset();
    assembler_.clear();
    initialised_ = false;
    phase_ = Phase::Closed;
    if (!reportedAway_) report(device_.name + ": " + why + "; reopening " + device_.path);
    reportedAway_ = true;
    reopenAt_ = Clock::now() + milliseconds(backoffMs_);
    backoffMs_ = std::min(backoffMs_ * 2, kMaxBackoffMs);
}

void LineWatcher::setFd(int fd) {
    std::lock_guard<std::recursive_mutex> lock(gLock);
    if (fd_ >= 0) close(fd_);
    fd_ = fd;
    if (Line* line = findLine(line_)) line->fd = fd;
}

void LineWatcher::reopen() {
    int fd = -1;
    std::string why;
    if (openTty(device_.path, settings_.speed, fd, why) != OpenResult::Opened) {
        reopenAt_ = Clock::now() + milliseconds(backoffMs_);
        backoffMs_ = std::min(backoffMs_ * 2, kMaxBackoffMs);
        return;
    }
    setFd(fd);
    hasLines_ = modemControl().hasLines(fd_);
    if (hasLines_ && !modemControl().setDtr(fd_, true)) hasLines_ = false;
    report(device_.name + ": " + device_.path + " is back");
    reportedAway_ = false;
    startInit();
}

bool LineWatcher::waitForResult(int timeoutMs) {
    TimePoint deadline = Clock::now() + milliseconds(timeoutMs);
    char c;
    while (fd_ >= 0) {
        auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return false;
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left)) <= 0) continue;
        if (read(fd_, &c, 1) != 1) return false;
        if (auto line = assembler_.feed(c)) {
            ResultKind k = classifyLine(*line).kind;
            if (k == ResultKind::Ok || k == ResultKind::NoCarrier || k == ResultKind::Error)
                return true;
        }
    }
    return false;
}

void LineWatcher::finalHangUp() {
    if (fd_ < 0) return;
    bool inCall = phase_ == Phase::Connected ||
                  (phase_ == Phase::HangingUp && hangStep_ != HangStep::AfterAth);
    if (phase_ == Phase::Answering) {
        (void)writeAll(fd_, "\r", kWriteMs);
    } else if (inCall && hasLines_) {
        (void)modemControl().setDtr(fd_, false); // HUPCL keeps it low on close
    } else if (inCall) {
        setNonBlocking(fd_);
        assembler_.clear();
        std::this_thread::sleep_for(milliseconds(settings_.guardMs));
        if (writeAll(fd_, "+++", kWriteMs)) {
            (void)waitForResult(settings_.guardMs + kEscapeReplyMs);
            if (writeAll(fd_, "ATH\r", kWriteMs)) (void)waitForResult(kAthReplyMs);
        }
    }
    setFd(-1);
}

} // namespace ovtapi
