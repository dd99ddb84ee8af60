// Little-endian field codec for every binary record the server keeps on disk.
// Records are encoded and decoded field by field at fixed offsets; never cast structs over bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

inline uint16_t loadLe16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t loadLe32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline uint64_t loadLe64(const uint8_t* p) {
    return static_cast<uint64_t>(loadLe32(p)) | (static_cast<uint64_t>(loadLe32(p + 4)) << 32);
}
inline void storeLe16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
inline void storeLe32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void storeLe64(uint8_t* p, uint64_t v) {
    storeLe32(p, static_cast<uint32_t>(v));
    storeLe32(p + 4, static_cast<uint32_t>(v >> 32));
}

// Copies a NUL-terminated text field of `fieldSize` bytes out of a record. The copy always ends
// with a NUL within the field, also when the stored field has none.
inline void loadText(const uint8_t* p, size_t fieldSize, char* out) {
    size_t n = 0;
    while (n + 1 < fieldSize && p[n] != 0)
        ++n;
    std::memcpy(out, p, n);
    out[n] = '\0';
}

// Stores `text` into a field of `fieldSize` bytes: at most fieldSize-1 characters, then zeros.
inline void storeText(uint8_t* p, size_t fieldSize, const char* text) {
    size_t n = text ? strnlen(text, fieldSize - 1) : 0;
    std::memcpy(p, text, n);
    std::memset(p + n, 0, fieldSize - n);
}

// Sequential writer over a caller's buffer; fields past the end are dropped and flag the writer.
class RecordWriter {
public:
    RecordWriter(uint8_t* buffer, size_t size) : buf_(buffer), size_(size) {}
    void u8(uint8_t v) {
        if (room(1)) buf_[pos_++] = v;
    }
    void u16(uint16_t v) {
        if (room(2)) storeLe16(buf_ + pos_, v), pos_ += 2;
    }
    void u32(uint32_t v) {
        if (room(4)) storeLe32(buf_ + pos_, v), pos_ += 4;
    }
    void i32(int32_t v) { u32(static_cast<uint32_t>(v)); }
    void u64(uint64_t v) {
        if (room(8)) storeLe64(buf_ + pos_, v), pos_ += 8;
    }
    void bytes(const void* data, size_t n) {
        if (room(n)) std::memcpy(buf_ + pos_, data, n), pos_ += n;
    }
    void zeros(size_t n) {
        if (room(n)) std::memset(buf_ + pos_, 0, n), pos_ += n;
    }
    void text(const char* s, size_t fieldSize) {
        if (room(fieldSize)) storeText(buf_ + pos_, fieldSize, s), pos_ += fieldSize;
    }
    size_t offset() const { return pos_; }
    bool ok() const { return ok_; }

private:
    bool room(size_t n) {
        if (pos_ + n > size_) ok_ = false;
        return ok_;
    }
    uint8_t* buf_;
    size_t size_;
    size_t pos_ = 0;
    bool ok_ = true;
};

// Sequential reader; reads past the end yield zeros and flag the reader.
class RecordReader {
public:
    RecordReader(const uint8_t* buffer, size_t size) : buf_(buffer), size_(size) {}
    uint8_t u8() { return room(1) ? buf_[pos_++] : 0; }
    uint16_t u16() { return room(2) ? (pos_ += 2, loadLe16(buf_ + pos_ - 2)) : 0; }
    uint32_t u32() { return room(4) ? (pos_ += 4, loadLe32(buf_ + pos_ - 4)) : 0; }
    int32_t i32() { return static_cast<int32_t>(u32()); }
    uint64_t u64() { return room(8) ? (pos_ += 8, loadLe64(buf_ + pos_ - 8)) : 0; }
    void bytes(void* out, size_t n) {
        if (room(n))
            std::memcpy(out, buf_ + pos_, n), pos_ += n;
        else
            std::memset(out, 0, n);
    }
    void text(char* out, size_t fieldSize) {
        if (room(fieldSize))
            loadText(buf_ + pos_, fieldSize, out), pos_ += fieldSize;
        else
            out[0] = '\0';
    }
    void skip(size_t n) {
        if (room(n)) pos_ += n;
    }
    size_t offset() const { return pos_; }
    bool ok() const { return ok_; }

private:
    bool room(size_t n) {
        if (pos_ + n > size_) ok_ = false;
        return ok_;
    }
    const uint8_t* buf_;
    size_t size_;
    size_t pos_ = 0;
    bool ok_ = true;
};
