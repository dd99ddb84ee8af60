// How a module keeps a list of names that the sysop sees (accounts, plug-ins) in step with its
// data: the sysop layer registers a sink, and the module calls it after each addition and
// removal, from whatever thread made the change.
#pragma once

#include <cstdint>

struct ListSink {
    void (*add)(const char* name, uint32_t id);
    void (*remove)(const char* name);
};
