// The process's limits that decide how many callers it can really serve: one descriptor each.
#pragma once

#include <cstdint>
#include <string>

// Descriptors the server keeps for itself beside one per caller: standard streams, the
// listener and its spare, the console and its connections, the single-instance socket, modem
// lines, and the files that sessions have open during an operation.
constexpr uint64_t OwnDescriptors = 64;

// Raises the soft limit on open files to the hard limit: a service gets 1024 by default, which
// would cap the board at about a thousand callers whatever maxUsers says.
void raiseOpenFileLimit();
// Empty when `maxUsers` callers fit within the open-file limit; otherwise a line (under 256
// characters) saying how many can be served and what to raise.
std::string descriptorShortage(uint32_t maxUsers);
