// Changes to the sysop's windows announced from any thread: run at once on the UI thread, else
// posted to it, so they happen there in the order they were announced.
#pragma once

#include <new>
#include <utility>

#include "ovui.h"

// `change` is a callable without arguments; a change that cannot be posted is dropped.
template <class Change> void runOnUiThread(Change change) {
    if (ovIsUiThread()) {
        change();
        return;
    }
    auto* pending = new (std::nothrow) Change(std::move(change));
    if (!pending) return;
    auto run = [](void* arg) {
        auto* p = static_cast<Change*>(arg);
        (*p)();
        delete p;
    };
    if (!ovPostCall(run, pending)) delete pending;
}
