#include "server/base/offset_table.h"

#include <gtest/gtest.h>

#include <map>
#include <random>

// Random inserts, lookups and erases against std::map, in a table small enough that probe runs
// wrap around its end and erases have to pull entries back across them.
TEST(OffsetTable, AgreesWithAMapThroughGrowthCollisionsAndErases) {
    OffsetTable table;
    std::map<uint64_t, uint64_t> model;
    std::mt19937_64 random(7);
    for (int step = 0; step < 200000; ++step) {
        // Few distinct keys, so inserts of held keys and erases of missing ones are common.
        uint64_t key = random() % 300;
        if (key % 7 == 0) key |= 0x8000000000000000ull; // spread over the whole key space
        switch (random() % 3) {
        case 0: {
            uint64_t offset = 8 + random() % 1000;
            ASSERT_TRUE(table.insert(key, offset));
            model.emplace(key, offset); // the first offset stays, in both
            break;
        }
        case 1:
            table.erase(key);
            model.erase(key);
            break;
        default:
            break;
        }
        auto it = model.find(key);
        ASSERT_EQ(it == model.end() ? 0 : it->second, table.find(key)) << "step " << step;
        ASSERT_EQ(model.size(), table.size());
    }
    for (const auto& [key, offset] : model)
        ASSERT_EQ(offset, table.find(key));
    table.clear();
    EXPECT_EQ(0u, table.find(model.begin()->first));
    EXPECT_EQ(0u, table.size());
    ASSERT_TRUE(table.insert(1, 8));
    EXPECT_EQ(8u, table.find(1));
}
