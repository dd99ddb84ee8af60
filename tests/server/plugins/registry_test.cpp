#include "plugin_test_support.h"

#include "server/plugins/plugin_file.h"
#include "server/plugins/plugin_registry.h"

#include <filesystem>

namespace {

constexpr UINT WmTimer = 0x0113;
constexpr UINT WmCommand = 0x0111;

const std::string Header = std::string("\x0D\x0A\x1A\x00", 4);

std::string recordBytes(uint32_t id, uint32_t capable, const std::string& path,
                        const std::string& name) {
    std::string r(520, '\0');
    for (int i = 0; i < 4; ++i) {
        r[i] = static_cast<char>(id >> (8 * i));
        r[4 + i] = static_cast<char>(capable >> (8 * i));
    }
    r.replace(8, std::min<size_t>(path.size(), 256), path.substr(0, 256));
    r.replace(264, std::min<size_t>(name.size(), 256), name.substr(0, 256));
    return r;
}

std::string headerBytes(uint32_t nextId) {
    std::string h = Header;
    for (int i = 0; i < 4; ++i)
        h.push_back(static_cast<char>(nextId >> (8 * i)));
    return h;
}

std::string textAt(const std::string& bytes, size_t offset) {
    return std::string(bytes.c_str() + offset);
}

bool isLoaded(uint32_t id) {
    bool capable = false;
    char name[256];
    return getPluginInfo(id, capable, name);
}

void copyLibrary(const std::string& from, const std::string& to) {
    std::filesystem::create_directories(std::filesystem::path(to).parent_path());
    std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing);
}

} // namespace

TEST_F(PluginTest, FirstInstallCreatesHeaderAndOneRecord) {
    TestPlugin rec("ovtest_recorder.so");
    ASSERT_TRUE(rec.ok());
    ASSERT_TRUE(installPlugin(rec.path().c_str(), &counter));

    std::string f = pluginFileBytes();
    ASSERT_EQ(f.size(), 8u + 520u);
    EXPECT_EQ(f.substr(0, 4), Header);
    EXPECT_EQ(le32At(f, 4), 1u);
    EXPECT_EQ(le32At(f, 8), 0u);
    EXPECT_EQ(le32At(f, 12), 1u);
    EXPECT_EQ(textAt(f, 16), rec.path()); // outside the working directory: kept whole
    EXPECT_EQ(textAt(f, 272), "Recorder");

    EXPECT_EQ(rec->registerCalls, 1);
    EXPECT_EQ(rec->startupCalls, 1);
    EXPECT_EQ(rec->services.version, 0x10000u);
    EXPECT_EQ(rec->firstCommandId, 41000u);
    EXPECT_EQ(counter, 41002u);
    EXPECT_EQ(rec->menu, nullptr); // no main window in this test
    EXPECT_EQ(rec->telnetActive, FALSE);
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0], std::make_pair(std::string("Recorder"), 0u));

    bool capable = false;
    char name[256];
    ASSERT_TRUE(getPluginInfo(0, capable, name));
    EXPECT_TRUE(capable);
    EXPECT_STREQ(name, "Recorder");
    EXPECT_FALSE(getPluginInfo(1, capable, name));
}

TEST_F(PluginTest, InstallingTwiceGivesTwoRecordsAndTwoStartups) {
    TestPlugin rec("ovtest_recorder.so");
    ASSERT_TRUE(rec.ok());
    rec->sessionCapable = 0;
    ASSERT_TRUE(installPlugin(rec.path().c_str(), &counter));
    ASSERT_TRUE(installPlugin(rec.path().c_str(), &counter));

    std::string f = pluginFileBytes();
    ASSERT_EQ(f.size(), 8u + 2 * 520u);
    EXPECT_EQ(le32At(f, 4), 2u);
    EXPECT_EQ(le32At(f, 8), 0u);
    EXPECT_EQ(le32At(f, 12), 0u); // not session-capable
    EXPECT_EQ(le32At(f, 528), 1u);
    EXPECT_EQ(rec->startupCalls, 2);
    EXPECT_EQ(rec->firstCommandId, 41002u);
    EXPECT_EQ(counter, 41004u);
    EXPECT_EQ(listed.size(), 2u);
    bool capable = true;
    char name[256];
    ASSERT_TRUE(getPluginInfo(1, capable, name));
    EXPECT_FALSE(capable);
}

