// ovprep: prepares a server working directory for a load run. The settings go through the
// preferences module (the defaults, then the few changed values); the accounts and the area
// tree are written through the record codecs.
//   ovprep DIR --port P --callers N [--accounts M] [--levels 3] [--fan-out 4]
// Accounts: p0..p{N-1} (plain) and a0..a{N-1} (ANSI), password "secret", interleaved and placed
// at the end of the file behind M - 2N filler accounts, so every lookup scans the whole file.
#include "bench/bench_data.h"
#include "server/preferences/preferences.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

uint32_t callers = 1000;
uint32_t filler = 0;

std::string nameOf(uint32_t i) {
    char name[32];
    if (i < filler)
        std::snprintf(name, sizeof name, "filler%u", i);
    else
        std::snprintf(name, sizeof name, "%c%u", (i - filler) % 2 == 0 ? 'p' : 'a',
                      (i - filler) / 2);
    return name;
}

bool ansiOf(uint32_t i) {
    return i >= filler && (i - filler) % 2 == 1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: ovprep DIR --port P --callers N [--accounts M] "
                             "[--levels 3] [--fan-out 4]\n");
        return 2;
    }
    long port = 2323, accounts = 0, levels = 3, fanOut = 4;
    for (int i = 2; i + 1 < argc; i += 2) {
        long v = std::atol(argv[i + 1]);
        if (std::strcmp(argv[i], "--port") == 0)
            port = v;
        else if (std::strcmp(argv[i], "--callers") == 0)
            callers = static_cast<uint32_t>(v);
        else if (std::strcmp(argv[i], "--accounts") == 0)
            accounts = v;
        else if (std::strcmp(argv[i], "--levels") == 0)
            levels = v;
        else if (std::strcmp(argv[i], "--fan-out") == 0)
            fanOut = v;
    }
    uint32_t total = std::max<uint32_t>(2 * callers, static_cast<uint32_t>(accounts));
    filler = total - 2 * callers;
    if (::chdir(argv[1]) != 0) {
        std::perror(argv[1]);
        return 1;
    }
    (void)loadPreferences(); // the defaults when the file is new
    // Every caller of the run gets a seat: the run measures callers, not refusals.
    bool ok = setTelnetPort(static_cast<uint16_t>(port)) && setMaxUsers(callers) &&
              setParanoidLogging(true) && setUseTapi(false);
    ok = writeUserFile(total, nameOf, ansiOf, "secret") && ok;
    uint32_t areas =
        writeAreaTree(static_cast<uint32_t>(levels), static_cast<uint32_t>(fanOut), true);
    std::printf("prepared %s: port %ld, %u accounts (%u callers each plain and ANSI), %u areas\n",
                argv[1], port, total, callers, areas);
    return ok && areas > 0 ? 0 : 1;
}
