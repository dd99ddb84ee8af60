#include "ovplugin.h"
#include "ttypick.h"

#include <cstdio>
#include <cstring>

namespace ttypick {

BOOL runSession(const HostServices& host, void* session, DWORD* endSession) {
    // One copy for the whole dialogue: the keys offered are the keys accepted.
    const Settings s = currentSettings();
    const char textKey = effectiveTextKey(s);
    const char ansiKey = effectiveAnsiKey(s);
    bool ok = false;

    DWORD ansi = 0;
    if (host.getValue(session, BBS_VALUE_ANSI_TERMINAL, &ansi)) {
        char prompt[TextCount * TextField + 64];
        std::snprintf(prompt, sizeof prompt,
                      "\r\n%s %s.\r\n\r\n%s\r\n   %c) %s\r\n   %c) %s\r\n\r\n%s  ",
                      s.texts[CurrentlyUsing], ansi ? s.texts[AnsiTypeName] : s.texts[TextTypeName],
                      s.texts[SelectText], textKey, s.texts[TextOption], ansiKey,
                      s.texts[AnsiOption], s.texts[Question]);
        ok = ovCallerWriteText(&host, session, prompt);

        unsigned char key = 0;
        while (ok) {
            ok = ovCallerRead(&host, session, &key, 1);
            if (key >= 'a' && key <= 'z') key = static_cast<unsigned char>(key - 'a' + 'A');
            if (ok && (key == static_cast<unsigned char>(textKey) ||
                       key == static_cast<unsigned char>(ansiKey)))
                break;
        }
        if (ok) {
            const DWORD choice = key == static_cast<unsigned char>(ansiKey) ? 1 : 0;
            // A failed save leaves the old type; the caller still sees the key.
            (void)host.setValue(session, BBS_VALUE_ANSI_TERMINAL, &choice);
            char echo[4];
            std::snprintf(echo, sizeof echo, "%c\r\n", static_cast<char>(key));
            ok = ovCallerWrite(&host, session, echo, 3);
        }
    }
    if (endSession) *endSession = ok ? 0 : 1;
    return ok ? 1 : 0;
}

} // namespace ttypick
