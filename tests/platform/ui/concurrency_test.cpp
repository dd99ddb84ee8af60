// Cross-thread posting: order per thread, messages and calls interleaved, nothing lost while
// a modal loop runs, control operations racing snapshots.
#include "demo_dialogs.h"

#include <atomic>
#include <map>
#include <mutex>
#include <thread>

using namespace demo;
using Concurrency = demo::UiTest;

namespace {

std::mutex gSeenMutex;
std::map<int, std::vector<int>> gSeen; // thread -> sequence numbers in arrival order

void seen(int thread, int seq) {
    std::lock_guard lk(gSeenMutex);
    gSeen[thread].push_back(seq);
}

struct Call {
    int thread;
    int seq;
};

INT_PTR counterProc(HWND, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_APP) seen(int(wParam), int(lParam));
    return msg == WM_APP || msg == WM_INITDIALOG;
}

const OvDialogTemplate kCounter = {700, "Counter", 50, 50, 0, nullptr, 0, nullptr, 0};

void postFromThreads(HWND target, int threads, int perThread) {
    std::vector<std::thread> posters;
    for (int t = 0; t < threads; ++t)
        posters.emplace_back([=] {
            for (int i = 0; i < perThread; ++i) {
                if (i % 3 == 0)
                    ovPostCall(
                        [](void* p) {
                            auto* c = static_cast<Call*>(p);
                            seen(c->thread, c->seq);
                            delete c;
                        },
                        new Call{t, i});
                else
                    ovPostMessage(target, WM_APP, WPARAM(t), LPARAM(i));
            }
        });
    for (auto& p : posters)
        p.join();
}

bool allSeen(int threads, int perThread) {
    std::lock_guard lk(gSeenMutex);
    for (int t = 0; t < threads; ++t)
        if (int(gSeen[t].size()) != perThread) return false;
    return true;
}

void expectInOrder(int threads, int perThread) {
    std::lock_guard lk(gSeenMutex);
    for (int t = 0; t < threads; ++t) {
        ASSERT_EQ(int(gSeen[t].size()), perThread);
        for (int i = 0; i < perThread; ++i)
            ASSERT_EQ(gSeen[t][size_t(i)], i) << "thread " << t;
    }
}

} // namespace

TEST_F(Concurrency, PostsFromManyThreadsKeepTheirOrder) {
    gSeen.clear();
    HWND dlg = ovCreateDialog(&kCounter, nullptr, counterProc, 0);
    ASSERT_NE(dlg, nullptr);
    std::thread driver([&] { postFromThreads(dlg, 4, 500); });
    ASSERT_TRUE(ovuiPumpUntil([] { return allSeen(4, 500); }, 60000));
    driver.join();
    expectInOrder(4, 500);
}

TEST_F(Concurrency, PostsDuringAModalLoopAreNotLost) {
    gSeen.clear();
    HWND main = ovCreateDialog(&kCounter, nullptr, counterProc, 0);
    std::atomic<bool> posted{false};
    std::thread other([&] {
        ASSERT_TRUE(ovuiWaitFor([] { return ovuiTopModal() != nullptr; }, 10000));
        postFromThreads(main, 3, 200);
        posted = true;
        // The modal loop serves the main window's messages while it runs.
        EXPECT_TRUE(ovuiWaitFor([] { return allSeen(3, 200); }, 60000));
        ovuiKey(ovuiTopModal(), "escape");
    });
    INT_PTR r = ovDialogBox(&kNested[0], main, nestedProc, 1);
    other.join();
    EXPECT_EQ(r, IDCANCEL);
    EXPECT_TRUE(posted);
    expectInOrder(3, 200);
}

TEST_F(Concurrency, ControlOperationsFromThreadsRaceSnapshotsSafely) {
    HWND dlg = ovCreateDialog(&kDemo, nullptr, demoProc, 0);
    HTREEITEM root = ovTreeInsertItem(dlg, kTree, 0, "Main", 0);
    std::vector<std::thread> workers;
    for (int t = 0; t < 3; ++t)
        workers.emplace_back([=] {
            for (int i = 0; i < 100; ++i) {
                std::string name = "user" + std::to_string(t) + "_" + std::to_string(i);
                int index = ovListAddString(dlg, kSortedList, name.c_str());
                ovListSetItemData(dlg, kSortedList, index, i);
                HTREEITEM item = ovTreeInsertItem(dlg, kTree, root, name.c_str(), i);
                ovTreeSelectItem(dlg, kTree, item);
                ovSetDlgItemText(dlg, kName, name.c_str());
            }
        });
    std::thread reader([] {
        for (int i = 0; i < 50; ++i)
            EXPECT_FALSE(ovuiSnapshotJson().empty());
    });
    for (auto& w : workers)
        w.join();
    reader.join();
    ASSERT_TRUE(ovuiPumpUntil([] { return eventsOf(WM_NOTIFY).size() >= 300; }, 60000));
    EXPECT_EQ(ovListGetCount(dlg, kSortedList), 300);
    EXPECT_EQ(ovTreeGetCount(dlg, kTree), 301);
    char first[32];
    ovListGetText(dlg, kSortedList, 0, first, sizeof first);
    EXPECT_STREQ(first, "user0_0");
}

TEST_F(Concurrency, WaitForChangeWakesOnAChangeFromAnotherThread) {
    HWND dlg = ovCreateDialog(&kDemo, nullptr, demoProc, 0);
    uint64_t before = ovuiStateVersion();
    EXPECT_FALSE(ovuiWaitForChange(before, 0));
    std::atomic<bool> woke{false};
    std::thread waiter([&] { woke = ovuiWaitForChange(before, 10000); });
    std::thread changer([&] { ovSetDlgItemText(dlg, kName, "changed"); });
    changer.join();
    waiter.join();
    EXPECT_TRUE(woke);
    EXPECT_GT(ovuiStateVersion(), before);
}
