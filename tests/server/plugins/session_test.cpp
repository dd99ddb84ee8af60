#include "plugin_test_support.h"

#include "server/connections/tcp_connection.h"
#include "server/plugins/plugin_host.h"
#include "server/plugins/plugin_registry.h"
#include "server/preferences/preferences.h"
#include "server/users/user_db.h"

#include <atomic>
#include <cstring>
#include <memory>
#include <thread>

namespace {

// Results that a session callback hands back to the test body.
struct Probe {
    BOOL results[16];
    DWORD values[16];
    char text[80];
};
Probe probe;

class SessionTest : public PluginTest {
protected:
    void SetUp() override {
        PluginTest::SetUp();
        probe = Probe{};
        ASSERT_TRUE(rec.ok());
        ASSERT_TRUE(installPlugin(rec.path().c_str(), &counter));
        UserRecord u;
        ASSERT_TRUE(addUser(u, "alice"));
        u.userFlags = 0x0002;
        u.accessLevel = 10;
        ASSERT_TRUE(updateUser(u));
        int serverSide = -1, clientSide = -1;
        ASSERT_TRUE(ovtest::makeTcpPair(serverSide, clientSide));
        conn = std::make_unique<TcpConnection>(serverSide);
        client = ovtest::LoopbackClient(clientSide);
    }
    void TearDown() override {
        client.close();
        if (caller.joinable()) caller.join();
        conn.reset();
        PluginTest::TearDown();
    }
    // Runs the extension on a caller thread, as a session would.
    void runOnCallerThread(uint32_t pluginId, const char* args) {
        caller = std::thread([this, pluginId, args] {
            bool end = false;
            result = runExtension(pluginId, "alice", *conn, 3, &end, args);
            ended = end;
            finished = true;
        });
    }
    UserRecord account() {
        UserRecord u;
        EXPECT_TRUE(findUser(u, "alice"));
        return u;
    }

    TestPlugin rec{"ovtest_recorder.so"};
    std::unique_ptr<TcpConnection> conn;
    ovtest::LoopbackClient client;
    std::thread caller;
    std::atomic<bool> result{false}, ended{false}, finished{false};
};

} // namespace

TEST_F(SessionTest, ExtensionTalksToTheCallerAndReportsTheEndFlag) {
    bool end = true;
    EXPECT_TRUE(runExtension(0, "alice", *conn, 3, &end, "hello"));
    EXPECT_FALSE(end);
    EXPECT_EQ(client.readUntil("\r\n"), "recorder:hello\r\n");
    EXPECT_EQ(rec->lastAreaId, 3u);
    EXPECT_EQ(rec->lastUserId, account().id);

    EXPECT_TRUE(runExtension(0, "alice", *conn, 3, &end, "end"));
    EXPECT_TRUE(end);

    // Unknown plug-in, deleted account: the plug-in is not called and the flag is untouched.
    end = true;
    EXPECT_FALSE(runExtension(77, "alice", *conn, 3, &end, "x"));
    EXPECT_TRUE(end);
    ASSERT_TRUE(deleteUser("alice"));
    end = false;
    EXPECT_FALSE(runExtension(0, "alice", *conn, 3, &end, "x"));
    EXPECT_FALSE(end);
    EXPECT_EQ(rec->sessionCalls, 2);
}

