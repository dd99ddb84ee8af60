#include "server/sessions/navigation.h"

#include "server/areas/area_text.h"
#include "server/areas/area_tree.h"
#include "server/base/ascii.h"
#include "server/base/time_text.h"
#include "server/connections/connection.h"
#include "server/log/event_log.h"
#include "server/plugins/plugin_host.h"
#include "server/preferences/preferences.h"
#include "server/sessions/terminal.h"
#include "server/users/user_db.h"

#include <cstring>

namespace {

constexpr uint32_t NoEntry = 0xFFFFFFFF;
constexpr int MenuColumn = 46;
constexpr int LabelColumn = 49;
constexpr int LabelMax = 31;

char* rowAt(char* screen, int row) {
    return screen + row * AreaScreenCols;
}

void putEntry(char* screen, int row, char key, const char* label) {
    char* r = rowAt(screen, row);
    r[MenuColumn] = key;
    r[MenuColumn + 1] = ')';
    if (label) std::memcpy(r + LabelColumn, label, strnlen(label, LabelMax));
}

// What one pass of the loop shows and accepts.
struct Menu {
    uint32_t subIds[9];
    uint32_t extPluginIds[9];
    char extArgs[9][64];
    char keys[21];
};

void collectEntries(const AreaRecord& area, const UserRecord& user, Menu& m) {
    for (int i = 0; i < 9; ++i) {
        m.subIds[i] = NoEntry;
        m.extPluginIds[i] = NoEntry;
        m.extArgs[i][0] = '\0';
    }
    int shown = 0;
    for (uint32_t i = 0; i < area.childCount && i < 9; ++i) {
        AreaRecord child;
        if (getArea(area.childIds[i], child) && child.minAccess <= user.accessLevel &&
            user.accessLevel <= child.maxAccess)
            m.subIds[shown++] = area.childIds[i];
    }
    for (uint32_t i = 0; i < area.extensionCount && i < 9; ++i) {
        m.extPluginIds[i] = area.extensionPluginIds[i];
        std::memcpy(m.extArgs[i], area.extensionArgs[i], sizeof m.extArgs[i]);
        m.extArgs[i][63] = '\0';
    }
}

void buildKeys(Menu& m, bool atRoot, char backKey, char quitKey) {
    int n = 0;
    for (int i = 0; i < 9 && m.subIds[i] != NoEntry; ++i)
        m.keys[n++] = static_cast<char>('1' + i);
    for (int i = 0; i < 9 && m.extPluginIds[i] != NoEntry; ++i)
        m.keys[n++] = static_cast<char>('A' + i);
    if (!atRoot) m.keys[n++] = backKey;
    m.keys[n++] = quitKey;
    m.keys[n] = '\0';
}

bool writeRow(Connection& c, const char* screen, int row, int col, uint32_t n) {
    return c.write(screen + row * AreaScreenCols + col, n);
}

bool sendAnsiScreen(Connection& c, TerminalState& t, const char* screen, char backKey,
                    char quitKey) {
    if (!t.setColors(7, 7) || !t.setBold() || !writeRow(c, screen, 0, 0, 80)) return false;
    if (!t.resetAttributes()) return false;
    for (int r = 1; r <= 20; ++r) {
        if (!t.setForeground(6) || !t.setBold() || !writeRow(c, screen, r, 0, 44)) return false;
        if (!t.setForeground(7) || !writeRow(c, screen, r, 44, 2)) return false;
        char k = screen[r * AreaScreenCols + MenuColumn];
        uint32_t colour;
        if (k >= '1' && k <= '9')
            colour = 2;
        else if (k >= 'A' && k <= 'I')
            colour = 3;
        else if (k == backKey || k == quitKey)
            colour = 6;
        else {
            if (!c.writeString("\r\n")) return false;
            continue;
        }
        // An entry row fills all 80 columns; the terminal's wrap moves on to the next row.
        if (!t.setForeground(colour) || !c.writeChar(k)) return false;
        if (!t.setForeground(7) || !writeRow(c, screen, r, MenuColumn + 1, 2)) return false;
        if (!t.resetAttributes() || !writeRow(c, screen, r, LabelColumn, 31)) return false;
    }
    return t.setBold() && writeRow(c, screen, 21, 0, 80);
}

// A description file that replaces the composed screen, if the area has one.
bool sendReplacementText(Connection& c, uint32_t areaId, AreaTextKind kind, bool& sent) {
    char* text = nullptr;
    sent = loadAreaText(areaId, kind, text) && text;
    if (!sent) return true;
    bool ok = c.writeString(text);
    delete[] text;
    return ok;
}

bool showArea(Connection& c, TerminalState& t, uint32_t areaId, const AreaRecord& area,
              const Menu& m, bool ansi, char backKey, char quitKey) {
    char screen[AreaScreenRows * AreaScreenCols];
    bool sent = false;
    if (ansi) {
        if (!t.resetAttributes() || !t.clearScreen()) return false;
        if (!sendReplacementText(c, areaId, AreaTextKind::Ans, sent)) return false;
        if (!sent) {
            buildAreaScreen(screen, areaId, area.parentId, m.subIds, m.extPluginIds, true);
            if (!sendAnsiScreen(c, t, screen, backKey, quitKey)) return false;
        }
        return t.moveCursor(0, 22);
    }
    if (!c.writeString("\r\n\r\n")) return false;
    if (!sendReplacementText(c, areaId, AreaTextKind::Asc, sent)) return false;
    if (sent) return true;
    buildAreaScreen(screen, areaId, area.parentId, m.subIds, m.extPluginIds, false);
    return c.write(screen, sizeof screen);
}

bool prompt(Connection& c, TerminalState& t, const char* keys, bool ansi) {
    if (!ansi) return c.writeString("[") && c.writeString(keys) && c.writeString("]  ");
    return t.resetAttributes() && t.setBold() && c.writeString("[") && t.resetAttributes() &&
           c.writeString(keys) && t.setBold() && c.writeString("]  ");
}

bool readChoice(Connection& c, const char* keys, char& key) {
    c.setEcho(false);
    for (;;) {
        char k;
        if (!c.readKey(&k)) return false;
        k = asciiUpper(k);
        if (k != '\0' && std::strchr(keys, k)) {
            key = k;
            return true;
        }
    }
}

// The account's UTF-8 bit rules once it is set or changes (the sysop's editor, the terminal type
// plug-in); while it stays clear, the character set the connection began with (an SSH client's
// locale) stays. `seen` is -1 before the first screen.
void followAccountCharset(Connection& c, const UserRecord& user, int& seen) {
    const int utf8 = (user.userFlags & Utf8TerminalFlag) != 0 ? 1 : 0;
    if (utf8 != seen && (utf8 == 1 || seen >= 0))
        c.setCharset(utf8 ? Connection::Charset::Utf8 : Connection::Charset::Cp437);
    seen = utf8;
}

bool echoChoice(Connection& c, TerminalState& t, char key, bool ansi) {
    if (ansi) {
        if (!t.resetAttributes() || !t.setForeground(6) || !c.writeChar(key) ||
            !t.resetAttributes())
            return false;
    } else if (!c.writeChar(key)) {
        return false;
    }
    return c.writeString("\r\n");
}

} // namespace

