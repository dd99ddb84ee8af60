// The UI thread's loop: one FIFO of posted messages, calls and input, an eventfd that wakes
// the loop, timers and descriptor watches served through poll.
#include "ui_state.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <thread>
#include <unistd.h>

namespace ovui {

std::recursive_mutex gLock;

namespace {

using Clock = std::chrono::steady_clock;

thread_local int tLockDepth = 0;
std::atomic<bool> gHaveUi{false};
std::atomic<std::thread::id> gUiThread{};
std::once_flag gQueueOnce;
int gWakeFd = -1;
int gSignalPipe[2] = {-1, -1}; // messages posted from signal handlers

struct SignalRecord {
    HWND wnd;
    UINT msg;
    WPARAM wParam;
    LPARAM lParam;
};

struct Timer {
    Handle wnd = 0;
    UINT_PTR id = 0;
    UINT ms = 0;
    Clock::time_point due;
    bool pending = false;
    uint64_t generation = 0;
};

struct Watch {
    int fd = -1;
    Handle wnd = 0;
    UINT msg = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    bool pending = false;
    uint64_t generation = 0;
};

// Guarded by gLock.
std::deque<std::function<void()>> gQueue;
std::vector<Timer> gTimers;
std::vector<Watch> gWatches;
uint64_t gNextGeneration = 1;
bool gQuit = false;
int gQuitCode = 0;

Timer* findTimer(Handle wnd, UINT_PTR id) {
    for (auto& t : gTimers)
        if (t.wnd == wnd && t.id == id) return &t;
    return nullptr;
}

Watch* findWatch(int fd) {
    for (auto& w : gWatches)
        if (w.fd == fd) return &w;
    return nullptr;
}

void dispatchPosted(Handle wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    {
        Guard g;
        if (!findWindow(toHwnd(wnd)) && !findControl(toHwnd(wnd))) return;
    }
    sendNow(toHwnd(wnd), msg, wParam, lParam);
}

void enqueueLocked(std::function<void()> task) {
    gQueue.push_back(std::move(task));
    wakeLoop();
}

void fireDueTimers(Clock::time_point now) {
    for (auto& t : gTimers) {
        if (t.pending || t.due > now) continue;
        t.pending = true;
        t.due = now + std::chrono::milliseconds(t.ms);
        Handle wnd = t.wnd;
        UINT_PTR id = t.id;
        uint64_t generation = t.generation;
        gQueue.push_back([wnd, id, generation] {
            {
                Guard g;
                Timer* timer = findTimer(wnd, id);
                if (!timer || timer->generation != generation) return;
                timer->pending = false;
            }
            dispatchPosted(wnd, WM_TIMER, id, 0);
        });
    }
}

int pollTimeout(Clock::time_point now, Clock::time_point deadline, bool bounded, int slice) {
    Clock::time_point until = bounded ? deadline : now + std::chrono::hours(1);
    for (auto& t : gTimers)
        if (!t.pending && t.due < until) until = t.due;
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(until - now).count();
    if (ms < 0) ms = 0;
    if (slice >= 0 && ms > slice) ms = slice;
    return int(ms);
}

} // namespace

Guard::Guard() {
    gLock.lock();
    ++tLockDepth;
}

Guard::~Guard() {
    --tLockDepth;
    gLock.unlock();
    if (tLockDepth == 0) observeIfChanged();
}

bool lockHeldHere() {
    return tLockDepth > 0;
}

bool uiThreadExists() {
    return gHaveUi.load(std::memory_order_acquire);
}

bool onUiThread() {
    return gHaveUi.load(std::memory_order_acquire) &&
           gUiThread.load(std::memory_order_acquire) == std::this_thread::get_id();
}

void ensureQueue() {
    std::call_once(gQueueOnce, [] {
        gWakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (pipe2(gSignalPipe, O_CLOEXEC | O_NONBLOCK) != 0) gSignalPipe[0] = gSignalPipe[1] = -1;
    });
}

void wakeLoop() {
    ensureQueue();
    uint64_t one = 1;
    if (gWakeFd >= 0) [[maybe_unused]]
        ssize_t n = write(gWakeFd, &one, sizeof one);
}

bool postTask(std::function<void()> task) {
    ensureQueue();
    Guard g;
    enqueueLocked(std::move(task));
    return true;
}

void dropWindowHooks(Handle wnd) {
    std::erase_if(gTimers, [wnd](const Timer& t) { return t.wnd == wnd; });
    std::erase_if(gWatches, [wnd](const Watch& w) { return w.wnd == wnd; });
}

// Runs the loop until done() holds (done may be empty: until nothing is queued). A negative
// timeout waits for ever. Without a condition the loop only drains what is ready.
bool pumpUntil(const std::function<bool()>& done, int timeoutMs, int sliceMs) {
    ensureQueue();
    const bool bounded = timeoutMs >= 0;
    const Clock::time_point deadline =
        bounded ? Clock::now() + std::chrono::milliseconds(timeoutMs) : Clock::time_point{};
    for (;;) {
        if (done && done()) return true;
        std::vector<pollfd> fds;
        std::vector<uint64_t> generations;
        int timeout = 0;
        {
            Guard g;
            Clock::time_point now = Clock::now();
            fireDueTimers(now);
            if (gQueue.empty() && done) timeout = pollTimeout(now, deadline, bounded, sliceMs);
            fds.push_back({gWakeFd, POLLIN, 0});
            fds.push_back({gSignalPipe[0], POLLIN, 0});
            for (auto& w : gWatches) {
                if (w.pending) continue;
                fds.push_back({w.fd, POLLIN, 0});
                generations.push_back(w.generation);
            }
        }
        int n = poll(fds.data(), fds.size(), timeout);
        std::function<void()> task;
        {
            Guard g;
            if (n > 0) {
                uint64_t counter = 0;
                if (fds[0].revents & POLLIN) [[maybe_unused]]
                    ssize_t r = read(gWakeFd, &counter, sizeof counter);
                if (fds[1].revents & POLLIN) {
                    SignalRecord rec;
                    while (read(gSignalPipe[0], &rec, sizeof rec) == ssize_t(sizeof rec)) {
                        Handle h = fromHwnd(rec.wnd);
                        gQueue.push_back(
                            [=] { dispatchPosted(h, rec.msg, rec.wParam, rec.lParam); });
                    }
                }
                for (size_t i = 2; i < fds.size(); ++i) {
                    if (!fds[i].revents) continue;
                    Watch* w = findWatch(fds[i].fd);
                    if (!w || w->generation != generations[i - 2] || w->pending) continue;
                    if (fds[i].revents & POLLNVAL) {
                        // The owner closed the descriptor without unwatching it.
                        std::erase_if(gWatches, [&](const Watch& x) { return x.fd == fds[i].fd; });
                        continue;
                    }
                    w->pending = true;
                    Handle wnd = w->wnd;
                    UINT msg = w->msg;
                    WPARAM wp = w->wParam;
                    LPARAM lp = w->lParam;
                    int fd = w->fd;
                    uint64_t generation = w->generation;
                    gQueue.push_back([=] {
                        dispatchPosted(wnd, msg, wp, lp);
                        Guard g2;
                        Watch* again = findWatch(fd);
                        if (again && again->generation == generation) again->pending = false;
                    });
                }
            }
            if (!gQueue.empty()) {
                task = std::move(gQueue.front());
                gQueue.pop_front();
            }
        }
        if (task) {
            task();
            continue;
        }
        if (!done) return true;
        if (bounded && Clock::now() >= deadline) return done();
    }
}

} // namespace ovui

