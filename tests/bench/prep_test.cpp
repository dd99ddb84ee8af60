// A load run prepared for N callers seats all N, so that it measures callers and not refusals.
#include "server/preferences/preferences.h"
#include "support/test_support.h"

#include <cstdlib>
#include <string>

TEST(BenchPrep, MaxUsersFollowsTheCallers) {
    ovtest::TempWorkDir dir;
    for (unsigned callers : {3000u, 20u}) {
        std::string cmd = ovtest::binDir() + "/ovprep_checked " + dir.path() +
                          " --port 2399 --callers " + std::to_string(callers) + " >/dev/null";
        ASSERT_EQ(0, std::system(cmd.c_str()));
        ASSERT_TRUE(loadPreferences());
        EXPECT_EQ(callers, getMaxUsers());
        EXPECT_EQ(2399, getTelnetPort());
    }
}