bool recordLogin(const char* loginName, UserRecord& user) {
    // Counted on the account as it is now: a whole record read earlier would undo what another
    // session of the same account or the sysop changed in between.
    const uint64_t now = nowAsFileTime();
    return changeUser(
        loginName,
        [now](UserRecord& u) {
            u.loginCount += 1;
            u.secondLoginCount += 1;
            u.lastLogin = now;
        },
        user);
}

void buildAreaScreen(char screen[22 * 80], uint32_t areaId, uint32_t parentId,
                     const uint32_t subIds[9], const uint32_t extPluginIds[9], bool ansi) {
    std::memset(screen, ' ', AreaScreenRows * AreaScreenCols);
    layoutAreaDescription(screen, areaId);
    AreaRecord rec;
    if (!getArea(areaId, rec)) return;
    for (int r = 1; r <= 20; ++r)
        rowAt(screen, r)[44] = ansi ? '\xB3' : '|';
    std::memset(rowAt(screen, 21), ansi ? 0xC4 : '-', AreaScreenCols);
    rowAt(screen, 21)[44] = ansi ? '\xC1' : '+';
    std::memcpy(screen, rec.title, strnlen(rec.title, sizeof rec.title));

    int row = 1;
    for (int i = 0; i < 9; ++i) {
        if (subIds[i] == NoEntry) continue;
        AreaRecord sub;
        putEntry(screen, row++, static_cast<char>('1' + i),
                 getArea(subIds[i], sub) ? sub.title : nullptr);
    }
    for (int i = 0; i < 9; ++i) {
        if (extPluginIds[i] == NoEntry) continue;
        char name[32];
        std::memcpy(name, rec.extensionNames[i], sizeof name);
        name[31] = '\0';
        putEntry(screen, row++, static_cast<char>('A' + i), name);
    }
    AreaRecord parent;
    if (areaId != 0 && getArea(parentId, parent))
        putEntry(screen, row++, getKeyBack(), parent.title);
    char logoff[PrefTextSize];
    getPrefText(PrefText::LogoffOptionName, logoff);
    putEntry(screen, row, getKeyQuit(), logoff);
}