TEST_F(SessionTest, ReadValues) {
    ASSERT_TRUE(setPluginsMayChangeAccess(false));
    rec->onSession = [](const HostServices* s, void* session, DWORD* end) -> BOOL {
        char name[40];
        std::memset(name, 0x7F, sizeof name);
        probe.results[0] = s->getValue(session, BBS_VALUE_LOGIN_NAME, name);
        std::memcpy(probe.text, name, sizeof name);
        probe.results[1] = s->getValue(session, BBS_VALUE_ANSI_TERMINAL, &probe.values[1]);
        probe.results[2] = s->getValue(session, BBS_VALUE_ACCESS_LEVEL, &probe.values[2]);
        probe.results[3] = s->getValue(session, BBS_VALUE_TIMEOUT, &probe.values[3]);
        char args[70];
        probe.results[4] = s->getValue(session, BBS_VALUE_EXTENSION_ARGS, args);
        probe.values[4] = static_cast<DWORD>(std::strlen(args));
        probe.results[5] = s->getValue(session, 99, &probe.values[5]); // no such code
        probe.results[6] = s->getValue(nullptr, BBS_VALUE_ACCESS_LEVEL, &probe.values[6]);
        probe.results[7] = s->getValue(session, BBS_VALUE_UPLOAD_KB, &probe.values[7]);
        *end = 0;
        return TRUE;
    };
    const std::string longArgs(70, 'g');
    bool end = true;
    ASSERT_TRUE(runExtension(0, "alice", *conn, 3, &end, longArgs.c_str()));
    EXPECT_EQ(probe.results[0], 1);
    EXPECT_STREQ(probe.text, "alice");
    EXPECT_EQ(probe.text[6], 0x7F);
    EXPECT_EQ(probe.results[1], 1);
    EXPECT_EQ(probe.values[1], 0u); // bit 0 only, the other flag bit is not reported
    EXPECT_EQ(probe.values[2], 10u);
    EXPECT_EQ(probe.results[3], 1);
    EXPECT_EQ(probe.values[3], 0u);
    EXPECT_EQ(probe.values[4], 63u); // cut to the field
    EXPECT_EQ(probe.results[5], 0);
    EXPECT_EQ(probe.results[6], 0);
    EXPECT_EQ(probe.results[7], 1);

    // A 31-character login name comes with its terminator: 32 bytes.
    UserRecord longUser;
    ASSERT_TRUE(addUser(longUser, std::string(31, 'n').c_str()));
    ASSERT_TRUE(runExtension(0, longUser.loginName, *conn, 3, &end, ""));
    EXPECT_EQ(std::string(probe.text, 31), std::string(31, 'n'));
    EXPECT_EQ(probe.text[31], '\0');
    EXPECT_EQ(probe.text[32], 0x7F);
}

TEST_F(SessionTest, ChangedValuesAreSaved) {
    ASSERT_TRUE(setPluginsMayChangeAccess(true));
    rec->onSession = [](const HostServices* s, void* session, DWORD* end) -> BOOL {
        DWORD v = 5;
        probe.results[0] = s->setValue(session, BBS_VALUE_ANSI_TERMINAL, &v);
        v = 70000;
        probe.results[1] = s->setValue(session, BBS_VALUE_ACCESS_LEVEL, &v);
        v = 123;
        probe.results[2] = s->setValue(session, BBS_VALUE_UPLOAD_KB, &v);
        v = 456;
        probe.results[3] = s->setValue(session, BBS_VALUE_DOWNLOAD_KB, &v);
        probe.results[4] = s->setValue(session, BBS_VALUE_LOGIN_NAME, &v);
        probe.results[5] = s->setValue(session, BBS_VALUE_EXTENSION_ARGS, &v);
        probe.results[6] = s->setValue(session, 99, &v);
        probe.results[7] = s->setValue(nullptr, BBS_VALUE_UPLOAD_KB, &v);
        s->getValue(session, BBS_VALUE_ANSI_TERMINAL, &probe.values[0]);
        *end = 0;
        return TRUE;
    };
    bool end = true;
    ASSERT_TRUE(runExtension(0, "alice", *conn, 3, &end, ""));
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(probe.results[i], 1) << i;
    for (int i = 4; i < 8; ++i)
        EXPECT_EQ(probe.results[i], 0) << i;
    EXPECT_EQ(probe.values[0], 1u);
    UserRecord u = account();
    EXPECT_EQ(u.userFlags, 0x0003); // the other bit kept
    EXPECT_EQ(u.accessLevel, 4464);
    EXPECT_EQ(u.uploadKb, 123u);
    EXPECT_EQ(u.downloadKb, 456u);

    // Switched off, the access level stays; switching the terminal off keeps the other bit.
    ASSERT_TRUE(setPluginsMayChangeAccess(false));
    rec->onSession = [](const HostServices* s, void* session, DWORD* end) -> BOOL {
        DWORD v = 99;
        probe.results[8] = s->setValue(session, BBS_VALUE_ACCESS_LEVEL, &v);
        v = 0;
        probe.results[9] = s->setValue(session, BBS_VALUE_ANSI_TERMINAL, &v);
        *end = 0;
        return TRUE;
    };
    ASSERT_TRUE(runExtension(0, "alice", *conn, 3, &end, ""));
    EXPECT_EQ(probe.results[8], 0);
    EXPECT_EQ(probe.results[9], 1);
    u = account();
    EXPECT_EQ(u.accessLevel, 4464);
    EXPECT_EQ(u.userFlags, 0x0002);
}

