#include "server/control/resource_limits.h"

#include "server/connections/ssh_settings.h"

#include <sys/resource.h>

#include <cstdlib>

void raiseOpenFileLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= limit.rlim_max) return;
    limit.rlim_cur = limit.rlim_max;
    (void)setrlimit(RLIMIT_NOFILE, &limit);
}

uint32_t descriptorsPerCaller() {
    auto on = [](const char* name) {
        const char* value = std::getenv(name);
        return value && *value;
    };
    if (on("OVHOST_WEB")) return WebCallerDescriptors;
    if (on(SshSettingName)) return SshCallerDescriptors;
    return TelnetCallerDescriptors;
}

std::string descriptorShortage(uint32_t maxUsers, uint32_t perCaller) {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return {};
    const uint64_t open = limit.rlim_cur;
    const uint64_t each = perCaller ? perCaller : 1;
    if (open >= uint64_t(maxUsers) * each + OwnDescriptors) return {};
    const uint64_t servable = open > OwnDescriptors ? (open - OwnDescriptors) / each : 0;
    std::string line = "Only " + std::to_string(servable) + " of the " + std::to_string(maxUsers) +
                       " callers allowed can be served: " + std::to_string(open) +
                       " open files per process";
    if (each > 1) line += ", up to " + std::to_string(each) + " per caller";
    return line + ". Raise LimitNOFILE (or ulimit -n).";
}
