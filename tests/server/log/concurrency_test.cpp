#include "server/log/event_log.h"
#include "server/preferences/preferences.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>
#include <vector>

namespace {
class EventLogConcurrency : public ovtest::WorkDirTest {};
} // namespace

TEST_F(EventLogConcurrency, EntriesFromManyThreadsNeverInterleave) {
    loadPreferences();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([] {
            for (int i = 0; i < 10; ++i)
                logTooManyUsers();
        });
    for (int i = 0; i < 5; ++i) {
        (void)setParanoidLogging(true); // a setter racing the readers of the switch
    }
    for (auto& t : threads)
        t.join();
    std::string all = ovtest::readFile(EventLogFileName);
    const std::string body = "]===\r\nTOO MANY USERS\r\n   Current limit:  5\r\n\r\n";
    size_t count = 0;
    for (size_t at = all.find(body); at != std::string::npos; at = all.find(body, at + 1))
        ++count;
    EXPECT_EQ(40u, count);
    EXPECT_EQ(1, std::count(all.begin(), all.end(), '\x1A'));
    EXPECT_EQ(40u * (33 + body.size() - 6) + 1, all.size());
}
