#include "server/plugins/plugin_registry.h"

#include "ovui.h"
#include "server/plugins/plugin_file.h"
#include "server/plugins/plugin_host.h"
#include "server/plugins/plugin_session.h"
#include "server/preferences/preferences.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <dlfcn.h>
#include <mutex>
#include <new>
#include <vector>

UINT nextMenuCommandId = FirstPluginMenuCommandId;

namespace {

std::recursive_mutex pluginLock;
std::condition_variable_any sessionsChanged; // signalled whenever a session context unlinks
LoadedPlugin* loadedPlugins = nullptr;       // newest first
ListSink listSink{};
std::atomic<HWND> mainWindow{};
std::atomic<bool> telephonyReady{false};
std::atomic<bool> winsockReady{false};

// How long server stop waits for callers still inside a plug-in before giving up on it.
constexpr auto IdleWaitBound = std::chrono::seconds(5);

void listAddPlugin(const char* name, uint32_t id) {
    ListSink sink;
    {
        std::lock_guard lock(pluginLock);
        sink = listSink;
    }
    if (sink.add) sink.add(name, id);
}

// Called with the plug-in lock held.
void listRemovePlugin(const char* name) {
    if (listSink.remove) listSink.remove(name);
}

template <typename T> bool lookUp(void* library, const char* name, T& out) {
    out = reinterpret_cast<T>(dlsym(library, name));
    return out != nullptr;
}

// Loads the library and finds all seven exports, or leaves nothing loaded.
bool bindLibrary(const char* path, PluginEntryPoints& ep) {
    ep = PluginEntryPoints{};
    if (!path || !*path) return false;
    // Without a '/' the loader would search the system paths instead of the working directory.
    char local[260];
    if (!std::strchr(path, '/')) {
        std::snprintf(local, sizeof local, "./%s", path);
        path = local;
    }
    void* library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (!library) return false;
    ep.library = library;
    bool ok = lookUp(library, "BBSRegister", ep.bbsRegister) &&
              lookUp(library, "BBSUnregister", ep.bbsUnregister) &&
              lookUp(library, "BBSStartup", ep.bbsStartup) &&
              lookUp(library, "BBSShutdown", ep.bbsShutdown) &&
              lookUp(library, "BBSWndProc", ep.bbsWndProc) &&
              lookUp(library, "BBSSession", ep.bbsSession) &&
              lookUp(library, "BBSConfigure", ep.bbsConfigure);
    if (!ok) {
        dlclose(library);
        ep = PluginEntryPoints{};
    }
    return ok;
}

void unbindLibrary(PluginEntryPoints& ep) {
    if (ep.library) dlclose(ep.library);
    ep = PluginEntryPoints{};
}

LoadedPlugin* findLoaded(uint32_t id) {
    for (LoadedPlugin* p = loadedPlugins; p; p = p->next)
        if (p->record.id == id) return p;
    return nullptr;
}

void unlinkLoaded(LoadedPlugin* p) {
    if (p->prev)
        p->prev->next = p->next;
    else
        loadedPlugins = p->next;
    if (p->next) p->next->prev = p->prev;
    p->prev = p->next = nullptr;
    listRemovePlugin(p->record.name);
}

// Runs a library's BBSRegister or BBSUnregister in a load of its own.
bool callUnregister(const char* path) {
    PluginEntryPoints ep;
    if (!bindLibrary(path, ep)) return false;
    bool ok = ep.bbsUnregister(mainWindow.load()) != 0;
    unbindLibrary(ep);
    return ok;
}

bool registerLibrary(PluginRecord& rec) {
    PluginEntryPoints ep;
    if (!bindLibrary(rec.path, ep)) return false;
    DWORD flag = 0;
    char name[256] = {};
    if (!ep.bbsRegister(mainWindow.load(), name, &flag)) {
        unbindLibrary(ep);
        return false;
    }
    name[255] = '\0';
    std::strcpy(rec.name, name);
    rec.sessionCapable = flag != 0 ? 1 : 0;
    bool ok = appendPluginRecord(rec);
    if (!ok) ep.bbsUnregister(mainWindow.load());
    unbindLibrary(ep);
    return ok;
}

} // namespace

void setPluginHostWindow(HWND window) {
    mainWindow = window;
}

void setPluginLinesReady(bool telephony, bool telnet) {
    telephonyReady = telephony;
    winsockReady = telnet;
}

void setPluginListSink(const ListSink* sink) {
    std::lock_guard lock(pluginLock);
    listSink = sink ? *sink : ListSink{};
}

void loadAllPlugins(UINT* counter) {
    std::vector<PluginRecord> records;
    {
        std::lock_guard lock(pluginLock);
        if (!readPluginRecords(
                [](const PluginRecord& rec, void* arg) {
                    if (rec.id != RemovedPluginId)
                        static_cast<std::vector<PluginRecord>*>(arg)->push_back(rec);
                },
                &records))
            return;
    }
    for (const PluginRecord& rec : records)
        (void)startPlugin(rec, counter); // one that fails is tried again at the next start
}

