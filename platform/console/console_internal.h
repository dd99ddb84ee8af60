// Pieces of the console that do not need the HTTP library, kept apart so tests reach them.
#pragma once

#include "platform/console/console_driver.h"

#include <string>
#include <vector>

// The most events one POST /input may carry.
constexpr size_t kMaxEventsPerRequest = 64;

// Parses a POST /input body: one event object or an array of them. False for malformed JSON, an
// unknown type, a missing or mistyped field, or too many events.
[[nodiscard]] bool parseConsoleInput(const std::string& body, std::vector<ConsoleInput>& events);

// Splits "host:port"; false unless the port is 0..65535 and the host is non-empty.
[[nodiscard]] bool parseHostPort(const std::string& text, std::string& host, int& port);
// Whether host names the loopback interface (127.x.x.x, localhost, ::1).
bool isLoopbackHost(const std::string& host);

// 128 random bits as 32 lower-case hex digits; empty if the system has no randomness to give.
std::string makeAccessToken();
// The token kept in `fileName` (mode 0600), so that open console pages stay valid across a
// restart. A missing file gets a new token; an unreadable or damaged one is reported on standard
// error and replaced. Empty only without randomness; a file that cannot be written leaves the
// token for this run alone.
std::string loadOrMakeTokenFile(const char* fileName);
// Compares in time independent of where the texts differ.
bool tokenEquals(const std::string& a, const std::string& b);

// An embedded asset of web/ by request path ("/" is index.html); nullptr for anything else.
struct ConsoleAsset {
    const char* path;
    const char* contentType;
    const unsigned char* data;
    size_t size;
};
const ConsoleAsset* findConsoleAsset(const std::string& path);
