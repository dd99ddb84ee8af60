// A stand-in for the UI runtime behind the console's driver table: a versioned snapshot that
// tests change by hand, and a record of the input the console passed on.
#pragma once

#include "platform/console/console_driver.h"

#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

class FakeRuntime {
public:
    ConsoleDriver driver();
    void setSnapshot(const std::string& json); // a new version
    void announce(const std::string& line);    // as the runtime reports a message box
    std::vector<ConsoleInput> inputs();
    uint64_t version();
    bool refuseInput = false;

private:
    std::mutex lock_;
    std::condition_variable changed_;
    uint64_t version_ = 1;
    std::string snapshot_ = "{\"windows\":[]}";
    std::vector<ConsoleInput> inputs_;
    std::function<void(const std::string&)> announcer_;
};
