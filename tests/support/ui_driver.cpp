#include "support/ui_driver.h"

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <thread>

#include "support/test_support.h"

namespace ovtest {
namespace {

const auto Bound = std::chrono::milliseconds(UiBoundMs);
// The runtime's message boxes carry their text in this static.
constexpr int MessageBoxText = 100;

} // namespace

void postToUiThread(std::function<void()> step) {
    auto* held = new std::function<void()>(std::move(step));
    bool posted = ovPostCall(
        [](void* arg) {
            std::unique_ptr<std::function<void()>> run(static_cast<std::function<void()>*>(arg));
            (*run)();
        },
        held);
    EXPECT_TRUE(posted);
    if (!posted) delete held;
}

void onUiThread(const std::function<void()>& fn) {
    // Shared, so a call that runs after the bound has passed still finds its state.
    auto done = std::make_shared<std::promise<void>>();
    auto future = done->get_future();
    postToUiThread([fn, done] {
        fn();
        done->set_value();
    });
    ASSERT_EQ(future.wait_for(Bound), std::future_status::ready);
}

HWND waitForWindow(int templateId) {
    HWND found = nullptr;
    (void)waitUntil([&] { return (found = ovuiFindWindowByTemplate(templateId)) != nullptr; },
                    Bound);
    return found;
}

bool waitForWindowGone(int templateId) {
    return waitUntil([&] { return ovuiFindWindowByTemplate(templateId) == nullptr; }, Bound);
}

bool answerModals(const std::function<void()>& open, const std::vector<ModalAnswer>& answers) {
    std::atomic<size_t> answered{0};
    std::atomic<bool> missing{false};
    std::thread answerer([&] {
        HWND previous = nullptr;
        for (const ModalAnswer& a : answers) {
            HWND top = nullptr;
            if (!ovuiWaitFor(
                    [&] {
                        top = ovuiTopModal();
                        return top && top != previous &&
                               ovuiFindWindowByTemplate(a.templateId) == top;
                    },
                    UiBoundMs)) {
                missing = true;
                return;
            }
            a.answer(top);
            previous = top;
            ++answered;
        }
    });
    open();
    // A modal loop started by queued input runs inside this pump until it is answered.
    ovuiPumpUntil(
        [&] {
            return missing.load() || (answered.load() == answers.size() && ovuiModalDepth() == 0);
        },
        UiBoundMs);
    answerer.join();
    ovuiPumpUntilIdle();
    return !missing && answered == answers.size();
}

std::string answerMessageBox(int answer) {
    HWND box = nullptr;
    if (!ovuiWaitFor(
            [&] {
                box = ovuiTopModal();
                return box && ovuiFindWindowByTemplate(OVUI_TEMPLATE_MESSAGEBOX) == box;
            },
            UiBoundMs))
        return "";
    char text[1024] = {};
    ovGetDlgItemText(box, MessageBoxText, text, sizeof text);
    EXPECT_TRUE(ovuiMessageBoxAnswer(box, answer));
    return text;
}

MessageBoxLog::MessageBoxLog() {
    ovuiSetObserver([this](const OvuiEvent& e) {
        if (e.kind != OvuiEvent::Kind::MessageBox) return;
        std::lock_guard hold(lock_);
        boxes_.push_back({e.window, e.caption, e.text});
    });
}

MessageBoxLog::~MessageBoxLog() {
    ovuiSetObserver(nullptr);
}

std::vector<MessageBoxLog::Box> MessageBoxLog::all() {
    std::lock_guard hold(lock_);
    return boxes_;
}

MessageBoxLog::Box MessageBoxLog::next() {
    Box seen;
    (void)waitUntil(
        [&] {
            std::lock_guard hold(lock_);
            if (taken_ >= boxes_.size()) return false;
            seen = boxes_[taken_++];
            return true;
        },
        Bound);
    return seen;
}

} // namespace ovtest
