#include "server/connections/ssh_settings.h"

#include "server/base/ascii.h"
#include <cstring>

namespace {

// A decimal number of at most `digits` digits covering all of [p, end).
bool parseNumber(const char* p, const char* end, unsigned digits, unsigned long& out) {
    if (p == end || static_cast<unsigned>(end - p) > digits) return false;
    unsigned long n = 0;
    for (; p < end; ++p) {
        if (*p < '0' || *p > '9') return false;
        n = n * 10 + static_cast<unsigned long>(*p - '0');
    }
    out = n;
    return true;
}

bool parseIpv4(const char* p, const char* end, uint8_t out[4]) {
    uint8_t parts[4];
    for (int i = 0; i < 4; ++i) {
        const char* dot = p;
        while (dot < end && *dot != '.')
            ++dot;
        unsigned long n = 0;
        if (!parseNumber(p, dot, 3, n) || n > 255) return false;
        parts[i] = static_cast<uint8_t>(n);
        if (i < 3 && dot == end) return false;
        p = dot + 1;
        if (i == 3 && dot != end) return false;
    }
    std::memcpy(out, parts, 4);
    return true;
}

} // namespace

bool parseSshAddress(const char* text, SshAddress& out) {
    if (!text) return false;
    const char* end = text + std::strlen(text);
    const char* colon = std::strrchr(text, ':');
    SshAddress parsed;
    unsigned long port = 0;
    if (!parseNumber(colon ? colon + 1 : text, end, 5, port) || port < 1 || port > 65535)
        return false;
    parsed.port = static_cast<uint16_t>(port);
    if (colon) {
        const size_t hostLength = static_cast<size_t>(colon - text);
        if (hostLength == 9 && equalsIgnoringAsciiCase({text, 9}, "localhost")) {
            const uint8_t loopback[4] = {127, 0, 0, 1};
            std::memcpy(parsed.host, loopback, 4);
        } else if (!parseIpv4(text, colon, parsed.host)) {
            return false;
        }
    }
    out = parsed;
    return true;
}

bool localeIsUtf8(const char* value) {
    if (!value) return false;
    // The codeset sits between the '.' and an optional '@' modifier.
    const char* dot = std::strchr(value, '.');
    if (!dot) return false;
    const char* codeset = dot + 1;
    const char* at = std::strchr(codeset, '@');
    const size_t n = at ? static_cast<size_t>(at - codeset) : std::strlen(codeset);
    return (n == 5 && equalsIgnoringAsciiCase({codeset, 5}, "utf-8")) ||
           (n == 4 && equalsIgnoringAsciiCase({codeset, 4}, "utf8"));
}

bool noteLocaleVariable(SshLocale& locale, const char* name, const char* value) {
    if (!name) return false;
    int strength = 0;
    if (std::strcmp(name, "LANG") == 0)
        strength = 1;
    else if (std::strcmp(name, "LC_CTYPE") == 0)
        strength = 2;
    else if (std::strcmp(name, "LC_ALL") == 0)
        strength = 3;
    else
        return false;
    // An empty variable is as good as none, as for the C library.
    if (value && *value && strength >= locale.strength) {
        locale.strength = strength;
        locale.utf8 = localeIsUtf8(value);
    }
    return true;
}

void copyTerminalType(char* out, uint32_t size, const char* in) {
    if (size == 0) return;
    uint32_t n = 0;
    for (const char* p = in ? in : ""; *p && n + 1 < size; ++p)
        out[n++] = (*p >= 0x20 && *p <= 0x7E) ? *p : '?';
    out[n] = '\0';
}
