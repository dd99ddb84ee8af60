// What the SSH side takes from outside: the OVHOST_SSH setting, and a client's env requests
// and terminal type. Input: the text, its first byte choosing which part of it is what.
#include "fuzz_common.h"
#include "server/connections/ssh_settings.h"

#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > 4096) return 0;
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    const char* s = text.c_str(); // stops at the first NUL, as the C strings do

    SshAddress address;
    if (parseSshAddress(s, address)) {
        fuzz::check(address.port >= 1);
        // What was taken reads back the same way.
        SshAddress again;
        const std::string port = std::to_string(address.port);
        fuzz::check(parseSshAddress(port.c_str(), again) && again.port == address.port);
    }

    // Name and value split where the first byte says, as an env request brings them.
    const size_t cut = std::min<size_t>(data[0], std::strlen(s));
    const std::string name(s, cut), value(s + cut);
    SshLocale locale;
    const bool taken = noteLocaleVariable(locale, name.c_str(), value.c_str());
    fuzz::check(taken == (name == "LANG" || name == "LC_CTYPE" || name == "LC_ALL"));
    fuzz::check(!locale.utf8 || localeIsUtf8(value.c_str()));
    fuzz::check(locale.strength >= 0 && locale.strength <= 3);

    char term[64];
    std::memset(term, 'X', sizeof term);
    const uint32_t room = 1 + data[0] % sizeof term;
    copyTerminalType(term, room, s);
    const size_t length = strnlen(term, room);
    fuzz::check(length < room);
    for (size_t i = 0; i < length; ++i)
        fuzz::check(term[i] >= 0x20 && term[i] <= 0x7E);
    return 0;
}
