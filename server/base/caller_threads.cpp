#include "server/base/caller_threads.h"

#include <pthread.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <new>

namespace {

struct Running {
    std::mutex lock;
    std::condition_variable ended;
    uint32_t count = 0;
};
// Never destroyed: a thread that outlives the wait at exit still counts itself out.
Running& running = *new Running;

void* runBody(void* arg) {
    std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(arg));
    (*body)();
    body.reset();
    std::lock_guard hold(running.lock);
    if (--running.count == 0) running.ended.notify_all();
    return nullptr;
}

} // namespace

bool startCallerThread(std::function<void()> body) {
    auto* held = new (std::nothrow) std::function<void()>(std::move(body));
    if (!held) return false;
    pthread_attr_t attr;
    if (pthread_attr_init(&attr) != 0) {
        delete held;
        return false;
    }
    std::unique_lock hold(running.lock);
    pthread_t thread;
    bool ok = pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED) == 0 &&
              pthread_attr_setstacksize(&attr, CallerThreadStackBytes) == 0 &&
              pthread_create(&thread, &attr, runBody, held) == 0;
    if (ok) ++running.count;
    hold.unlock();
    pthread_attr_destroy(&attr);
    if (!ok) delete held;
    return ok;
}

uint32_t runningCallerThreads() {
    std::lock_guard hold(running.lock);
    return running.count;
}

bool waitForCallerThreads(std::chrono::milliseconds bound) {
    std::unique_lock hold(running.lock);
    return running.ended.wait_for(hold, bound, [] { return running.count == 0; });
}
