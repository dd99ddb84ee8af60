#include "server/control/headless_host.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <thread>

#include "server/connections/telnet_listener.h"
#include "server/preferences/preferences.h"
#include "server/sessions/session_list.h"
#include "server/sessions/session_threads.h"
#include "server/sysop/app_state.h"
#include "server/sysop/tray.h"

namespace {

constexpr int HeadlessWindowTemplateId = 190;
constexpr const char* HeadlessWindowTitle = "Ossivane BBS (headless)";
constexpr auto UiAnswerBound = std::chrono::seconds(10);

std::recursive_mutex hostLock;
HWND hostWindow = nullptr;

// The runtime has one UI thread per process; this one serves the host until exit.
class UiThread {
public:
    bool ensureRunning() {
        std::unique_lock lock(mutex_);
        if (!thread_.joinable()) {
            thread_ = std::thread([this] {
                bool ok = ovInitialize();
                {
                    std::lock_guard inner(mutex_);
                    ready_ = true;
                    ok_ = ok;
                }
                changed_.notify_all();
                if (ok) ovRunMessageLoop();
            });
        }
        changed_.wait(lock, [this] { return ready_; });
        // Another thread already drives the UI loop: windows still work through it.
        return ok_ || !ovIsUiThread();
    }
    ~UiThread() {
        if (!thread_.joinable()) return;
        if (ok_) ovPostQuitMessage(0);
        if (ok_)
            thread_.join();
        else
            thread_.detach();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::thread thread_;
    bool ready_ = false;
    bool ok_ = false;
};

UiThread& uiThread() {
    static UiThread thread;
    return thread;
}

void showNoLoad() {
    char tip[TrayTipSize];
    formatUserCountTip(tip, 0, getMaxUsers());
    setTrayTip(tip);
}

INT_PTR hostProc(HWND window, UINT msg, WPARAM, LPARAM) {
    if (msg == WM_INITDIALOG) {
        publishMainWindow(window);
        registerAppMessages();
        if (getUseTcp()) (void)startListening(window, wmSocket.load());
        addTrayIcon();
        showNoLoad();
        return TRUE;
    }
    if (msg == WM_CLOSE) {
        disconnectAll();
        removeTrayIcon();
        stopListening();
        publishMainWindow(nullptr);
        ovDestroyWindow(window);
        return TRUE;
    }
    if (msg != 0 && msg == wmSocket.load()) {
        int socketFd = -1;
        if (acceptCaller(&socketFd)) startTelnetSession(socketFd);
        return TRUE;
    }
    if (msg != 0 && msg == wmTaskbarCreated.load()) {
        restoreTrayIcon();
        return TRUE;
    }
    return FALSE;
}

// The window is made on the UI thread, so its WM_INITDIALOG has run when the caller goes on.
struct Creation {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    HWND window = nullptr;
};

void createOnUiThread(void* arg) {
    auto* creation = static_cast<Creation*>(arg);
    OvDialogTemplate tpl{};
    tpl.id = HeadlessWindowTemplateId;
    tpl.title = HeadlessWindowTitle;
    tpl.cx = 100;
    tpl.cy = 20;
    tpl.style = OV_DS_CAPTION | OV_DS_HIDDEN;
    HWND window = ovCreateDialog(&tpl, nullptr, hostProc, 0);
    std::lock_guard lock(creation->mutex);
    creation->window = window;
    creation->finished = true;
    creation->done.notify_all();
}

} // namespace

bool startHeadlessHost() {
    std::lock_guard lock(hostLock);
    if (hostWindow && ovIsWindow(hostWindow)) return isListening();
    if (!uiThread().ensureRunning()) return false;
    setLoadObserver(showUserLoad);
    auto creation = std::make_shared<Creation>();
    // The posted call keeps its own reference, in case nobody pumps the loop in time.
    auto* keep = new std::shared_ptr<Creation>(creation);
    if (!ovPostCall(
            [](void* p) {
                auto* held = static_cast<std::shared_ptr<Creation>*>(p);
                createOnUiThread(held->get());
                delete held;
            },
            keep)) {
        delete keep;
        return false;
    }
    std::unique_lock wait(creation->mutex);
    if (!creation->done.wait_for(wait, UiAnswerBound, [&] { return creation->finished; }))
        return false;
    hostWindow = creation->window;
    return hostWindow && isListening();
}

void stopHeadlessHost() {
    std::lock_guard lock(hostLock);
    if (!hostWindow) return;
    if (ovIsWindow(hostWindow)) (void)ovSendMessage(hostWindow, WM_CLOSE, 0, 0);
    hostWindow = nullptr;
}
