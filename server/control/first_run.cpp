// ovhost-firstrun: prepares a working directory for a first look at the server, for
// scripts/run.sh. Makes only what is missing: osvbpref.dat (the defaults with the given Telnet
// port), a small area tree with descriptions, and rules.txt. Prints the Telnet port in use.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>

#include "server/areas/area_tree.h"
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
    if (!exists(AreaFile)) ok = makeSampleAreas() && ok;
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
