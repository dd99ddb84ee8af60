// Arbitrary bodies of the console's POST /input and arbitrary "host:port" texts.
#include "fuzz_common.h"
#include "platform/console/console_internal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 64 * 1024) return 0;
    std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<ConsoleInput> events;
    if (parseConsoleInput(text, events)) {
        fuzz::check(!events.empty() && events.size() <= kMaxEventsPerRequest);
        for (const auto& e : events)
            fuzz::check(!e.type.empty());
    }
    std::string host;
    int port = -1;
    if (parseHostPort(text, host, port)) fuzz::check(!host.empty() && port >= 0 && port <= 65535);
    (void)isLoopbackHost(text);
    fuzz::check(text.empty() || tokenEquals(text, text));
    fuzz::check(!tokenEquals(text, text + "x"));
    return 0;
}
