#include "server/areas/area_text.h"
#include "server/areas/area_tree.h"
#include "support/test_support.h"

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

class AreaTreeConcurrency : public ovtest::WorkDirTest {
protected:
    void TearDown() override { freeAreaTree(); }
};

TEST_F(AreaTreeConcurrency, ReadersSeeEachAreaWholeWhileTheEditorSaves) {
    ASSERT_TRUE(loadAreaTree());
    AreaRecord sub;
    ASSERT_TRUE(addSubArea(0, sub));
    sub.minAccess = sub.maxAccess = 0;
    std::strcpy(sub.title, "0");
    ASSERT_TRUE(putArea(1, sub));
    ovtest::writeFile("area/00000001.txt", "Description");
    constexpr int Edits = 60;
    std::atomic<bool> done{false};
    std::atomic<int> torn{0};
    std::atomic<long> reads{0};

    std::vector<std::thread> readers;
    for (int r = 0; r < 3; ++r) {
        readers.emplace_back([&] {
            while (!done) {
                AreaRecord rec;
                if (!getArea(1, rec)) {
                    ++torn;
                    continue;
                }
                // The editor always writes minAccess, maxAccess and the title together.
                if (rec.minAccess != rec.maxAccess || std::to_string(rec.minAccess) != rec.title)
                    ++torn;
                char* text = nullptr;
                if (loadAreaText(1, AreaTextKind::Txt, text)) delete[] text;
                ++reads;
            }
        });
    }
    std::thread editor([&] {
        for (int i = 1; i < Edits; ++i) {
            AreaRecord rec;
            if (!getArea(1, rec)) break;
            rec.minAccess = rec.maxAccess = static_cast<uint16_t>(i);
            std::snprintf(rec.title, sizeof rec.title, "%d", i);
            if (!putArea(1, rec)) ++torn;
            AreaRecord child;
            if (i % 10 == 0 && (!addSubArea(0, child) || !deleteArea(child.id))) ++torn;
        }
        done = true;
    });
    editor.join();
    for (auto& t : readers)
        t.join();
    EXPECT_EQ(0, torn.load());
    EXPECT_GT(reads.load(), 0);
    AreaRecord rec;
    ASSERT_TRUE(getArea(1, rec));
    EXPECT_EQ(std::to_string(Edits - 1), rec.title);
}
