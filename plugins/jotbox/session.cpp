#include "jotbox.h"
#include "ovplugin.h"

#include <cstdio>
#include <cstring>

namespace jotbox {
namespace {

constexpr unsigned char CtrlC = 0x03;
constexpr unsigned char Backspace = 0x08;
constexpr unsigned char Del = 0x7F; // what most terminals send for the Backspace key
constexpr unsigned char Enter = 0x0D;

bool sendFramed(const HostServices& host, void* session, const char* text) {
    char framed[TextField + 8];
    std::snprintf(framed, sizeof framed, "\r\n%s\r\n", text);
    return ovCallerWriteText(&host, session, framed);
}

} // namespace

BOOL runSession(const HostServices& host, void* session, DWORD* endSession) {
    const Settings settings = currentSettings();
    bool ok = sendFramed(host, session, settings.instructions);

    char memo[MaxMemo + 1] = {};
    size_t length = 0;
    bool entered = false;
    bool cancelled = false;
    // A full memo waits for Enter (or an edit) rather than being dropped unseen.
    while (ok && !entered && !cancelled) {
        unsigned char c = 0;
        ok = ovCallerRead(&host, session, &c, 1);
        if (!ok) break;
        if (c >= 0x20 && c <= 0x7E) {
            if (length < MaxMemo) {
                memo[length++] = static_cast<char>(c);
                ok = ovCallerWrite(&host, session, &c, 1);
            }
        } else if (c == CtrlC) {
            cancelled = true;
        } else if (c == Backspace || c == Del) {
            if (length > 0) {
                memo[--length] = '\0';
                ok = ovCallerWriteText(&host, session, "\b \b");
            }
        } else if (c == Enter) {
            entered = true;
        }
    }

    if (ok && entered) {
        char loginName[32] = {};
        if (host.getValue(session, BBS_VALUE_LOGIN_NAME, loginName)) {
            loginName[sizeof loginName - 1] = '\0';
            // The file is let go before we wait on the caller again.
            if (appendMemo(loginName, memo))
                ok = sendFramed(host, session, settings.successMessage);
        }
    }
    if (endSession) *endSession = ok ? 0 : 1;
    return ok ? 1 : 0;
}

} // namespace jotbox
