// The text that the SSH listener and connection take from outside: the OVHOST_SSH setting and
// what a client says about its terminal. Plain functions, so that they can be tested and fuzzed
// without a network.
#pragma once

#include <cstdint>

constexpr const char* SshSettingName = "OVHOST_SSH";

struct SshAddress {
    uint8_t host[4] = {}; // network order; all zero is every local address
    uint16_t port = 0;
};

// "[host:]port": an IPv4 address or "localhost" and a port from 1 to 65535. False for anything
// else, leaving out untouched.
[[nodiscard]] bool parseSshAddress(const char* text, SshAddress& out);

// Whether a locale variable's value (LANG, LC_ALL, LC_CTYPE) names UTF-8: "en_US.UTF-8",
// "C.utf8", "de_DE.utf-8@euro".
[[nodiscard]] bool localeIsUtf8(const char* value);

// What a client sends in its environment, as far as the board cares.
struct SshLocale {
    // The variables by their precedence: LC_ALL over LC_CTYPE over LANG, as a C library does.
    int strength = 0; // 0 none seen, 1 LANG, 2 LC_CTYPE, 3 LC_ALL
    bool utf8 = false;
};
// Takes one env request into account; false when the variable is none of the three.
bool noteLocaleVariable(SshLocale& locale, const char* name, const char* value);

// A terminal type from a pty-req, cut to fit out (size bytes) and made of printable ASCII only.
void copyTerminalType(char* out, uint32_t size, const char* in);
