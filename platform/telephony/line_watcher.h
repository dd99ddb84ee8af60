// One thread per open line: initialises the modem, turns its result codes into call states,
// carries out answer and drop requests, and reopens the device when it goes away.
#pragma once

#include "platform/telephony/modem_text.h"
#include "platform/telephony/ovtapi.h"

#include <atomic>
#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace ovtapi {

class LineWatcher {
public:
    LineWatcher(HLINE line, int fd, DeviceConfig device, Settings settings);
    ~LineWatcher();
    LineWatcher(const LineWatcher&) = delete;
    LineWatcher& operator=(const LineWatcher&) = delete;

    [[nodiscard]] bool start();
    // Wakes the thread so it looks at the line's command queue.
    void wake();
    // Hangs up a call in progress (bounded), closes the descriptor and ends the thread.
    // Not with the provider lock held.
    void stopAndJoin();

private:
    using Clock = std::chrono::steady_clock;
    using TimePoint = Clock::time_point;
    enum class Phase { Closed, Init, Idle, Answering, Connected, HangingUp };
    enum class HangStep { DtrLow, GuardBefore, GuardAfter, AfterAth };
    struct Step {
        std::string command;
        bool errorIsFine;
    };

    void run();
    int pollTimeout(TimePoint now) const;
    void readModem();
    void onLine(const std::string& text);
    void onTimers(TimePoint now);
    void handleCommands();
    void handleAnswer(HCALL call, LONG request);
    void handleDrop(HCALL call, LONG request);

    [[nodiscard]] bool send(const std::string& command);
    void startInit();
    void nextInitStep(bool previousFailed, const char* reason);
    void ring();
    void callerIdField(const ModemLine& line);
    void offer();
    void endRinging();
    void connected(uint32_t rate);
    void answerFailed();
    void startHangUp(HCALL call, LONG request);
    void hangUpStep(TimePoint now);
    void finishHangUp();
    void deviceLost(const char* why);
    void reopen();
    void setFd(int fd);
    void finalHangUp();
    // Reads lines until one of the given kind arrives or the deadline passes (shutdown only).
    bool waitForResult(int timeoutMs);

    const HLINE line_;
    int fd_;
    const DeviceConfig device_;
    const Settings settings_;
    bool hasLines_ = false;
    int wake_[2] = {-1, -1};
    std::atomic<bool> stop_{false};
    std::thread thread_;

    Phase phase_ = Phase::Init;
    LineAssembler assembler_;
    std::optional<TimePoint> quietLineAt_; // Answering: a line without LF ends here

    std::vector<Step> steps_;
    size_t step_ = 0;
    TimePoint stepDeadline_{};
    bool initialised_ = false;
    TimePoint initRetryAt_{};

    bool ringing_ = false;
    int rings_ = 0;
    CallerId callerId_;
    TimePoint lastRing_{};
    std::optional<TimePoint> callerIdQuietAt_;
    HCALL offered_ = 0;

    HCALL answerCall_ = 0;
    LONG answerRequest_ = 0;
    TimePoint answerDeadline_{};
    uint32_t carrierRate_ = 0;

    HCALL connectedCall_ = 0;
    TimePoint nextCarrierCheck_{};

    HangStep hangStep_ = HangStep::GuardBefore;
    TimePoint hangAt_{};
    HCALL hangCall_ = 0;
    LONG dropRequest_ = 0;
    int hangAttempts_ = 0;

    TimePoint reopenAt_{};
    int backoffMs_ = 250;
    bool reportedAway_ = false;
};

} // namespace ovtapi
