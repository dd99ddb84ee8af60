// ovhost-firstrun: prepares a working directory for a first look at the server, for
// scripts/run.sh and the package. Makes only what is missing: osvbpref.dat (the defaults with the
// given Telnet port), rules.txt, and on a new board the standard plug-ins found beside us
// installed and attached to a small area tree (a memo box and the terminal switches in the
// lobby, a bulletin in the file viewer, with bsdgames a game room behind the door plug-in).
// Prints the Telnet port in use.
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "server/areas/area_tree.h"
#include "server/plugins/plugin_file.h"
#include "server/plugins/plugin_registry.h"
#include "server/preferences/preferences.h"

namespace {

bool exists(const char* name) {
    struct stat st;
    return stat(name, &st) == 0;
}

bool writeText(const char* name, const char* text) {
    FILE* f = std::fopen(name, "wb");
    if (!f) return false;
    bool ok = std::fputs(text, f) >= 0;
    return std::fclose(f) == 0 && ok;
}

bool writeDescription(uint32_t id, const char* text) {
    char name[64];
    std::snprintf(name, sizeof name, "area/%08x.txt", id);
    return writeText(name, text);
}

// The plug-ins beside us (scripts/run.sh copies them, the package links them), installed in
// this order; the ids they got, or RemovedPluginId for one that is not there.
enum StandardPlugin { Memo, TerminalType, Viewer, Door, StandardPluginCount };
const char* const standardPluginFiles[StandardPluginCount] = {"jotbox.so", "ttypick.so",
                                                              "pagepeek.so", "doorway.so"};

struct FoundId {
    const char* path;
    uint32_t id;
};

bool installStandardPlugins(uint32_t ids[StandardPluginCount], bool withDoor) {
    char here[PATH_MAX];
    if (!getcwd(here, sizeof here)) return false;
    bool ok = true;
    for (int i = 0; i < StandardPluginCount; ++i) {
        ids[i] = RemovedPluginId;
        if (!exists(standardPluginFiles[i]) || (i == Door && !withDoor)) continue;
        const std::string path = std::string(here) + "/" + standardPluginFiles[i];
        UINT counter = FirstPluginMenuCommandId;
        if (!installPlugin(path.c_str(), &counter)) {
            std::fprintf(stderr, "ovhost-firstrun: could not install %s\n", standardPluginFiles[i]);
            ok = false;
            continue;
        }
        unloadAllPlugins();
        FoundId found{standardPluginFiles[i], RemovedPluginId};
        (void)readPluginRecords(
            [](const PluginRecord& rec, void* arg) {
                auto* f = static_cast<FoundId*>(arg);
                if (rec.id != RemovedPluginId && std::strcmp(rec.path, f->path) == 0)
                    f->id = rec.id;
            },
            &found);
        ids[i] = found.id;
    }
    return ok;
}

// An extension of an installed plug-in; nothing for one that is not there.
void addExtension(AreaRecord& area, uint32_t pluginId, const char* name, const char* args) {
    if (pluginId == RemovedPluginId || area.extensionCount >= MaxAreaExtensions) return;
    const int i = area.extensionCount++;
    area.extensionPluginIds[i] = pluginId;
    std::snprintf(area.extensionNames[i], sizeof area.extensionNames[i], "%s", name);
    std::snprintf(area.extensionArgs[i], sizeof area.extensionArgs[i], "%s", args);
}

bool addArea(AreaRecord& rec, const char* title, uint16_t minAccess) {
    if (!addSubArea(0, rec)) return false;
    std::snprintf(rec.title, sizeof rec.title, "%s", title);
    rec.minAccess = minAccess;
    return true;
}

// A game room whose extensions open the games that the door plug-in lists by itself.
bool addGameRoom(uint32_t doorId) {
    static const char* const games[][2] = {{"Hangman", "/usr/games/hangman"},
                                           {"Robots", "/usr/games/robots"}};
    AreaRecord room;
    if (!addArea(room, "Game room", 0)) return false;
    for (const auto& game : games)
        if (access(game[1], X_OK) == 0) addExtension(room, doorId, game[0], game[0]);
    return putArea(room.id, room) &&
           writeDescription(room.id, "Door games: pick one by its letter. Each runs for "
                                     "up to 30 minutes.\r\n");
}

bool makeSampleAreas(const uint32_t ids[StandardPluginCount]) {
    if (!loadAreaTree()) return false;
    AreaRecord root;
    bool ok = getArea(0, root);
    if (ok) {
        std::snprintf(root.title, sizeof root.title, "%s", "Main hall");
        addExtension(root, ids[Memo], "Memo to the sysop", "");
        addExtension(root, ids[TerminalType], "Terminal type (plain or ANSI)", "");
        addExtension(root, ids[TerminalType], "Character set (UTF-8 or DOS)", "charset");
        ok = putArea(0, root) &&
             writeDescription(0, "Welcome to the board. Pick a room by its number, or an "
                                 "extension by its letter: leave the sysop a memo, or tell the "
                                 "board what your terminal shows.\r\n");
    }
    AreaRecord notices;
    ok = ok && addArea(notices, "Notice board", 0);
    if (ok) {
        addExtension(notices, ids[Viewer], "Read the bulletin", "bulletin.txt");
        ok = putArea(notices.id, notices) &&
             writeDescription(notices.id, notices.extensionCount
                                              ? "News from the sysop: read the bulletin by "
                                                "its letter.\r\n"
                                              : "News from the sysop. Nothing here yet.\r\n");
    }
    AreaRecord back;
    ok = ok && addArea(back, "Back room", 10) && putArea(back.id, back) &&
         writeDescription(back.id, "Only for callers with access level 10 or more.\r\n");
    if (ok && ids[Door] != RemovedPluginId) ok = addGameRoom(ids[Door]);
    freeAreaTree();
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    long port = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 23;
    if (port <= 0 || port > 65535) {
        std::fprintf(stderr, "usage: ovhost-firstrun [telnet-port]\n");
        return 2;
    }
    bool ok = true;
    if (!exists(PreferencesFileName)) {
        (void)loadPreferences(); // the defaults
        ok = setTelnetPort(static_cast<uint16_t>(port)) && ok;
    } else {
        (void)loadPreferences();
    }
    // Only a new board gets plug-ins and areas: what the sysop removed later stays removed.
    if (!exists(AreaFile)) {
        uint32_t ids[StandardPluginCount];
        for (uint32_t& id : ids)
            id = RemovedPluginId;
        if (!exists(PluginFileName))
            ok = installStandardPlugins(ids, access("/usr/games/hangman", X_OK) == 0) && ok;
        ok = makeSampleAreas(ids) && ok;
        if (ids[Viewer] != RemovedPluginId && !exists("bulletin.txt"))
            ok = writeText("bulletin.txt",
                           "Welcome to the board!\r\n\r\nThe sysop reads every memo left in "
                           "the Main hall.\r\nBe kind to the other callers.\r\n") &&
                 ok;
    }
    if (!exists("rules.txt"))
        ok = writeText("rules.txt",
                       "Be kind to the other callers.\r\nNo advertising.\r\nThe sysop's word "
                       "is final.\r\n") &&
             ok;
    std::printf("Telnet port: %u%s\n", unsigned(getTelnetPort()),
                getUseTcp() ? "" : " (Telnet is switched off)");
    if (!ok) std::fprintf(stderr, "ovhost-firstrun: could not prepare everything\n");
    return ok ? 0 : 1;
}
