// IdMap: defaults, pages made on the first store and freed when empty again.
#include "server/sysop/id_map.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

struct Pages {
    size_t pointer = 0, value = 0;
};

Pages pagesOf(IdMap* map) {
    Pages p;
    idMapPageCounts(map, p.pointer, p.value);
    return p;
}

TEST(IdMap, MissingKeysReadAsTheDefault) {
    IdMap* map = createIdMap(7);
    ASSERT_NE(map, nullptr);
    EXPECT_EQ(idMapGet(map, 0), 7u);
    EXPECT_EQ(idMapGet(map, 0xFFFFFFFFu), 7u);
    idMapRemove(map, 12345); // nothing to remove
    EXPECT_EQ(pagesOf(map).pointer, 0u);
    // Storing the default needs no page.
    EXPECT_TRUE(idMapSet(map, 99, 7));
    EXPECT_EQ(pagesOf(map).value, 0u);
    destroyIdMap(map);
}

TEST(IdMap, PagesAreMadeOnFirstStoreAndFreedWhenEmpty) {
    IdMap* map = createIdMap(0);
    ASSERT_TRUE(idMapSet(map, 5, 50));
    EXPECT_EQ(pagesOf(map).pointer, 1u);
    EXPECT_EQ(pagesOf(map).value, 1u);
    // Same value page (low 10 bits differ), another value page (bits 10-19), another pointer
    // page (top 12 bits).
    ASSERT_TRUE(idMapSet(map, 1023, 51));
    EXPECT_EQ(pagesOf(map).value, 1u);
    ASSERT_TRUE(idMapSet(map, 1024, 52));
    EXPECT_EQ(pagesOf(map).value, 2u);
    ASSERT_TRUE(idMapSet(map, 0xFFF00000u, 53));
    EXPECT_EQ(pagesOf(map).pointer, 2u);
    EXPECT_EQ(pagesOf(map).value, 3u);
    EXPECT_EQ(idMapGet(map, 5), 50u);
    EXPECT_EQ(idMapGet(map, 1023), 51u);
    EXPECT_EQ(idMapGet(map, 1024), 52u);
    EXPECT_EQ(idMapGet(map, 0xFFF00000u), 53u);
    EXPECT_EQ(idMapGet(map, 6), 0u); // the rest of a fresh page holds the default

    idMapRemove(map, 5);
    EXPECT_EQ(idMapGet(map, 5), 0u);
    EXPECT_EQ(pagesOf(map).value, 3u); // 1023 still lives there
    idMapRemove(map, 1023);
    EXPECT_EQ(pagesOf(map).value, 2u);
    EXPECT_EQ(pagesOf(map).pointer, 2u); // 1024 keeps the pointer page
    idMapRemove(map, 1024);
    EXPECT_EQ(pagesOf(map).pointer, 1u);
    idMapRemove(map, 0xFFF00000u);
    EXPECT_EQ(pagesOf(map).pointer, 0u);
    EXPECT_EQ(pagesOf(map).value, 0u);

    // A page can be made again after it was freed; destroy frees what is left.
    ASSERT_TRUE(idMapSet(map, 5, 9));
    EXPECT_EQ(idMapGet(map, 5), 9u);
    destroyIdMap(map);
}

TEST(IdMap, StoringTheDefaultEmptiesAValueButKeepsItsPageUntilRemoved) {
    IdMap* map = createIdMap(0xFFFFFFFFu);
    ASSERT_TRUE(idMapSet(map, 3, 0));
    EXPECT_EQ(idMapGet(map, 3), 0u);
    EXPECT_EQ(idMapGet(map, 4), 0xFFFFFFFFu);
    ASSERT_TRUE(idMapSet(map, 3, 0xFFFFFFFFu));
    EXPECT_EQ(pagesOf(map).value, 1u);
    idMapRemove(map, 3);
    EXPECT_EQ(pagesOf(map).value, 0u);
    destroyIdMap(map);
}

TEST(IdMap, AFailedAllocationLeavesTheKeyAtTheDefault) {
    IdMap* map = createIdMap(0);
    failIdMapAllocationsForTests(1);
    EXPECT_FALSE(idMapSet(map, 5, 50)); // the pointer page
    EXPECT_EQ(idMapGet(map, 5), 0u);
    failIdMapAllocationsForTests(0);
    ASSERT_TRUE(idMapSet(map, 5, 50));
    failIdMapAllocationsForTests(1);
    EXPECT_FALSE(idMapSet(map, 5000, 1)); // a value page under an existing pointer page
    EXPECT_EQ(idMapGet(map, 5000), 0u);
    EXPECT_EQ(idMapGet(map, 5), 50u);
    failIdMapAllocationsForTests(0);
    destroyIdMap(map);
    destroyIdMap(nullptr);
}

TEST(IdMap, ConcurrentUsersEachSeeTheirOwnKeys) {
    IdMap* map = createIdMap(0);
    std::vector<std::thread> threads;
    for (uint32_t t = 0; t < 4; ++t)
        threads.emplace_back([map, t] {
            for (uint32_t round = 0; round < 50; ++round)
                for (uint32_t k = 0; k < 200; ++k) {
                    uint32_t key = (t << 20) | (k * 7);
                    ASSERT_TRUE(idMapSet(map, key, key + 1));
                    ASSERT_EQ(idMapGet(map, key), key + 1);
                    idMapRemove(map, key);
                    ASSERT_EQ(idMapGet(map, key), 0u);
                }
        });
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(pagesOf(map).pointer, 0u);
    EXPECT_EQ(pagesOf(map).value, 0u);
    destroyIdMap(map);
}

} // namespace