using namespace ovui;

extern "C" {

OVUI_API BOOL ovInitialize(void) {
    ensureQueue();
    Guard g;
    if (gHaveUi.load()) return onUiThread() ? TRUE : FALSE;
    gUiThread.store(std::this_thread::get_id(), std::memory_order_release);
    gHaveUi.store(true, std::memory_order_release);
    return TRUE;
}

OVUI_API BOOL ovIsUiThread(void) {
    return onUiThread() ? TRUE : FALSE;
}

OVUI_API int ovRunMessageLoop(void) {
    if (!onUiThread() && !ovInitialize()) return -1;
    {
        Guard g;
        gQuit = false;
    }
    pumpUntil(
        [] {
            Guard g;
            return gQuit;
        },
        -1, -1);
    Guard g;
    gQuit = false;
    return gQuitCode;
}

OVUI_API void ovPostQuitMessage(int exitCode) {
    postTask([exitCode] {
        Guard g;
        gQuit = true;
        gQuitCode = exitCode;
    });
}

OVUI_API BOOL ovPostMessage(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    ensureQueue();
    Guard g;
    if (!findWindow(wnd) && !findControl(wnd)) return FALSE;
    Handle h = fromHwnd(wnd);
    enqueueLocked([=] { dispatchPosted(h, msg, wParam, lParam); });
    return TRUE;
}

OVUI_API BOOL ovPostMessageFromSignal(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    // Only a write(2): safe inside a signal handler. Records are smaller than PIPE_BUF.
    if (gSignalPipe[1] < 0) return FALSE;
    SignalRecord rec{wnd, msg, wParam, lParam};
    return write(gSignalPipe[1], &rec, sizeof rec) == ssize_t(sizeof rec) ? TRUE : FALSE;
}

OVUI_API BOOL ovPostCall(void (*fn)(void*), void* arg) {
    if (!fn) return FALSE;
    return postTask([fn, arg] { fn(arg); }) ? TRUE : FALSE;
}

OVUI_API UINT_PTR ovSetTimer(HWND wnd, UINT_PTR id, UINT ms) {
    if (id == 0) return 0;
    Guard g;
    if (!findWindow(wnd)) return 0;
    Timer* t = findTimer(fromHwnd(wnd), id);
    if (!t) {
        gTimers.push_back({});
        t = &gTimers.back();
    }
    *t = Timer{fromHwnd(wnd),    id, ms, Clock::now() + std::chrono::milliseconds(ms), false,
               gNextGeneration++};
    wakeLoop();
    return id;
}

OVUI_API BOOL ovKillTimer(HWND wnd, UINT_PTR id) {
    Guard g;
    Handle h = fromHwnd(wnd);
    size_t removed =
        std::erase_if(gTimers, [h, id](const Timer& t) { return t.wnd == h && t.id == id; });
    return removed ? TRUE : FALSE;
}

OVUI_API BOOL ovWatchReadableEx(int fd, HWND target, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (fd < 0) return FALSE;
    Guard g;
    if (!findWindow(target)) return FALSE;
    std::erase_if(gWatches, [fd](const Watch& w) { return w.fd == fd; });
    gWatches.push_back({fd, fromHwnd(target), msg, wParam, lParam, false, gNextGeneration++});
    wakeLoop();
    return TRUE;
}

OVUI_API BOOL ovWatchReadable(int fd, HWND target, UINT msg, WPARAM wParam) {
    return ovWatchReadableEx(fd, target, msg, wParam, 0);
}

OVUI_API BOOL ovUnwatch(int fd) {
    Guard g;
    size_t removed = std::erase_if(gWatches, [fd](const Watch& w) { return w.fd == fd; });
    wakeLoop();
    return removed ? TRUE : FALSE;
}

} // extern "C"

namespace ovui {
void resetLoopForTests() {
    Guard g;
    gQueue.clear();
    gTimers.clear();
    gWatches.clear();
}
} // namespace ovui