TEST_F(PluginTest, StoredPathIsRelativeOnlyBeneathTheWorkingDirectory) {
    TestPlugin rec("ovtest_recorder.so");
    ASSERT_TRUE(rec.ok());
    const std::string cwd = workDir.path();
    copyLibrary(rec.path(), cwd + "/plug/x.so");
    copyLibrary(rec.path(), cwd + "/y.so");
    const std::string sibling = cwd + "2";
    copyLibrary(rec.path(), sibling + "/z.so");

    ASSERT_TRUE(installPlugin((cwd + "/plug/x.so").c_str(), &counter));
    ASSERT_TRUE(installPlugin((cwd + "/y.so").c_str(), &counter)); // loaded as ./y.so
    bool siblingInstalled = installPlugin((sibling + "/z.so").c_str(), &counter);
    std::filesystem::remove_all(sibling);
    ASSERT_TRUE(siblingInstalled);

    std::string f = pluginFileBytes();
    ASSERT_EQ(f.size(), 8u + 3 * 520u);
    EXPECT_EQ(textAt(f, 8 + 8), "plug/x.so");
    EXPECT_EQ(textAt(f, 528 + 8), "y.so");
    EXPECT_EQ(textAt(f, 1048 + 8), sibling + "/z.so");
    EXPECT_TRUE(isLoaded(0) && isLoaded(1) && isLoaded(2));

    char out[256];
    ASSERT_TRUE(makeStoredPluginPath((cwd + "/a/b.so").c_str(), out));
    EXPECT_STREQ(out, "a/b.so");
    ASSERT_TRUE(makeStoredPluginPath((cwd + "x/b.so").c_str(), out));
    EXPECT_EQ(std::string(out), cwd + "x/b.so");
    EXPECT_FALSE(makeStoredPluginPath(("/" + std::string(300, 'p')).c_str(), out));
    EXPECT_FALSE(makeStoredPluginPath("", out));
}

TEST_F(PluginTest, LibraryWithoutAnExportIsNeverLoaded) {
    TestPlugin bad("ovtest_noconfig.so");
    ASSERT_TRUE(bad.ok());
    EXPECT_FALSE(installPlugin(bad.path().c_str(), &counter));
    EXPECT_EQ(bad->registerCalls, 0);
    EXPECT_FALSE(ovtest::fileExists(PluginFileName));

    // Also not when plugins.dat names it.
    ovtest::writeFile(PluginFileName, headerBytes(1) + recordBytes(0, 1, bad.path(), "Bad"));
    loadAllPlugins(&counter);
    EXPECT_EQ(bad->startupCalls, 0);
    EXPECT_FALSE(isLoaded(0));
    EXPECT_EQ(counter, 41000u);
    EXPECT_FALSE(installPlugin((workDir.path() + "/missing.so").c_str(), &counter));
}

TEST_F(PluginTest, FailedStartupUnregistersAndKeepsTheRecord) {
    TestPlugin failing("ovtest_failstart.so");
    TestPlugin rec("ovtest_recorder.so");
    ASSERT_TRUE(failing.ok() && rec.ok());
    EXPECT_FALSE(installPlugin(failing.path().c_str(), &counter));
    EXPECT_EQ(failing->registerCalls, 1);
    EXPECT_EQ(failing->startupCalls, 1);
    EXPECT_EQ(failing->unregisterCalls, 1);
    EXPECT_EQ(failing->shutdownCalls, 0);
    EXPECT_FALSE(isLoaded(0));
    EXPECT_TRUE(listed.empty());
    std::string f = pluginFileBytes();
    ASSERT_EQ(f.size(), 528u);
    EXPECT_EQ(le32At(f, 8), 0u);

    ASSERT_TRUE(installPlugin(rec.path().c_str(), &counter));
    EXPECT_EQ(le32At(pluginFileBytes(), 528), 1u); // the failed install's id stays used

    // A refused registration writes nothing at all.
    rec->registerResult = FALSE;
    EXPECT_FALSE(installPlugin(rec.path().c_str(), &counter));
    EXPECT_EQ(pluginFileBytes().size(), 8u + 2 * 520u);
}

