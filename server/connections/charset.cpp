#include "server/connections/charset.h"

#include <iconv.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <mutex>

namespace {

constexpr uint8_t Unknown = '?';

struct Entry {
    uint32_t codePoint;
    uint8_t byte;
};

struct Tables {
    char utf8[128][3];
    uint8_t length[128];
    std::array<Entry, 128> byCodePoint; // sorted, for the way back
};

uint32_t codePointOf(const uint8_t* p, uint32_t length) {
    uint32_t cp = p[0] & (0x7Fu >> length);
    for (uint32_t i = 1; i < length; ++i)
        cp = (cp << 6) | (p[i] & 0x3Fu);
    return cp;
}

void fill(Tables& t) {
    iconv_t cd = iconv_open("UTF-8", "CP437");
    for (int i = 0; i < 128; ++i) {
        char in = char(0x80 + i);
        char* inp = &in;
        size_t inLeft = 1;
        char* outp = t.utf8[i];
        size_t outLeft = sizeof t.utf8[i];
        bool ok = cd != iconv_t(-1) && iconv(cd, &inp, &inLeft, &outp, &outLeft) != size_t(-1);
        t.length[i] = ok ? uint8_t(sizeof t.utf8[i] - outLeft) : 0;
        uint32_t cp = 0xFFFFFFFFu; // matches no typed character
        if (t.length[i] >= 2)
            cp = codePointOf(reinterpret_cast<const uint8_t*>(t.utf8[i]), t.length[i]);
        else { // no converter: U+FFFD, what the terminal would have shown anyway
            std::memcpy(t.utf8[i], "\xEF\xBF\xBD", 3);
            t.length[i] = 3;
        }
        t.byCodePoint[size_t(i)] = {cp, uint8_t(0x80 + i)};
    }
    if (cd != iconv_t(-1)) iconv_close(cd);
    std::sort(t.byCodePoint.begin(), t.byCodePoint.end(),
              [](const Entry& a, const Entry& b) { return a.codePoint < b.codePoint; });
}

const Tables& tables() {
    static Tables t;
    static std::once_flag once;
    std::call_once(once, [] { fill(t); });
    return t;
}

} // namespace

uint32_t cp437ToUtf8(uint8_t byte, char out[3]) {
    if (byte < 0x80) {
        out[0] = char(byte);
        return 1;
    }
    const Tables& t = tables();
    std::memcpy(out, t.utf8[byte - 0x80], 3);
    return t.length[byte - 0x80];
}

uint32_t utf8Continuations(uint8_t lead) {
    if (lead >= 0xC2 && lead <= 0xDF) return 1;
    if (lead >= 0xE0 && lead <= 0xEF) return 2;
    if (lead >= 0xF0 && lead <= 0xF4) return 3;
    return 0;
}

uint8_t cp437FromUtf8(const uint8_t* sequence, uint32_t length) {
    if (length == 1) return sequence[0] < 0x80 ? sequence[0] : Unknown;
    static constexpr uint32_t shortest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (length > 4) return Unknown;
    uint32_t cp = codePointOf(sequence, length);
    if (cp < shortest[length]) return Unknown;
    const auto& list = tables().byCodePoint;
    auto at = std::lower_bound(list.begin(), list.end(), cp,
                               [](const Entry& e, uint32_t v) { return e.codePoint < v; });
    return at != list.end() && at->codePoint == cp ? at->byte : Unknown;
}

void utf8ToCp437(const char* in, char* out, size_t outSize) {
    const auto* p = reinterpret_cast<const uint8_t*>(in);
    size_t n = 0;
    while (*p && n + 1 < outSize) {
        const uint8_t* start = p++;
        uint32_t need = utf8Continuations(*start), got = 0;
        while (got < need && (*p & 0xC0) == 0x80) {
            ++p;
            ++got;
        }
        out[n++] = char(got == need ? cp437FromUtf8(start, need + 1) : Unknown);
    }
    out[n] = '\0';
}
