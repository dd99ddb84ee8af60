#include "server/base/offset_table.h"

#include <new>

void OffsetTable::clear() {
    std::vector<Slot>().swap(slots_);
    used_ = 0;
    shift_ = 64;
}

size_t OffsetTable::home(uint64_t key) const {
    // Fibonacci hashing spreads even poorly mixed keys over the table.
    return static_cast<size_t>((key * 0x9E3779B97F4A7C15ull) >> shift_);
}

size_t OffsetTable::slotOf(uint64_t key) const {
    size_t mask = slots_.size() - 1;
    size_t i = home(key);
    while (slots_[i].offset != 0 && slots_[i].key != key)
        i = (i + 1) & mask;
    return i;
}

bool OffsetTable::rehash(size_t capacity) {
    std::vector<Slot> old;
    old.swap(slots_);
    try {
        slots_.resize(capacity);
    } catch (const std::bad_alloc&) {
        clear();
        return false;
    }
    shift_ = 64;
    for (size_t c = capacity; c > 1; c >>= 1)
        --shift_;
    for (const Slot& s : old)
        if (s.offset != 0) slots_[slotOf(s.key)] = s;
    return true;
}

bool OffsetTable::reserve(size_t count) {
    // At most half full, so probes stay short.
    size_t capacity = 64;
    while (capacity < 2 * count)
        capacity *= 2;
    return capacity <= slots_.size() || rehash(capacity);
}

uint64_t OffsetTable::find(uint64_t key) const {
    if (slots_.empty()) return 0;
    return slots_[slotOf(key)].offset;
}

bool OffsetTable::insert(uint64_t key, uint64_t offset) {
    if (offset == 0) return true;
    if (!reserve(used_ + 1)) return false;
    Slot& s = slots_[slotOf(key)];
    if (s.offset != 0) return true;
    s = Slot{key, offset};
    ++used_;
    return true;
}

void OffsetTable::erase(uint64_t key) {
    if (slots_.empty()) return;
    size_t mask = slots_.size() - 1;
    size_t hole = slotOf(key);
    if (slots_[hole].offset == 0) return;
    // Backward shift: pull later entries of the probe run into the hole, so that no lookup stops
    // early at a freed slot.
    for (size_t j = (hole + 1) & mask; slots_[j].offset != 0; j = (j + 1) & mask) {
        size_t h = home(slots_[j].key);
        bool stays = hole <= j ? (hole < h && h <= j) : (hole < h || h <= j);
        if (stays) continue;
        slots_[hole] = slots_[j];
        hole = j;
    }
    slots_[hole] = Slot{};
    --used_;
}
