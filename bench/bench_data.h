// Data for the benchmarks, written straight through the record codecs so that large files are
// made in one pass (adding 100 000 accounts one by one would rescan the file each time).
#pragma once

#include <cstdint>
#include <string>

// Writes "bbsusers.dat" with `count` accounts named by `nameOf(i)`, each with `password` and
// the ANSI flag from `ansiOf(i)`. The last account written is the one scanned longest for.
bool writeUserFile(uint32_t count, std::string (*nameOf)(uint32_t), bool (*ansiOf)(uint32_t),
                   const char* password);
// Writes "area/bbs_area.dat" with a tree of `levels` below the root, `fanOut` children each
// (at most 9), and a short description file per area when `descriptions`. Returns the number of
// areas, 0 on failure.
uint32_t writeAreaTree(uint32_t levels, uint32_t fanOut, bool descriptions);
// Writes "area/bbs_area.dat" with `count` areas in a nine-way tree, without descriptions.
bool writeFlatAreas(uint32_t count);
