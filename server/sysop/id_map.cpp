#include "server/sysop/id_map.h"

#include <atomic>
#include <new>

struct IdMapValuePage {
    uint32_t values[IdMapPageSize];
};

struct IdMapPointerPage {
    IdMapValuePage* pages[IdMapPageSize];
};

namespace {

std::atomic<int> failingAllocations{0};

bool allocationAllowed() {
    int left = failingAllocations.load();
    while (left > 0) {
        if (failingAllocations.compare_exchange_weak(left, left - 1)) {
            return false;
        }
    }
    return true;
}

size_t rootIndex(uint32_t key) {
    return key >> 20;
}
size_t pageIndex(uint32_t key) {
    return (key >> 10) & 0x3FF;
}
size_t valueIndex(uint32_t key) {
    return key & 0x3FF;
}

} // namespace

void failIdMapAllocationsForTests(int count) {
    failingAllocations = count;
}

IdMap* createIdMap(uint32_t defaultValue) {
    IdMap* map = new (std::nothrow) IdMap;
    if (map != nullptr) {
        map->defaultValue = defaultValue;
    }
    return map;
}

void destroyIdMap(IdMap* map) {
    if (map == nullptr) {
        return;
    }
    for (IdMapPointerPage*& pointers : map->root) {
        if (pointers == nullptr) {
            continue;
        }
        for (IdMapValuePage* values : pointers->pages) {
            delete values;
        }
        delete pointers;
        pointers = nullptr;
    }
    delete map;
}

bool idMapSet(IdMap* map, uint32_t key, uint32_t value) {
    if (map == nullptr) {
        return false;
    }
    std::lock_guard<std::mutex> hold(map->lock);
    IdMapPointerPage*& pointers = map->root[rootIndex(key)];
    if (pointers == nullptr) {
        if (value == map->defaultValue) {
            return true; // storing the default needs no page
        }
        pointers = allocationAllowed() ? new (std::nothrow) IdMapPointerPage() : nullptr;
        if (pointers == nullptr) {
            return false;
        }
        ++map->pointerPages;
    }
    IdMapValuePage*& values = pointers->pages[pageIndex(key)];
    if (values == nullptr) {
        if (value == map->defaultValue) {
            return true;
        }
        values = allocationAllowed() ? new (std::nothrow) IdMapValuePage : nullptr;
        if (values == nullptr) {
            return false; // an empty pointer page may stay; the next remove or destroy frees it
        }
        ++map->valuePages;
        for (uint32_t& v : values->values) {
            v = map->defaultValue;
        }
    }
    values->values[valueIndex(key)] = value;
    return true;
}

uint32_t idMapGet(IdMap* map, uint32_t key) {
    if (map == nullptr) {
        return 0;
    }
    std::lock_guard<std::mutex> hold(map->lock);
    IdMapPointerPage* pointers = map->root[rootIndex(key)];
    if (pointers == nullptr) {
        return map->defaultValue;
    }
    IdMapValuePage* values = pointers->pages[pageIndex(key)];
    return values == nullptr ? map->defaultValue : values->values[valueIndex(key)];
}

void idMapRemove(IdMap* map, uint32_t key) {
    if (map == nullptr) {
        return;
    }
    std::lock_guard<std::mutex> hold(map->lock);
    IdMapPointerPage*& pointers = map->root[rootIndex(key)];
    if (pointers == nullptr) {
        return;
    }
    IdMapValuePage*& values = pointers->pages[pageIndex(key)];
    if (values != nullptr) {
        values->values[valueIndex(key)] = map->defaultValue;
        for (uint32_t v : values->values) {
            if (v != map->defaultValue) {
                return;
            }
        }
        delete values;
        values = nullptr;
        --map->valuePages;
    }
    for (IdMapValuePage* page : pointers->pages) {
        if (page != nullptr) {
            return;
        }
    }
    delete pointers;
    pointers = nullptr;
    --map->pointerPages;
}

void idMapPageCounts(IdMap* map, size_t& pointerPages, size_t& valuePages) {
    pointerPages = 0;
    valuePages = 0;
    if (map == nullptr) {
        return;
    }
    std::lock_guard<std::mutex> hold(map->lock);
    pointerPages = map->pointerPages;
    valuePages = map->valuePages;
}
