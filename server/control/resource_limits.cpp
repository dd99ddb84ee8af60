#include "server/control/resource_limits.h"

#include <sys/resource.h>

void raiseOpenFileLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= limit.rlim_max) return;
    limit.rlim_cur = limit.rlim_max;
    (void)setrlimit(RLIMIT_NOFILE, &limit);
}

std::string descriptorShortage(uint32_t maxUsers) {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return {};
    const uint64_t open = limit.rlim_cur;
    if (open >= uint64_t(maxUsers) + OwnDescriptors) return {};
    const uint64_t servable = open > OwnDescriptors ? open - OwnDescriptors : 0;
    return "Only " + std::to_string(servable) + " of the " + std::to_string(maxUsers) +
           " callers allowed can be served: " + std::to_string(open) +
           " open files per process. Raise LimitNOFILE (or ulimit -n).";
}