DisconnectReason browseAreas(Connection& c, const char* loginName) {
    TerminalState t;
    t.init(c);
    uint32_t currentArea = 0;
    bool endSession = false;
    const char backKey = getKeyBack();
    const char quitKey = getKeyQuit();
    char errorText[PrefTextSize];
    getPrefText(PrefText::GenericError, errorText);

    UserRecord user;
    AreaRecord area;
    Menu m;
    int utf8Seen = -1;
    if (!recordLogin(loginName, user)) {
        (void)c.writeString(errorText);
    } else {
        for (;;) {
            if (endSession) {
                (void)c.releaseOutput();
                return DisconnectReason::LoggedOff;
            }
            if (!getArea(currentArea, area) || !findUser(user, loginName)) {
                (void)c.writeString(errorText);
                break;
            }
            // Read at every screen: a plug-in may have switched the terminal type.
            bool ansi = (user.userFlags & AnsiTerminalFlag) != 0;
            followAccountCharset(c, user, utf8Seen);
            collectEntries(area, user, m);
            // The echo of the last key, the screen and the prompt leave in one send.
            c.holdOutput();
            if (!showArea(c, t, currentArea, area, m, ansi, backKey, quitKey)) break;
            buildKeys(m, currentArea == 0, backKey, quitKey);
            char key;
            if (!prompt(c, t, m.keys, ansi) || !c.releaseOutput() || !readChoice(c, m.keys, key))
                break;
            c.holdOutput();
            // The quit key's echo is the last thing the caller gets: out before log-off counts.
            if (!echoChoice(c, t, key, ansi) || (key == quitKey && !c.releaseOutput())) break;
            if (key == quitKey) endSession = true;
            if (key == backKey) currentArea = area.parentId;
            if (key >= '1' && key <= '9') currentArea = m.subIds[key - '1'];
            if (key >= 'A' && key <= 'I') {
                if (!c.releaseOutput()) break;
                int i = key - 'A';
                // Failures are silent: the caller sees the same area again.
                (void)runExtension(m.extPluginIds[i], loginName, c, currentArea, &endSession,
                                   m.extArgs[i]);
            }
        }
    }
    (void)c.releaseOutput();
    return endSession     ? DisconnectReason::LoggedOff
           : c.timedOut() ? DisconnectReason::TimedOut
                          : DisconnectReason::ClosedWithoutLogoff;
}
