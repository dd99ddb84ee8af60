#include "plugin_test_support.h"

#include "server/plugins/plugin_registry.h"
#include "server/preferences/preferences.h"

#include <algorithm>
#include <dlfcn.h>

std::vector<std::pair<std::string, uint32_t>> PluginTest::listed;

TestPlugin::TestPlugin(const std::string& file) : path_(ovtest::binDir() + "/" + file) {
    handle_ = dlopen(path_.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle_) return;
    auto reset = reinterpret_cast<OvtestResetProc>(dlsym(handle_, "ovtestReset"));
    auto get = reinterpret_cast<OvtestStateProc>(dlsym(handle_, "ovtestState"));
    if (!reset || !get) return;
    reset();
    state_ = get();
}

TestPlugin::~TestPlugin() {
    if (handle_) dlclose(handle_);
}

void PluginTest::SetUp() {
    loadPreferences(); // no file here: the defaults
    listed.clear();
    static const ListSink sink{[](const char* name, uint32_t id) { listed.emplace_back(name, id); },
                               [](const char* name) {
                                   auto it =
                                       std::find_if(listed.begin(), listed.end(),
                                                    [&](const auto& e) { return e.first == name; });
                                   if (it != listed.end()) listed.erase(it);
                               }};
    setPluginListSink(&sink);
}

void PluginTest::TearDown() {
    unloadAllPlugins();
    setPluginListSink(nullptr);
}

std::string pluginFileBytes() {
    return ovtest::readFile(PluginFileName);
}

uint32_t le32At(const std::string& bytes, size_t offset) {
    if (offset + 4 > bytes.size()) return 0xDEADBEEF;
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | static_cast<uint8_t>(bytes[offset + i]);
    return v;
}