TEST_F(PluginTest, UninstallMarksTheRecordRemoved) {
    TestPlugin rec("ovtest_recorder.so");
    ASSERT_TRUE(rec.ok());
    ASSERT_TRUE(installPlugin(rec.path().c_str(), &counter));
    ASSERT_TRUE(installPlugin(rec.path().c_str(), &counter));
    ASSERT_TRUE(uninstallPlugin(0));

    EXPECT_EQ(rec->shutdownCalls, 1);
    EXPECT_EQ(rec->unregisterCalls, 1);
    std::string f = pluginFileBytes();
    ASSERT_EQ(f.size(), 8u + 2 * 520u);
    EXPECT_EQ(f.substr(8, 520), std::string("\xFF\xFF\xFF\xFF", 4) + std::string(516, '\0'));
    EXPECT_EQ(le32At(f, 528), 1u);
    EXPECT_FALSE(isLoaded(0));
    EXPECT_TRUE(isLoaded(1));
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0].second, 1u);
    EXPECT_FALSE(uninstallPlugin(0));

    // The next start loads only what is left.
    unloadAllPlugins();
    EXPECT_TRUE(listed.empty());
    rec->startupCalls = 0;
    loadAllPlugins(&counter);
    EXPECT_EQ(rec->startupCalls, 1);
    EXPECT_TRUE(isLoaded(1));
}

TEST_F(PluginTest, RefusalsDuringUninstallLeaveTheRecord) {
    TestPlugin rec("ovtest_recorder.so");
    ASSERT_TRUE(rec.ok());
    ASSERT_TRUE(installPlugin(rec.path().c_str(), &counter));
    rec->shutdownResult = FALSE;
    EXPECT_FALSE(uninstallPlugin(0));
    EXPECT_TRUE(isLoaded(0));
    EXPECT_EQ(listed.size(), 1u);

    rec->shutdownResult = TRUE;
    rec->unregisterResult = FALSE;
    EXPECT_FALSE(uninstallPlugin(0));
    EXPECT_FALSE(isLoaded(0)); // unloaded for this run
    EXPECT_EQ(le32At(pluginFileBytes(), 8), 0u);
}

TEST_F(PluginTest, ServerStopCompletesDespiteARefusingShutdown) {
    TestPlugin rec("ovtest_recorder.so");
    TestPlugin stealer("ovtest_stealer.so");
    ASSERT_TRUE(rec.ok() && stealer.ok());
    ASSERT_TRUE(installPlugin(rec.path().c_str(), &counter));
    ASSERT_TRUE(installPlugin(stealer.path().c_str(), &counter));
    rec->shutdownResult = FALSE;
    unloadAllPlugins();
    EXPECT_EQ(rec->shutdownCalls, 1);
    EXPECT_EQ(stealer->shutdownCalls, 1);
    EXPECT_FALSE(isLoaded(0));
    EXPECT_FALSE(isLoaded(1));
    EXPECT_TRUE(listed.empty());
}

TEST_F(PluginTest, MessagesReachNewestFirstAndACommandStealerHidesOthers) {
    TestPlugin rec("ovtest_recorder.so");
    TestPlugin stealer("ovtest_stealer.so");
    ASSERT_TRUE(rec.ok() && stealer.ok());
    rec->sequence = &sequence;
    stealer->sequence = &sequence;
    ASSERT_TRUE(installPlugin(rec.path().c_str(), &counter));
    ASSERT_TRUE(installPlugin(stealer.path().c_str(), &counter));
    EXPECT_EQ(rec->firstCommandId, 41000u);
    EXPECT_EQ(stealer->firstCommandId, 41002u);

    EXPECT_FALSE(offerToPlugins(nullptr, WmTimer, 7, 0));
    EXPECT_EQ(rec->wndProcCalls, 1);
    EXPECT_EQ(stealer->wndProcCalls, 1);
    EXPECT_LT(stealer->lastWndProcOrder, rec->lastWndProcOrder);

    EXPECT_TRUE(offerToPlugins(nullptr, WmCommand, MAKEWPARAM(41001, 0), 0));
    EXPECT_EQ(stealer->wndProcCalls, 2);
    EXPECT_EQ(rec->wndProcCalls, 1); // hidden by the stealer
    EXPECT_FALSE(offerToPlugins(nullptr, WmCommand, MAKEWPARAM(40001, 0), 0));
    EXPECT_EQ(rec->lastWParam, MAKEWPARAM(40001, 0));

    ASSERT_TRUE(uninstallPlugin(1));
    EXPECT_TRUE(offerToPlugins(nullptr, WmCommand, MAKEWPARAM(41001, 0), 0));
    EXPECT_FALSE(offerToPlugins(nullptr, WmCommand, MAKEWPARAM(41002, 0), 0));
}

