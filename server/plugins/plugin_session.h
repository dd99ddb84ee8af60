// Shared between the extension runner and the registry: the context behind a session handle
// and the two moments a session thread takes the plug-in lock.
#pragma once

#include "server/plugins/plugin_registry.h"
#include "server/users/user_db.h"

class Connection;

struct PluginSessionContext {
    Connection* connection = nullptr;
    UserRecord user;
    char args[64] = {};
    LoadedPlugin* plugin = nullptr; // owner while linked
    PluginSessionContext* prev = nullptr;
    PluginSessionContext* next = nullptr;
};

// Links ctx into the loaded plug-in's active sessions; false when no plug-in has that id.
[[nodiscard]] bool attachSession(uint32_t pluginId, PluginSessionContext& ctx,
                                 BBSSessionProc& session);
// Unlinks ctx again and wakes a server stop that waits for the plug-in to become idle.
void detachSession(PluginSessionContext& ctx);