// The sysop changes the caller's password and access level while the caller is inside the
// plug-in: a later setValue changes only its own field, and the snapshot follows the account.
TEST_F(SessionTest, ASaveKeepsWhatOthersChangedMeanwhile) {
    ASSERT_TRUE(setPluginsMayChangeAccess(false));
    rec->onSession = [](const HostServices* s, void* session, DWORD* end) -> BOOL {
        UserRecord sysop;
        if (findUser(sysop, "alice")) {
            std::strcpy(sysop.password, "changed");
            sysop.accessLevel = 50;
            probe.results[0] = updateUser(sysop);
        }
        DWORD v = 77;
        probe.results[1] = s->setValue(session, BBS_VALUE_UPLOAD_KB, &v);
        probe.results[2] = s->getValue(session, BBS_VALUE_ACCESS_LEVEL, &probe.values[2]);
        *end = 0;
        return TRUE;
    };
    bool end = true;
    ASSERT_TRUE(runExtension(0, "alice", *conn, 3, &end, ""));
    ASSERT_EQ(probe.results[0], 1);
    EXPECT_EQ(probe.results[1], 1);
    EXPECT_EQ(probe.values[2], 50u);
    UserRecord u = account();
    EXPECT_STREQ(u.password, "changed");
    EXPECT_EQ(u.accessLevel, 50);
    EXPECT_EQ(u.uploadKb, 77u);
    EXPECT_EQ(u.userFlags, 0x0002);
}

TEST_F(SessionTest, WriteReadAndTimeOut) {
    rec->onSession = [](const HostServices* s, void* session, DWORD* end) -> BOOL {
        char buf[3];
        probe.results[0] = s->read(session, buf, 3);
        std::memcpy(probe.text, buf, 3);
        probe.results[1] = s->write(session, "ok\r\n", 4);
        DWORD ms = 50;
        probe.results[2] = s->setValue(session, BBS_VALUE_TIMEOUT, &ms);
        probe.results[3] = s->read(session, buf, 1); // nobody answers
        s->getValue(session, BBS_VALUE_TIMEOUT, &probe.values[3]);
        probe.results[4] = s->read(nullptr, buf, 1);
        probe.results[5] = s->write(nullptr, buf, 1);
        *end = probe.results[3] ? 0 : 1;
        return FALSE;
    };
    ASSERT_TRUE(client.send("a\nb"));
    bool end = false;
    EXPECT_FALSE(runExtension(0, "alice", *conn, 3, &end, "")); // the plug-in's own result
    EXPECT_TRUE(end);
    EXPECT_EQ(probe.results[0], 1);
    EXPECT_EQ(std::string(probe.text, 3), "a\nb"); // no translation
    EXPECT_EQ(client.readUntil("\r\n"), "ok\r\n");
    EXPECT_EQ(probe.results[2], 1);
    EXPECT_EQ(probe.results[3], 0);
    EXPECT_EQ(probe.values[3], 1u);
    EXPECT_EQ(probe.results[4], 0);
    EXPECT_EQ(probe.results[5], 0);
}

