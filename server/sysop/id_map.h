// A map from 32-bit keys to 32-bit values with a fixed default, as a three-level table: the
// key's top 12 bits pick a page of 1024 pointers, the next 10 a page of 1024 values, the low 10
// the value. Pages are made on first store and freed as soon as they hold only defaults again,
// so a sparse map of a few ids stays small. Each map has its own lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>

constexpr size_t IdMapRootSize = 4096;
constexpr size_t IdMapPageSize = 1024;

struct IdMapPointerPage;

struct IdMap {
    uint32_t defaultValue = 0;
    std::mutex lock;
    IdMapPointerPage* root[IdMapRootSize] = {};
    size_t pointerPages = 0; // pages allocated now, for the curious and for tests
    size_t valuePages = 0;
};

// Null when the map itself cannot be allocated.
[[nodiscard]] IdMap* createIdMap(uint32_t defaultValue);
// Frees every page and the map; null is fine.
void destroyIdMap(IdMap* map);
// False when a page cannot be allocated; the key then still reads as the default.
[[nodiscard]] bool idMapSet(IdMap* map, uint32_t key, uint32_t value);
uint32_t idMapGet(IdMap* map, uint32_t key);
// Stores the default, freeing the pages that no longer hold anything else.
void idMapRemove(IdMap* map, uint32_t key);
// Page counts (pointer pages, value pages) under the map's lock.
void idMapPageCounts(IdMap* map, size_t& pointerPages, size_t& valuePages);

// Tests: make the next `count` page allocations fail.
void failIdMapAllocationsForTests(int count);
