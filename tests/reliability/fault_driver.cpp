// The data operations of the server and its plug-ins, one per run, for the storage fault
// tests: "setup" writes a known state, an operation name changes it once, and "dump" loads every
// file the way the server does at start and prints what it found in a stable form (no times).
// Exit status: 0 done, 1 the operation reported failure, 2 a file could not be used.
#include "plugins/jotbox/jotbox.h"
#include "plugins/pagepeek/pagepeek.h"
#include "plugins/ttypick/ttypick.h"
#include "server/areas/area_tree.h"
#include "server/base/file_helpers.h"
#include "server/base/record_codec.h"
#include "server/log/event_log.h"
#include "server/plugins/plugin_file.h"
#include "server/preferences/preferences.h"
#include "server/users/user_db.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

namespace {

std::string slurp(const char* name, bool& present) {
    std::ifstream in(name, std::ios::binary);
    present = bool(in);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// Printable form of arbitrary bytes; the log's time stamps are replaced by "T".
std::string escaped(const std::string& bytes, bool dropStamps) {
    std::string out;
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (dropStamps && bytes.compare(i, 4, "===[") == 0) {
            size_t end = bytes.find("]===", i);
            if (end != std::string::npos) {
                out += "===[T]===";
                i = end + 3;
                continue;
            }
        }
        unsigned char c = static_cast<unsigned char>(bytes[i]);
        char hex[8];
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out += static_cast<char>(c);
        } else {
            std::snprintf(hex, sizeof hex, "\\%02x", c);
            out += hex;
        }
    }
    return out;
}

bool dumpUsers() {
    bool present = false;
    std::string file = slurp("bbsusers.dat", present);
    if (!present) return std::printf("users: none\n") >= 0;
    if (file.size() < UserFileHeaderSize) return std::printf("users: header only\n") >= 0;
    uint32_t nextId = loadLe32(reinterpret_cast<const uint8_t*>(file.data()) + 4);
    size_t count = (file.size() - UserFileHeaderSize) / UserRecordSize;
    bool ok = true;
    for (size_t i = 0; i < count; ++i) {
        UserRecord rec;
        decodeUserRecord(reinterpret_cast<const uint8_t*>(file.data()) + UserFileHeaderSize +
                             i * UserRecordSize,
                         rec);
        if (rec.id == FreeUserId) {
            std::printf("user: free slot\n");
            continue;
        }
        UserRecord found;
        // The server must find every account stored, and ids stay below the counter.
        if (!findUser(found, rec.loginName) || found.id != rec.id || rec.id >= nextId) ok = false;
        std::printf("user %u %s %s %s %u %u\n", rec.id, rec.loginName, rec.password, rec.realName,
                    rec.accessLevel, rec.loginCount);
    }
    return ok;
}

bool dumpAreas() {
    if (!loadAreaTree()) return false;
    AreaRecord a;
    for (uint32_t id = 0; id < MaxAreas; ++id) {
        if (!getArea(id, a)) continue;
        std::printf("area %u parent %u %s access %u-%u children", id, a.parentId, a.title,
                    a.minAccess, a.maxAccess);
        for (uint32_t c = 0; c < a.childCount; ++c)
            std::printf(" %u", a.childIds[c]);
        std::printf("\n");
    }
    freeAreaTree();
    return true;
}

void printPlugin(const PluginRecord& rec, void*) {
    std::printf("plugin %u %u %s %s\n", rec.id, rec.sessionCapable, rec.path, rec.name);
}

bool dump() {
    bool ok = true;
    bool hadPrefs = fileExists(PreferencesFileName);
    if (loadPreferences() != hadPrefs) ok = false;
    uint8_t image[PreferencesSize];
    copyPreferences(image);
    uint32_t hash = 2166136261u;
    for (uint8_t b : image)
        hash = (hash ^ b) * 16777619u;
    std::printf("prefs %s %08x maxUsers %u\n", hadPrefs ? "file" : "defaults", hash, getMaxUsers());
    ok = dumpUsers() && ok;
    ok = dumpAreas() && ok;
    if (fileExists(PluginFileName) && !readPluginRecords(printPlugin, nullptr)) ok = false;
    for (const char* name : {"bbslog.txt", "jotbox.txt"}) {
        bool present = false;
        std::string text = slurp(name, present);
        std::printf("%s %s\n", name, present ? escaped(text, true).c_str() : "none");
    }
    jotbox::Settings j = jotbox::loadSettingsFile();
    std::printf("jotbox.dat %s|%s\n", j.instructions, j.successMessage);
    ttypick::Settings t = ttypick::loadSettingsFile();
    std::printf("ttypick.dat");
    for (auto& text : t.texts)
        std::printf(" %s|", text);
    std::printf(" %d %d\n", t.textKey, t.ansiKey);
    std::printf("pagepeek.dat %s\n", pagepeek::loadSettingsFile().text);
    return ok;
}

