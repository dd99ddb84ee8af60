#include "server/sessions/new_account.h"

#include <cstring>

#include "server/base/ascii.h"
#include "server/base/file_helpers.h"
#include "server/connections/connection.h"
#include "server/preferences/preferences.h"
#include "server/users/user_db.h"

namespace {

constexpr size_t NameLimit = 31;

bool writePrompt(Connection& c, const char* text) {
    return c.writeString(text) && c.writeString("  ");
}

bool writeLine(Connection& c, const char* text) {
    return c.writeString(text) && c.writeString("\r\n");
}

// askYesNo that also tells a dead line apart from a No.
bool readYesNo(Connection& c, bool* yes) {
    const bool previous = c.setEcho(false);
    const char keyYes = getKeyYes(), keyNo = getKeyNo();
    char k = 0;
    do {
        if (!c.readKey(&k)) return false;
        k = asciiUpper(k);
    } while (k != keyYes && k != keyNo);
    c.setEcho(previous);
    if (previous && !c.writeChar(k)) return false;
    *yes = k == keyYes;
    return true;
}

bool askName(Connection& c, UserRecord& rec) {
    char text[PrefTextSize], line[LineBufferSize];
    for (;;) {
        getPrefText(PrefText::NewHandlePrompt, text);
        if (!writePrompt(c, text) || !c.readLine(line)) return false;
        line[NameLimit] = 0;
        if (addUserReserved(rec, line)) return true;
        getPrefText(PrefText::NameInUse, text);
        if (!writeLine(c, text)) return false;
    }
}

bool askPassword(Connection& c, UserRecord& rec) {
    char text[PrefTextSize], first[LineBufferSize], second[LineBufferSize];
    for (;;) {
        getPrefText(PrefText::NewPasswordPrompt, text);
        if (!writePrompt(c, text) || !c.readLine(first) || !c.writeString("\r\n")) return false;
        first[NameLimit] = 0;
        getPrefText(PrefText::RepeatPasswordPrompt, text);
        if (!writePrompt(c, text) || !c.readLine(second) || !c.writeString("\r\n")) return false;
        second[NameLimit] = 0;
        if (std::strcmp(first, second) == 0) break;
        getPrefText(PrefText::DidNotMatch, text);
        if (!writeLine(c, text)) return false;
    }
    std::memcpy(rec.password, first, sizeof rec.password); // 31 characters and the NUL
    return true;
}

bool askRealName(Connection& c, UserRecord& rec) {
    char text[PrefTextSize];
    c.setEcho(true);
    do {
        getPrefText(PrefText::RealNamePrompt, text);
        if (!writePrompt(c, text) || !c.readLine(rec.realName)) return false;
        maskControlChars(rec.realName);
    } while (rec.realName[0] == 0);
    return true;
}

bool askAnsi(Connection& c, UserRecord& rec) {
    char text[PrefTextSize];
    c.setEcho(true);
    getPrefText(PrefText::UseAnsiPrompt, text);
    bool yes = false;
    // A hang-up here must not count as an answer: the account would be saved for nobody.
    if (!writePrompt(c, text) || !readYesNo(c, &yes)) return false;
    if (yes) rec.userFlags |= AnsiTerminalFlag;
    return c.writeString("\r\n") && c.writeString("\r\n");
}

// Reads a file a block at a time but hands it out byte by byte.
struct ByteReader {
    FileHandle file;
    char block[512];
    uint64_t remaining;
    uint32_t pos = 0, count = 0;

    bool next(char* b) {
        if (pos == count) {
            if (remaining == 0) return false;
            uint32_t n = remaining < sizeof block ? uint32_t(remaining) : uint32_t(sizeof block);
            if (!readExactly(file, block, n)) return false;
            remaining -= n;
            pos = 0;
            count = n;
        }
        *b = block[pos++];
        return true;
    }
};

} // namespace

void maskControlChars(char* text) {
    for (; *text; ++text) {
        unsigned char b = static_cast<unsigned char>(*text);
        if (b < 0x20 || b > 0x7E) *text = '*';
    }
}

bool askYesNo(Connection& c) {
    bool yes = false;
    return readYesNo(c, &yes) && yes;
}

bool showRules(Connection& c, bool ansi) {
    c.setEcho(false);
    FileHandle file = ansi ? openForRead(RulesAnsiFileName) : InvalidFile;
    if (file == InvalidFile) file = openForRead(RulesTextFileName);
    if (file == InvalidFile) return true; // no rules to show
    ByteReader reader{file, {}, 0};
    if (!fileSize(file, reader.remaining)) reader.remaining = 0;
    bool result = true;
    bool atEnd = false;
    bool afterCr = false;
    // A lone LF (as Linux editors end lines) goes out as CR LF, hence room for two bytes each.
    char page[2 * RulesPageBytes + 1];
    do {
        unsigned n = 0, read = 0, lines = 0;
        while (read < RulesPageBytes && lines < RulesPageLines) {
            char b;
            if (!reader.next(&b)) {
                atEnd = true;
                break;
            }
            ++read;
            if (b == '\n' && !afterCr) page[n++] = '\r';
            page[n++] = b;
            afterCr = b == '\r';
            if (b == '\n') ++lines;
        }
        page[n] = 0; // a NUL inside the file ends the page's text early, as designed
        char key;
        if (!c.writeString(page) || !c.writeString("\r\n") || !c.readKey(&key)) result = false;
    } while (!atEnd && result);
    closeFile(file);
    return result;
}

bool createNewAccount(Connection& c, char loginName[256]) {
    UserRecord rec;
    bool created = false, saved = false;
    c.setEcho(true);
    if (askName(c, rec)) {
        created = true;
        std::memcpy(loginName, rec.loginName, sizeof rec.loginName);
        loginName[NameLimit] = 0;
        c.setEcho(false);
        if (askPassword(c, rec) && askRealName(c, rec) && askAnsi(c, rec)) {
            rec.userFlags &= static_cast<uint16_t>(~AccountIncompleteFlag);
            saved = updateUser(rec);
            (void)showRules(c, (rec.userFlags & AnsiTerminalFlag) != 0);
        }
    }
    // While the half-made account cannot be removed its name stays reserved, so that nobody
    // takes it over; it carries AccountIncompleteFlag and goes at the next start.
    const bool removed = !created || saved || deleteUser(rec.loginName);
    if (created && removed) releaseUserReservation(rec.loginName);
    return saved;
}
