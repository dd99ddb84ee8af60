#include "server_harness.h"

#include <sys/socket.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdlib>
#include <future>
#include <memory>
#include <thread>

#include "server/control/startup.h"
#include "server/preferences/preferences.h"
#include "server/sysop/app_state.h"

namespace {

constexpr auto Bound = std::chrono::seconds(15);

// One UI thread for the whole test process (the runtime allows only one), looping until exit.
class UiThread {
public:
    UiThread() {
        std::promise<void> ready;
        thread_ = std::thread([&ready] {
            (void)ovInitialize();
            ready.set_value();
            ovRunMessageLoop();
        });
        ready.get_future().wait();
    }
    ~UiThread() {
        ovPostQuitMessage(0);
        thread_.join();
    }

private:
    std::thread thread_;
};

void ensureUiThread() {
    static UiThread thread;
}

uint16_t freePort() {
    uint16_t port = 0;
    int fd = ovtest::listenOnFreePort(port);
    if (fd >= 0) close(fd);
    return port;
}

} // namespace

void ServerTest::SetUp() {
    ensureUiThread();
    // No modem lines: the telephony provider finds no configuration.
    setenv("OVTAPI_CONF", (workDir.path() + "/no-modems.conf").c_str(), 1);
    boxLog.emplace();
}

void ServerTest::TearDown() {
    if (!serverDone) stopServer();
    boxLog.reset();
    onUiThread([] { ovuiResetForTests(); });
}

void ServerTest::preparePreferences(const std::function<void()>& adjust) {
    (void)loadPreferences();
    port = freePort();
    ASSERT_NE(port, 0);
    ASSERT_TRUE(setTelnetPort(port));
    ASSERT_TRUE(setUseTapi(false));
    if (adjust) adjust();
    ASSERT_TRUE(ovtest::fileExists("osvbpref.dat"));
}

void ServerTest::startServer() {
    launchServer();
    waitForMainWindow();
}

void ServerTest::launchServer() {
    publishMainWindow(nullptr);
    serverDone = false;
    ovPostCall(
        [](void* self) {
            auto* test = static_cast<ServerTest*>(self);
            StartupOptions options;
            options.splashPause = false;
            options.console = false;
            (void)runServer(options);
            test->serverDone = true;
        },
        this);
}

void ServerTest::waitForMainWindow() {
    ASSERT_TRUE(ovtest::waitUntil([] { return mainWindow.load() != nullptr; }, Bound));
    main = mainWindow.load();
    // Runs once WM_INITDIALOG has returned to the loop.
    onUiThread([] {});
}

void ServerTest::stopServer() {
    if (HWND w = mainWindow.load()) ovPostMessage(w, WM_CLOSE, 0, 0);
    ASSERT_TRUE(ovtest::waitUntil([this] { return serverDone.load(); }, Bound));
}

bool ServerTest::menuChecked(UINT command) {
    UINT state = ovGetMenuState(ovGetMenu(main), command, MF_BYCOMMAND);
    return state != UINT(-1) && (state & MF_CHECKED) != 0;
}

ovtest::LoopbackClient ServerTest::callIn() {
    ovtest::LoopbackClient client;
    EXPECT_TRUE(client.connectTo(port));
    char prompt[PrefTextSize];
    getPrefText(PrefText::LoginPrompt, prompt);
    std::string got = client.readUntil(prompt);
    EXPECT_NE(got.find(prompt), std::string::npos) << got;
    return client;
}