// Added for doors after 0x10000: a few more values, and a read that returns what is there.
TEST_F(SessionTest, ValuesAndReadAvailableOfTheLongerRecord) {
    ASSERT_TRUE(setIdleTimeoutMs(120000));
    UserRecord u = account();
    std::snprintf(u.realName, sizeof u.realName, "%s", "Alice Liddell");
    ASSERT_TRUE(updateUser(u));
    static HostServicesEx lent;
    lent = makeHostServices();
    rec->onSession = [](const HostServices* s, void* session, DWORD* end) -> BOOL {
        probe.results[0] = s->getValue(nullptr, BBS_VALUE_SERVICES_SIZE, &probe.values[0]);
        probe.results[1] = s->getValue(session, BBS_VALUE_IDLE_TIMEOUT, &probe.values[1]);
        probe.results[2] = s->getValue(session, BBS_VALUE_NODE, &probe.values[2]);
        probe.results[3] = s->getValue(session, BBS_VALUE_REAL_NAME, probe.text);
        probe.results[4] = s->setValue(session, BBS_VALUE_NODE, &probe.values[2]);
        probe.results[5] = s->getValue(nullptr, BBS_VALUE_NODE, &probe.values[5]);
        char buf[8];
        DWORD got = 99;
        probe.results[6] = lent.readAvailable(session, buf, sizeof buf, 20000, -1, &got);
        probe.values[6] = got;
        probe.values[7] = got == 1 ? static_cast<unsigned char>(buf[0]) : 0;
        probe.results[8] = lent.readAvailable(nullptr, buf, sizeof buf, 0, -1, &got);
        *end = 0;
        return TRUE;
    };
    ASSERT_TRUE(client.send("k"));
    bool end = true;
    ASSERT_TRUE(runExtension(0, "alice", *conn, 3, &end, ""));
    EXPECT_EQ(probe.results[0], 1);
    EXPECT_EQ(probe.values[0], sizeof(HostServicesEx));
    EXPECT_TRUE(BBS_HOST_HAS(probe.values[0], readAvailable));
    EXPECT_EQ(probe.values[1], 120000u);
    EXPECT_EQ(probe.values[2], conn->id() + 1);
    EXPECT_STREQ(probe.text, "Alice Liddell");
    EXPECT_EQ(probe.results[4], 0); // read only
    EXPECT_EQ(probe.results[5], 0); // a session's value needs the session
    EXPECT_EQ(probe.results[6], 1);
    EXPECT_EQ(probe.values[6], 1u);
    EXPECT_EQ(probe.values[7], static_cast<DWORD>('k'));
    EXPECT_EQ(probe.results[8], 0);
    // The standard plug-ins still see exactly the version they start for.
    EXPECT_EQ(lent.base.version, BBS_HOST_VERSION);
}

TEST_F(SessionTest, UninstallFailsWhileACallerIsInside) {
    runOnCallerThread(0, "wait");
    ASSERT_EQ(client.readUntil("\r\n"), "recorder:wait\r\n");
    ASSERT_EQ(atomicRead(rec->sessionsInside), 1);

    EXPECT_FALSE(uninstallPlugin(0));
    EXPECT_FALSE(unloadPlugin(0, false));
    EXPECT_EQ(rec->shutdownCalls, 0);
    bool capable = false;
    char name[256];
    EXPECT_TRUE(getPluginInfo(0, capable, name));
    EXPECT_EQ(le32At(pluginFileBytes(), 8), 0u);

    ASSERT_TRUE(client.send("x"));
    ASSERT_TRUE(ovtest::waitUntil([&] { return finished.load(); }));
    caller.join();
    EXPECT_TRUE(result);
    EXPECT_FALSE(ended);
    EXPECT_TRUE(uninstallPlugin(0));
}

TEST_F(SessionTest, ServerStopWaitsForACallerInside) {
    rec->sequence = &sequence;
    runOnCallerThread(0, "wait");
    ASSERT_EQ(client.readUntil("\r\n"), "recorder:wait\r\n");
    std::thread stop([] { unloadAllPlugins(); });
    // Give a stop that would not wait the chance to shut the plug-in down under the caller.
    EXPECT_FALSE(ovtest::waitUntil([&] { return atomicRead(rec->shutdownCalls) > 0; },
                                   std::chrono::milliseconds(500)));
    ASSERT_TRUE(client.send("x"));
    stop.join();
    caller.join();
    EXPECT_EQ(rec->shutdownCalls, 1);
    EXPECT_EQ(rec->insideAtShutdown, 0);
    EXPECT_LT(atomicRead(rec->lastSessionEndOrder), rec->lastShutdownOrder);
    EXPECT_TRUE(listed.empty());
}

TEST_F(SessionTest, ServerStopGivesUpOnACallerThatStaysInside) {
    runOnCallerThread(0, "wait");
    ASSERT_EQ(client.readUntil("\r\n"), "recorder:wait\r\n");
    unloadAllPlugins(); // returns after its bound although the caller is still inside
    EXPECT_EQ(rec->shutdownCalls, 1);
    EXPECT_EQ(rec->insideAtShutdown, 1);
    bool capable = false;
    char name[256];
    EXPECT_FALSE(getPluginInfo(0, capable, name));
    // The caller leaves later; its context goes back to the retired plug-in safely.
    ASSERT_TRUE(client.send("x"));
    caller.join();
    EXPECT_TRUE(result);
}
