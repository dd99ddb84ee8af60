#include "fake_runtime.h"

#include <chrono>

ConsoleDriver FakeRuntime::driver() {
    ConsoleDriver d;
    d.stateVersion = [this] { return version(); };
    d.waitForChange = [this](uint64_t since, int timeoutMs) {
        std::unique_lock<std::mutex> hold(lock_);
        changed_.wait_for(hold, std::chrono::milliseconds(timeoutMs),
                          [&] { return version_ != since; });
        return version_;
    };
    d.snapshotJson = [this] {
        std::lock_guard<std::mutex> hold(lock_);
        return snapshot_;
    };
    d.input = [this](const ConsoleInput& ev) {
        std::lock_guard<std::mutex> hold(lock_);
        inputs_.push_back(ev);
        return !refuseInput;
    };
    d.setAnnouncer = [this](std::function<void(const std::string&)> print) {
        std::lock_guard<std::mutex> hold(lock_);
        announcer_ = std::move(print);
    };
    return d;
}

void FakeRuntime::setSnapshot(const std::string& json) {
    {
        std::lock_guard<std::mutex> hold(lock_);
        snapshot_ = json;
        ++version_;
    }
    changed_.notify_all();
}

void FakeRuntime::announce(const std::string& line) {
    std::function<void(const std::string&)> print;
    {
        std::lock_guard<std::mutex> hold(lock_);
        print = announcer_;
    }
    if (print) print(line);
}

std::vector<ConsoleInput> FakeRuntime::inputs() {
    std::lock_guard<std::mutex> hold(lock_);
    return inputs_;
}

uint64_t FakeRuntime::version() {
    std::lock_guard<std::mutex> hold(lock_);
    return version_;
}
