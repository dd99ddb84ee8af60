// A test's own handle on a built test plug-in (to steer it and read what it recorded), and a
// fixture with a fresh working directory, default preferences and a recording plug-in list.
#pragma once

#include "support/test_support.h"
#include "test_plugin_state.h"

#include <string>
#include <utility>
#include <vector>

class TestPlugin {
public:
    // Opens binDir()/file and resets its recorded state.
    explicit TestPlugin(const std::string& file);
    ~TestPlugin();
    TestPlugin(const TestPlugin&) = delete;
    TestPlugin& operator=(const TestPlugin&) = delete;

    bool ok() const { return state_ != nullptr; }
    TestPluginState& state() { return *state_; }
    TestPluginState* operator->() { return state_; }
    const std::string& path() const { return path_; }

private:
    std::string path_;
    void* handle_ = nullptr;
    TestPluginState* state_ = nullptr;
};

class PluginTest : public ovtest::WorkDirTest {
protected:
    void SetUp() override;
    void TearDown() override;

    UINT counter = 41000;
    int sequence = 0;
    // What the registry announced to the main window's list: (name, id), in order.
    static std::vector<std::pair<std::string, uint32_t>> listed;
};

// The raw bytes of plugins.dat in the working directory.
std::string pluginFileBytes();
uint32_t le32At(const std::string& bytes, size_t offset);
