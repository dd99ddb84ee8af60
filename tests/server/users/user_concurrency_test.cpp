#include "server/sessions/navigation.h"
#include "server/users/user_db.h"
#include "server/users/user_list.h"
#include "support/test_support.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

std::atomic<int> announced{0};
void countAdd(const char*, uint32_t) {
    ++announced;
}
void ignoreRemove(const char*) {}

} // namespace

class UserDbConcurrency : public ovtest::WorkDirTest {};

TEST_F(UserDbConcurrency, ParallelCreatorsGetDistinctIdsAndOneWinsASharedName) {
    constexpr int Threads = 4;
    constexpr int PerThread = 20;
    ListSink sink{countAdd, ignoreRemove};
    setUserListSink(&sink);
    std::atomic<int> sharedWins{0};
    std::vector<std::vector<uint32_t>> ids(Threads);
    std::atomic<int> failures{0};
    std::vector<std::thread> workers;
    for (int t = 0; t < Threads; ++t) {
        workers.emplace_back([&, t] {
            UserRecord shared;
            if (addUserReserved(shared, "Shared")) ++sharedWins;
            for (int i = 0; i < PerThread; ++i) {
                std::string name = "t" + std::to_string(t) + "u" + std::to_string(i);
                UserRecord rec;
                if (!addUser(rec, name.c_str())) {
                    ++failures;
                    continue;
                }
                ids[t].push_back(rec.id);
                rec.loginCount = static_cast<uint32_t>(i);
                UserRecord found;
                if (!updateUser(rec) || !findUser(found, name.c_str()) ||
                    found.loginCount != static_cast<uint32_t>(i) || isUserReserved(name.c_str()))
                    ++failures;
            }
        });
    }
    for (auto& w : workers)
        w.join();
    setUserListSink(nullptr);

    EXPECT_EQ(0, failures.load());
    EXPECT_EQ(1, sharedWins.load());
    EXPECT_TRUE(isUserReserved("shared"));
    releaseUserReservation("shared");
    std::set<uint32_t> unique;
    for (const auto& list : ids)
        unique.insert(list.begin(), list.end());
    EXPECT_EQ(static_cast<size_t>(Threads * PerThread), unique.size());
    EXPECT_EQ(Threads * PerThread + 1, announced.load());
    EXPECT_EQ(UserFileHeaderSize + (Threads * PerThread + 1) * UserRecordSize,
              ovtest::fileSizeOf("bbsusers.dat"));
}

// Accounts come and go while others are read and written: every reader sees its own last write,
// and a deleted name is never found with another account's record.
TEST_F(UserDbConcurrency, LookupsStayExactWhileAccountsComeAndGo) {
    constexpr int Readers = 3;
    constexpr int Rounds = 60;
    std::atomic<int> failures{0};
    for (int t = 0; t < Readers; ++t) {
        UserRecord rec;
        ASSERT_TRUE(addUser(rec, ("reader" + std::to_string(t)).c_str()));
    }
    std::vector<std::thread> workers;
    workers.emplace_back([&] {
        for (int i = 0; i < Rounds; ++i) {
            std::string name = "churn" + std::to_string(i % 5);
            UserRecord rec, found;
            if (addUser(rec, name.c_str())) {
                if (!findUser(found, name.c_str()) || found.id != rec.id) ++failures;
                if (!deleteUser(name.c_str())) ++failures;
            }
            if (findUser(found, name.c_str())) ++failures;
        }
    });
    for (int t = 0; t < Readers; ++t) {
        workers.emplace_back([&, t] {
            std::string name = "reader" + std::to_string(t);
            UserRecord rec;
            for (int i = 0; i < Rounds; ++i) {
                if (!findUser(rec, name.c_str()) || rec.loginCount != static_cast<uint32_t>(i)) {
                    ++failures;
                    return;
                }
                ++rec.loginCount;
                if (!updateUser(rec)) ++failures;
            }
        });
    }
    for (auto& w : workers)
        w.join();
    EXPECT_EQ(0, failures.load());
}

// Logins of one account on several sessions, a plug-in counting uploads and the sysop changing
// the password, all at once: each change is made to the account as it is, so none is lost.
TEST_F(UserDbConcurrency, ChangesToOneAccountFromManyThreadsAreAllKept) {
    constexpr int Rounds = 40;
    UserRecord rec;
    ASSERT_TRUE(addUser(rec, "shared"));
    std::atomic<int> failures{0};
    std::vector<std::thread> workers;
    for (int t = 0; t < 2; ++t) {
        workers.emplace_back([&] {
            for (int i = 0; i < Rounds; ++i) {
                UserRecord seen;
                if (!recordLogin("shared", seen)) ++failures;
            }
        });
        workers.emplace_back([&] {
            for (int i = 0; i < Rounds; ++i) {
                UserRecord seen;
                if (!changeUser(
                        "shared", [](UserRecord& u) { ++u.uploadKb; }, seen))
                    ++failures;
            }
        });
    }
    workers.emplace_back([&] {
        for (int i = 0; i < Rounds; ++i) {
            UserRecord seen;
            std::string password = "pw" + std::to_string(i);
            if (!changeUser(
                    "shared",
                    [&](UserRecord& u) {
                        std::snprintf(u.password, sizeof u.password, "%s", password.c_str());
                        std::strcpy(u.loginName, "thief"); // never moves the account
                    },
                    seen))
                ++failures;
        }
    });
    for (auto& w : workers)
        w.join();
    EXPECT_EQ(0, failures.load());
    ASSERT_TRUE(findUser(rec, "shared"));
    EXPECT_EQ(2u * Rounds, rec.loginCount);
    EXPECT_EQ(2u * Rounds, rec.secondLoginCount);
    EXPECT_EQ(2u * Rounds, rec.uploadKb);
    EXPECT_EQ("pw" + std::to_string(Rounds - 1), rec.password);
    EXPECT_FALSE(findUser(rec, "thief"));
}
