// The threads that serve one caller each, whatever the line. Plug-ins run on them too, so their
// stack is chosen here on purpose instead of taking the system's default (on Linux the stack
// rlimit, usually 8 MiB of address space per thread). They are counted, so that the server can
// let them finish (log DISCONNECT, remove a half-made account) before it exits.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>

// 1 MiB: what a thread got by default where the plug-in contract comes from, so plug-ins keep
// the headroom they were written for, while 10 000 callers reserve 10 GiB of address space
// rather than 80. Only the pages a thread touches take memory.
constexpr size_t CallerThreadStackBytes = 1024 * 1024;

// Runs `body` on a new detached thread with CallerThreadStackBytes of stack. False when the
// system has no thread to give; the caller then lets go of the line.
[[nodiscard]] bool startCallerThread(std::function<void()> body);
// Threads started by startCallerThread whose body has not returned yet.
uint32_t runningCallerThreads();
// Waits until no caller thread runs, at most `bound`; false when some still do.
[[nodiscard]] bool waitForCallerThreads(std::chrono::milliseconds bound);
