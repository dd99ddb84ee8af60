#include "ovplugin.h"
#include "ttypick.h"

#include <cstdio>
#include <cstring>
#include <strings.h>

namespace ttypick {
namespace {

// One of the two dialogues: the account value it switches, what the current setting is called,
// and the two offers (key and text), the first for 0 and the second for 1.
struct Choice {
    DWORD code;
    const char* names[2];
    const char* selectText;
    char keys[2];
    const char* options[2];
};

// The character set has no settings of its own: its texts are fixed, so ttypick.dat keeps its
// size and layout.
constexpr char CodePageKey = 'D';
constexpr char Utf8Key = 'U';

// An instance whose argument is "charset" (any case, spaces around it allowed).
bool choosesCharset(const HostServices& host, void* session) {
    char args[64] = {};
    if (!host.getValue(session, BBS_VALUE_EXTENSION_ARGS, args)) return false;
    args[sizeof args - 1] = '\0';
    const char* at = args;
    while (*at == ' ')
        ++at;
    size_t n = std::strlen(at);
    while (n > 0 && at[n - 1] == ' ')
        --n;
    return n == 7 && strncasecmp(at, "charset", 7) == 0;
}

BOOL runChoice(const HostServices& host, void* session, const Settings& s, const Choice& choice,
               DWORD* endSession) {
    bool ok = false;
    DWORD current = 0;
    if (host.getValue(session, choice.code, &current)) {
        char prompt[TextCount * TextField + 192];
        std::snprintf(prompt, sizeof prompt,
                      "\r\n%s %s.\r\n\r\n%s\r\n   %c) %s\r\n   %c) %s\r\n\r\n%s  ",
                      s.texts[CurrentlyUsing], choice.names[current ? 1 : 0], choice.selectText,
                      choice.keys[0], choice.options[0], choice.keys[1], choice.options[1],
                      s.texts[Question]);
        ok = ovCallerWriteText(&host, session, prompt);

        unsigned char key = 0;
        while (ok) {
            ok = ovCallerRead(&host, session, &key, 1);
            if (key >= 'a' && key <= 'z') key = static_cast<unsigned char>(key - 'a' + 'A');
            if (ok && (key == static_cast<unsigned char>(choice.keys[0]) ||
                       key == static_cast<unsigned char>(choice.keys[1])))
                break;
        }
        if (ok) {
            const DWORD value = key == static_cast<unsigned char>(choice.keys[1]) ? 1 : 0;
            // A failed save leaves the old type; the caller still sees the key.
            (void)host.setValue(session, choice.code, &value);
            char echo[4];
            std::snprintf(echo, sizeof echo, "%c\r\n", static_cast<char>(key));
            ok = ovCallerWrite(&host, session, echo, 3);
        }
    }
    if (endSession) *endSession = ok ? 0 : 1;
    return ok ? 1 : 0;
}

} // namespace

BOOL runSession(const HostServices& host, void* session, DWORD* endSession) {
    // One copy for the whole dialogue: the keys offered are the keys accepted.
    const Settings s = currentSettings();
    if (choosesCharset(host, session)) {
        const Choice charset{BBS_VALUE_UTF8_TERMINAL,
                             {"the DOS character set", "UTF-8"},
                             "Select the character set your terminal shows:",
                             {CodePageKey, Utf8Key},
                             {"DOS characters (code page 437)", "UTF-8 (most terminals today)"}};
        return runChoice(host, session, s, charset, endSession);
    }
    const Choice type{BBS_VALUE_ANSI_TERMINAL,
                      {s.texts[TextTypeName], s.texts[AnsiTypeName]},
                      s.texts[SelectText],
                      {effectiveTextKey(s), effectiveAnsiKey(s)},
                      {s.texts[TextOption], s.texts[AnsiOption]}};
    return runChoice(host, session, s, type, endSession);
}

} // namespace ttypick
