// The process's limits that decide how many callers it can really serve: one descriptor each for
// a Telnet caller, more for SSH and web callers.
#pragma once

#include <cstdint>
#include <string>

// Descriptors the server keeps for itself beside its callers': standard streams, the listeners
// and their spares, the console and its connections, the single-instance socket, modem lines,
// and the files that sessions have open during an operation.
constexpr uint64_t OwnDescriptors = 64;
// What one caller holds: its socket; over SSH also the duplicate libssh works on; on the caller
// page also its event loop's epoll, wake-up and timer descriptors.
constexpr uint32_t TelnetCallerDescriptors = 1;
constexpr uint32_t SshCallerDescriptors = 2;
constexpr uint32_t WebCallerDescriptors = 4;

// Raises the soft limit on open files to the hard limit: a service gets 1024 by default, which
// would cap the board at about a thousand callers whatever maxUsers says.
void raiseOpenFileLimit();
// The most one caller can hold with the listeners switched on in the environment (OVHOST_SSH,
// OVHOST_WEB): any caller may come through the dearest of them.
uint32_t descriptorsPerCaller();
// Empty when `maxUsers` callers of `perCaller` descriptors each fit within the open-file limit;
// otherwise a line (under 256 characters) saying how many can be served and what to raise.
std::string descriptorShortage(uint32_t maxUsers, uint32_t perCaller);
