// Driving the UI runtime in tests as the sysop does: calls run on the UI thread, windows waited
// for, modal windows answered from a second thread while their loop runs (as the runtime's
// README says), and the message boxes shown. The runtime has one UI thread per process.
#pragma once

#include "ovui.h"
#include "ovui_driver.h"

#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace ovtest {

constexpr int UiBoundMs = 15000;

// Queues `step` to run on the UI thread after everything queued before it (input included).
void postToUiThread(std::function<void()> step);
// The same, waiting until it has run; from a thread other than the UI thread while that runs
// its loop.
void onUiThread(const std::function<void()>& fn);
// The newest window made from a template, waiting for it; nullptr when none came.
HWND waitForWindow(int templateId);
bool waitForWindowGone(int templateId);

// Runs `open` on this thread, the UI thread: a click whose handler shows a modal window, a
// plug-in's BBSConfigure, or nothing when a posted call shows it. A second thread waits until
// the next window made from each template is the innermost modal one and hands it to its
// answer, which must end it; this thread runs the loop meanwhile. False when one never came.
struct ModalAnswer {
    int templateId;
    std::function<void(HWND)> answer;
};
bool answerModals(const std::function<void()>& open, const std::vector<ModalAnswer>& answers);
inline bool answerModal(const std::function<void()>& open, int templateId,
                        const std::function<void(HWND)>& answer) {
    return answerModals(open, {{templateId, answer}});
}

// From a thread other than the UI thread while that runs its loop: waits until a message box is
// the innermost modal window, answers it with `answer` (IDYES, IDNO...) and returns its text;
// "" when none came.
std::string answerMessageBox(int answer);

// The message boxes shown while it lives (it is the runtime's observer meanwhile).
class MessageBoxLog {
public:
    struct Box {
        HWND box = nullptr;
        std::string caption;
        std::string text;
    };
    MessageBoxLog();
    ~MessageBoxLog();
    MessageBoxLog(const MessageBoxLog&) = delete;
    MessageBoxLog& operator=(const MessageBoxLog&) = delete;
    std::vector<Box> all();
    // The next box not taken yet, waiting for it; box is nullptr when none came.
    Box next();

private:
    std::mutex lock_;
    std::vector<Box> boxes_;
    size_t taken_ = 0;
};

} // namespace ovtest
