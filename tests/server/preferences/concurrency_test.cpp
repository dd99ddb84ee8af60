#include "server/preferences/preferences.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

namespace {
class PreferencesConcurrency : public ovtest::WorkDirTest {};
} // namespace

// Session threads read settings while the main window's thread changes them.
TEST_F(PreferencesConcurrency, ReadersNeverSeeATornValueWhileSettersRun) {
    loadPreferences();
    const std::string a(200, 'a'), b(120, 'b');
    std::atomic<bool> stop{false};
    std::atomic<int> bad{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < 3; ++t)
        readers.emplace_back([&] {
            char out[PrefTextSize];
            while (!stop) {
                getPrefText(PrefText::LoginPrompt, out);
                std::string s = out;
                if (s != "Login:" && s != a && s != b) ++bad;
                uint32_t m = getMaxUsers();
                if (m != 5 && m != 0x11111111u && m != 0x22222222u) ++bad;
                (void)getParanoidLogging();
                (void)getTelnetPort();
            }
        });
    for (int i = 0; i < 40; ++i) {
        (void)setPrefText(PrefText::LoginPrompt, i % 2 ? a.c_str() : b.c_str());
        (void)setMaxUsers(i % 2 ? 0x11111111u : 0x22222222u);
    }
    stop = true;
    for (auto& r : readers)
        r.join();
    EXPECT_EQ(0, bad.load());
    EXPECT_EQ(0x11111111u, getMaxUsers());
}