bool startPlugin(const PluginRecord& rec, UINT* counter) {
    PluginEntryPoints ep;
    if (!bindLibrary(rec.path, ep)) return false;
    HWND window = mainWindow.load();
    BOOL modemsActive = getUseTapi() && telephonyReady.load() ? TRUE : FALSE;
    BOOL telnetActive = getUseTcp() && winsockReady.load() ? TRUE : FALSE;
    HostServicesEx services = makeHostServices();
    if (!ep.bbsStartup(window, ovGetMenu(window), modemsActive, telnetActive,
                       counter ? counter : &nextMenuCommandId, &services.base)) {
        unbindLibrary(ep);
        return false;
    }
    auto* p = new (std::nothrow) LoadedPlugin;
    if (!p) {
        ep.bbsShutdown(window);
        unbindLibrary(ep);
        return false;
    }
    p->entry = ep;
    p->record = rec;
    {
        std::lock_guard lock(pluginLock);
        p->next = loadedPlugins;
        if (loadedPlugins) loadedPlugins->prev = p;
        loadedPlugins = p;
    }
    listAddPlugin(rec.name, rec.id);
    return true;
}

bool installPlugin(const char* fullPath, UINT* counter) {
    PluginRecord rec;
    if (!makeStoredPluginPath(fullPath, rec.path)) return false;
    std::lock_guard lock(pluginLock);
    if (!registerLibrary(rec)) return false;
    if (startPlugin(rec, counter)) return true;
    (void)callUnregister(rec.path); // the record stays; the id is not given out again
    return false;
}

bool uninstallPlugin(uint32_t id) {
    std::lock_guard lock(pluginLock);
    LoadedPlugin* p = findLoaded(id);
    if (!p) return false;
    char path[256];
    std::strcpy(path, p->record.path);
    if (!unloadPlugin(id, false)) return false;
    if (!callUnregister(path)) return false; // unloaded for this run; back at the next start
    return markPluginRecordRemoved(id);
}

bool unloadPlugin(uint32_t id, bool force) {
    std::lock_guard lock(pluginLock);
    LoadedPlugin* p = findLoaded(id);
    if (!p) return false;
    if (!force && p->sessions) return false;
    if (!p->entry.bbsShutdown(mainWindow.load())) return false;
    unlinkLoaded(p);
    if (p->sessions) {
        // A caller is still inside BBSSession: the library stays mapped and the last session
        // to leave releases it.
        p->retired = true;
        return true;
    }
    unbindLibrary(p->entry);
    delete p;
    return true;
}

void unloadAllPlugins() {
    std::unique_lock lock(pluginLock);
    while (LoadedPlugin* p = loadedPlugins) {
        // The connections were closed just before, so callers inside are on their way out.
        sessionsChanged.wait_for(lock, IdleWaitBound,
                                 [p] { return p->sessions == nullptr || loadedPlugins != p; });
        if (loadedPlugins != p) continue;
        bool mayUnload = p->entry.bbsShutdown(mainWindow.load()) != 0;
        unlinkLoaded(p);
        if (!mayUnload) p->entry.library = nullptr; // never closed
        if (p->sessions) {
            p->retired = true;
        } else {
            // A plug-in that refused to be unloaded keeps its library mapped; the process ends
            // soon anyway.
            unbindLibrary(p->entry);
            delete p;
        }
    }
}

bool offerToPlugins(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    std::lock_guard lock(pluginLock);
    for (LoadedPlugin* p = loadedPlugins; p; p = p->next)
        if (p->entry.bbsWndProc(window, message, wParam, lParam)) return true;
    return false;
}

bool configurePlugin(uint32_t id) {
    BBSConfigureProc configure = nullptr;
    {
        std::lock_guard lock(pluginLock);
        if (LoadedPlugin* p = findLoaded(id)) configure = p->entry.bbsConfigure;
    }
    // Modal and without the lock: sessions must stay able to start meanwhile.
    return configure && configure(mainWindow.load()) != 0;
}

bool getPluginInfo(uint32_t id, bool& sessionCapable, char name[256]) {
    std::lock_guard lock(pluginLock);
    LoadedPlugin* p = findLoaded(id);
    if (!p) return false;
    sessionCapable = (p->record.sessionCapable & 1) != 0;
    std::strcpy(name, p->record.name);
    return true;
}

bool attachSession(uint32_t pluginId, PluginSessionContext& ctx, BBSSessionProc& session) {
    std::lock_guard lock(pluginLock);
    LoadedPlugin* p = findLoaded(pluginId);
    if (!p) return false;
    ctx.plugin = p;
    ctx.prev = nullptr;
    ctx.next = p->sessions;
    if (p->sessions) p->sessions->prev = &ctx;
    p->sessions = &ctx;
    session = p->entry.bbsSession;
    return true;
}

void detachSession(PluginSessionContext& ctx) {
    std::lock_guard lock(pluginLock);
    LoadedPlugin* p = ctx.plugin;
    if (!p) return;
    if (ctx.prev)
        ctx.prev->next = ctx.next;
    else
        p->sessions = ctx.next;
    if (ctx.next) ctx.next->prev = ctx.prev;
    ctx.prev = ctx.next = nullptr;
    ctx.plugin = nullptr;
    if (p->retired && !p->sessions) {
        unbindLibrary(p->entry);
        delete p;
    }
    sessionsChanged.notify_all();
}
