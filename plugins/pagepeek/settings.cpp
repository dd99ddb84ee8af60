#include "ovplugin.h"
#include "pagepeek.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace pagepeek {
namespace {

std::mutex settingsLock;
MoreText moreInForce = makeMoreText(DefaultMore);

} // namespace

MoreText makeMoreText(const char* text) {
    MoreText more{};
    const char* from = text ? text : "";
    std::memcpy(more.text, from, strnlen(from, MaxMore));
    return more;
}

MoreText currentMoreText() {
    std::lock_guard<std::mutex> hold(settingsLock);
    return moreInForce;
}

void setCurrentMoreText(const MoreText& more) {
    std::lock_guard<std::mutex> hold(settingsLock);
    moreInForce = more;
}

MoreText loadSettingsFile() {
    unsigned char bytes[MoreField - 1];
    const ssize_t count = ovReadFile(SettingsFile, bytes, sizeof bytes);
    const size_t got = count > 0 ? static_cast<size_t>(count) : 0;
    // The text runs up to the first control or non-ASCII byte.
    MoreText more{};
    size_t length = 0;
    while (length < got && bytes[length] >= 0x20 && bytes[length] < 0x80) {
        more.text[length] = static_cast<char>(bytes[length]);
        ++length;
    }
    return length > 0 ? more : makeMoreText(DefaultMore);
}

bool saveSettingsFile(const MoreText& more) {
    MoreText field = makeMoreText(more.text); // zero after the terminator
    // A reader sees the old or the new file, never a part; a failed save leaves the old whole.
    return ovSaveFileAtomically(SettingsFile, field.text, MoreField);
}

void formatStatus(char* out, size_t size, const char* more, uint64_t position, uint64_t total) {
    // 64 bits keep the percentage right for files far beyond 20 MB.
    const uint64_t percent = total ? position * 100 / total : 0;
    std::snprintf(out, size, "%s (%" PRIu64 "/%" PRIu64 ", %" PRIu64 "%%)", more, position, total,
                  percent);
}

} // namespace pagepeek
