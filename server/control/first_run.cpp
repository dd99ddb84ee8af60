// ovhost-firstrun: prepares a working directory for a first look at the server, for
// scripts/run.sh. Makes only what is missing: osvbpref.dat (the defaults with the given Telnet
// port), a small area tree with descriptions, and rules.txt; on a new board with doorway.so
// beside it, the door plug-in installed with a game room. Prints the Telnet port in use.
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "server/areas/area_tree.h"
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

bool addArea(const char* title, uint16_t minAccess, const char* description) {
    AreaRecord rec;
    if (!addSubArea(0, rec)) return false;
    std::snprintf(rec.title, sizeof rec.title, "%s", title);
    rec.minAccess = minAccess;
    return putArea(rec.id, rec) && writeDescription(rec.id, description);
}

bool makeSampleAreas() {
    if (!loadAreaTree()) return false;
    AreaRecord root;
    bool ok = getArea(0, root);
    if (ok) {
        std::snprintf(root.title, sizeof root.title, "%s", "Main hall");
        ok = putArea(0, root) &&
             writeDescription(0, "Welcome to the board. Pick a room by its number; extensions "
                                 "that the sysop adds appear as letters.\r\n") &&
             addArea("Notice board", 0,
                     "News from the sysop. Nothing here yet: add an extension such as the "
                     "file viewer to show a bulletin.\r\n") &&
             addArea("Back room", 10, "Only for callers with access level 10 or more.\r\n");
    }
    freeAreaTree();
    return ok;
}

// With the door plug-in beside us (scripts/run.sh copies it) and bsdgames installed: the plug-in
// installed, and a game room whose extensions open the games that it lists by itself.
bool offerSampleDoors() {
    static const char* const games[][2] = {{"Hangman", "/usr/games/hangman"},
                                           {"Robots", "/usr/games/robots"}};
    char here[PATH_MAX];
    if (!getcwd(here, sizeof here)) return false;
    const std::string plugin = std::string(here) + "/doorway.so";
    UINT counter = FirstPluginMenuCommandId;
    if (!installPlugin(plugin.c_str(), &counter)) return false;
    unloadAllPlugins();
    if (!loadAreaTree()) return false;
    AreaRecord room;
    bool ok = addSubArea(0, room);
    if (ok) {
        std::snprintf(room.title, sizeof room.title, "%s", "Game room");
        for (const auto& game : games) {
            if (access(game[1], X_OK) != 0) continue;
            const int i = room.extensionCount++;
            room.extensionPluginIds[i] = 0; // the first plug-in of a new plugins.dat
            std::snprintf(room.extensionNames[i], sizeof room.extensionNames[i], "%s", game[0]);
            std::snprintf(room.extensionArgs[i], sizeof room.extensionArgs[i], "%s", game[0]);
        }
        ok = putArea(room.id, room) &&
             writeDescription(room.id, "Door games: pick one by its letter. Each runs for "
                                       "up to 30 minutes.\r\n");
    }
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
    const bool fresh = !exists(AreaFile);
    if (fresh) ok = makeSampleAreas() && ok;
    if (fresh && !exists(PluginFileName) && exists("doorway.so") &&
        access("/usr/games/hangman", X_OK) == 0)
        ok = offerSampleDoors() && ok;
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