TEST_F(PluginTest, LoadAllStartsRecordsInFileOrder) {
    TestPlugin rec("ovtest_recorder.so");
    TestPlugin stealer("ovtest_stealer.so");
    TestPlugin failing("ovtest_failstart.so");
    ASSERT_TRUE(rec.ok() && stealer.ok() && failing.ok());
    ovtest::writeFile(PluginFileName, headerBytes(9) +
                                          recordBytes(3, 1, stealer.path(), "Stealer") +
                                          recordBytes(0xFFFFFFFF, 0, "", "") +
                                          recordBytes(4, 1, failing.path(), "Failing") +
                                          recordBytes(6, 0, rec.path(), "Recorder"));
    loadAllPlugins(&counter);
    EXPECT_EQ(stealer->firstCommandId, 41000u);
    EXPECT_EQ(rec->firstCommandId, 41002u);
    EXPECT_EQ(counter, 41004u);
    EXPECT_EQ(failing->startupCalls, 1);
    EXPECT_EQ(failing->unregisterCalls, 0); // skipped silently, tried again next time
    EXPECT_TRUE(isLoaded(3));
    EXPECT_FALSE(isLoaded(4));
    EXPECT_TRUE(isLoaded(6));
    ASSERT_EQ(listed.size(), 2u);
    EXPECT_EQ(listed[1], std::make_pair(std::string("Recorder"), 6u));

    EXPECT_TRUE(configurePlugin(6));
    EXPECT_EQ(rec->configureCalls, 1);
    EXPECT_FALSE(configurePlugin(4));
}

TEST_F(PluginTest, DamagedPluginFileIsHandled) {
    TestPlugin rec("ovtest_recorder.so");
    ASSERT_TRUE(rec.ok());

    ovtest::writeFile(PluginFileName, "\x0D\x0A\x1A"); // short header
    loadAllPlugins(&counter);
    ASSERT_TRUE(installPlugin(rec.path().c_str(), &counter));
    std::string f = pluginFileBytes();
    ASSERT_EQ(f.size(), 528u);
    EXPECT_EQ(le32At(f, 4), 1u);
    EXPECT_EQ(le32At(f, 8), 0u);
    unloadAllPlugins();

    // Paths and names without a terminator, and a torn record at the end.
    std::string garbage = recordBytes(7, 1, std::string(256, 'A'), std::string(256, 'B'));
    ovtest::writeFile(PluginFileName, headerBytes(8) + garbage +
                                          recordBytes(5, 1, rec.path(), "Recorder") +
                                          std::string(100, '\x5A'));
    loadAllPlugins(&counter);
    EXPECT_FALSE(isLoaded(7));
    EXPECT_TRUE(isLoaded(5));
    ASSERT_TRUE(installPlugin(rec.path().c_str(), &counter));
    f = pluginFileBytes();
    ASSERT_EQ(f.size(), 8u + 3 * 520u); // the torn tail was overwritten
    EXPECT_EQ(le32At(f, 8 + 2 * 520), 8u);
    ASSERT_TRUE(uninstallPlugin(8));
    EXPECT_EQ(le32At(pluginFileBytes(), 8 + 2 * 520), 0xFFFFFFFFu);

    // A counter that reached the removed marker hands out no more ids.
    ovtest::writeFile(PluginFileName, headerBytes(0xFFFFFFFF));
    EXPECT_FALSE(installPlugin(rec.path().c_str(), &counter));
    EXPECT_FALSE(uninstallPlugin(12345));
    EXPECT_FALSE(unloadPlugin(12345, true));
}