bool addPlugin(const char* path, const char* name) {
    PluginRecord rec;
    rec.sessionCapable = 1;
    std::snprintf(rec.path, sizeof rec.path, "%s", path);
    std::snprintf(rec.name, sizeof rec.name, "%s", name);
    return appendPluginRecord(rec);
}

bool changeUser(const char* name, const char* password) {
    UserRecord rec;
    if (!findUser(rec, name)) return false;
    std::snprintf(rec.password, sizeof rec.password, "%s", password);
    ++rec.loginCount;
    return updateUser(rec);
}

bool addArea(uint32_t parent, const char* title) {
    AreaRecord a;
    if (!addSubArea(parent, a)) return false;
    std::snprintf(a.title, sizeof a.title, "%s", title);
    return putArea(a.id, a);
}

bool logLine(const char* text) {
    char line[256];
    std::snprintf(line, sizeof line, "%s\r\n", text);
    logEvent(line);
    return true;
}

bool setup() {
    UserRecord rec;
    bool ok = setParanoidLogging(true) && setMaxUsers(5) &&
              setPrefText(PrefText::LoginPrompt, "Who are you? ");
    std::ofstream("badnames.txt", std::ios::binary) << "root\r\nsysop\r\n";
    ok = ok && addUser(rec, "alice") && addUser(rec, "bob") && addUser(rec, "carol");
    ok = ok && changeUser("alice", "secret-a") && changeUser("bob", "secret-b");
    ok = ok && loadAreaTree() && addArea(0, "Files") && addArea(0, "Games") && addArea(1, "Old");
    ok = ok && addPlugin("jotbox.so", "Memos") && addPlugin("/opt/x/ttypick.so", "Terminal");
    ok = ok && logLine("FIRST") && logLine("SECOND");
    ok = ok && jotbox::appendMemo("alice", "hello sysop");
    jotbox::Settings j = jotbox::defaultSettings();
    jotbox::setText(j.instructions, "Leave a note.");
    ok = ok && jotbox::saveSettingsFile(j);
    ttypick::Settings t = ttypick::defaultSettings();
    ttypick::setText(t.texts[0], "You use");
    ok = ok && ttypick::saveSettingsFile(t);
    ok = ok && pagepeek::saveSettingsFile(pagepeek::makeMoreText("MORE?"));
    return ok;
}

bool run(const std::string& op) {
    if (op == "prefs") return setPrefText(PrefText::LoginPrompt, "Name: ");
    if (op == "user-add") {
        UserRecord rec;
        return addUser(rec, "dave");
    }
    if (op == "user-update") return changeUser("bob", "changed-b");
    if (op == "user-delete") return deleteUser("alice");
    if (op == "area-add") {
        AreaRecord a;
        return loadAreaTree() && addSubArea(2, a);
    }
    if (op == "area-put") {
        AreaRecord a;
        if (!loadAreaTree() || !getArea(1, a)) return false;
        std::snprintf(a.title, sizeof a.title, "Downloads");
        a.minAccess = 10;
        return putArea(1, a);
    }
    if (op == "area-delete") return loadAreaTree() && deleteArea(3);
    if (op == "area-unlink") { // the first of the two saves of area-delete
        AreaRecord a;
        if (!loadAreaTree() || !getArea(1, a)) return false;
        a.childCount = 0;
        return putArea(1, a);
    }
    if (op == "plugin-add") return addPlugin("pagepeek.so", "Viewer");
    if (op == "plugin-remove") return markPluginRecordRemoved(0);
    if (op == "log") return logLine("THIRD");
    if (op == "edit-log") { // the sysop's note at the end, and no 0x1A behind it
        bool present = false;
        std::string text = slurp("bbslog.txt", present);
        if (!present || text.empty() || text.back() != 0x1A) return false;
        text.back() = '\r';
        text += "\nChecked by the sysop.";
        std::ofstream("bbslog.txt", std::ios::binary | std::ios::trunc) << text;
        return true;
    }
    if (op == "memo") return jotbox::appendMemo("bob", "second note");
    if (op == "jotbox-settings") {
        jotbox::Settings j = jotbox::loadSettingsFile();
        jotbox::setText(j.successMessage, "Noted.");
        return jotbox::saveSettingsFile(j);
    }
    if (op == "ttypick-settings") {
        ttypick::Settings t = ttypick::loadSettingsFile();
        ttypick::setText(t.texts[6], "Which one?");
        t.textKey = 'P';
        return ttypick::saveSettingsFile(t);
    }
    if (op == "pagepeek-settings")
        return pagepeek::saveSettingsFile(pagepeek::makeMoreText("More"));
    std::fprintf(stderr, "unknown operation %s\n", op.c_str());
    return false;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: ovfaultdriver setup|dump|OPERATION\n");
        return 2;
    }
    std::string op = argv[1];
    (void)loadPreferences();
    if (op == "dump") return dump() ? 0 : 2;
    bool ok = op == "setup" ? setup() : run(op);
    std::fflush(stdout);
    return ok ? 0 : 1;
}
