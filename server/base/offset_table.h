// A flat hash table from a 64-bit key (a name's hash) to a file offset, for the user file's
// index: open addressing with linear probing, one allocation, first insert of a key wins.
// Offsets are never 0 (records start behind the file header), so 0 marks a free slot. Nothing
// throws: an allocation that fails comes back as false and leaves the table empty.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class OffsetTable {
public:
    void clear();
    // Room for `count` keys without growing.
    [[nodiscard]] bool reserve(size_t count);
    // 0 when the key is not held.
    [[nodiscard]] uint64_t find(uint64_t key) const;
    // False only when the table could not grow; a key already held keeps its offset.
    [[nodiscard]] bool insert(uint64_t key, uint64_t offset);
    void erase(uint64_t key);
    size_t size() const { return used_; }

private:
    struct Slot {
        uint64_t key = 0;
        uint64_t offset = 0; // 0: free
    };
    size_t home(uint64_t key) const;
    size_t slotOf(uint64_t key) const; // the key's slot, or the free slot that ends its probe
    bool rehash(size_t capacity);

    std::vector<Slot> slots_;
    size_t used_ = 0;
    int shift_ = 64;
};
