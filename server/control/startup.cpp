#include "server/control/startup.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <mutex>
#include <string>

#include "ovui_driver.h"
#include "platform/console/console.h"
#include "server/areas/area_tree.h"
#include "server/connections/telnet_listener.h"
#include "server/connections/web_listener.h"
#include "server/control/resource_limits.h"
#include "server/modems/telephony.h"
#include "server/plugins/plugin_registry.h"
#include "server/preferences/preferences.h"
#include "server/sessions/session.h"
#include "server/sessions/session_list.h"
#include "server/sessions/ssh_session.h"
#include "server/sysop/app_state.h"
#include "server/sysop/main_window.h"
#include "server/sysop/main_window_resources.h"
#include "server/sysop/tray.h"

namespace {

// ---- Splash ---------------------------------------------------------------------------------
constexpr int SplashTemplateId = 100;
constexpr int IdcSplashText = 1000;

struct SplashWindow {
    std::recursive_mutex lock;
    HWND window = nullptr;
    char text[256] = {};
};
SplashWindow splash;

// 272 x 77 pixels: the bitmap, with the status line at (6, 64).
const OvControlTemplate splashControls[] = {
    {OV_NOID, OV_BITMAP, "", 0, 0, 181, 47, 0, SplashBitmapId},
    {IdcSplashText, OV_STATIC, "", 4, 39, 173, 8, 0, 0},
};
const OvDialogTemplate splashTemplate = {
    SplashTemplateId,
    "",
    181,
    47,
    OV_DS_CENTER,
    nullptr,
    0,
    splashControls,
    static_cast<int>(std::size(splashControls)),
};

INT_PTR splashProc(HWND window, UINT msg, WPARAM, LPARAM) {
    if (msg == WM_CLOSE) {
        ovDestroyWindow(window);
        return TRUE;
    }
    return msg == WM_INITDIALOG ? TRUE : FALSE;
}

void printLine(const char* text) {
    std::printf("%s\n", text);
    std::fflush(stdout);
}

// ---- Stop requests --------------------------------------------------------------------------
std::mutex stopLock;
std::condition_variable stopChanged;
std::atomic<bool> stopRequested{false};
constexpr int MaxStopRounds = 32;

// On the UI thread. Dialogs above the main window are cancelled one per round (each round runs
// in the loop of the dialog below the one just ended); then the main window gets WM_CLOSE.
void stopOnUiThread(void* arg) {
    auto round = reinterpret_cast<intptr_t>(arg);
    HWND main = mainWindow.load();
    HWND top = ovuiTopModal();
    if (top && top != main && round < MaxStopRounds) {
        ovEndDialog(top, IDCANCEL);
        ovPostCall(stopOnUiThread, reinterpret_cast<void*>(round + 1));
        return;
    }
    if (main) ovPostMessage(main, WM_CLOSE, 0, 0);
}

bool waitForStop(std::chrono::milliseconds bound) {
    std::unique_lock lock(stopLock);
    return stopChanged.wait_for(lock, bound, [] { return stopRequested.load(); });
}

// ---- Start-up -------------------------------------------------------------------------------
constexpr auto SplashPause = std::chrono::milliseconds(2000);
constexpr const char* NoPreferencesCaption = "Preferences file not found";
constexpr const char* NoPreferencesText =
    "Ossivane did not find a preferences file (osvbpref.dat) in the working directory; the "
    "default configuration is being used.  You should choose \"Configure\" from the \"File\" "
    "menu to set the configuration options.";

constexpr const char* DamagedPreferencesCaption = "Preferences file could not be read";
constexpr const char* DamagedPreferencesText =
    "Ossivane could not read its preferences file (osvbpref.dat); the default configuration is "
    "being used.  The file is left as it is until a setting is changed, and then kept as "
    "osvbpref.dat.bad.  You should choose \"Configure\" from the \"File\" menu to set the "
    "configuration options.";

// Shown modally when someone can answer it: the console, or whoever drives the runtime.
void tellNoPreferences(bool consoleWanted) {
    const bool damaged = wasDamaged();
    const char* caption = damaged ? DamagedPreferencesCaption : NoPreferencesCaption;
    const char* text = damaged ? DamagedPreferencesText : NoPreferencesText;
    const bool consoleUp = !consoleAddress().empty();
    if (!consoleUp || damaged) {
        std::printf("Message box \"%s\": %s\n", caption, text);
        std::fflush(stdout);
    }
    if (consoleWanted && !consoleUp) return; // nobody could ever dismiss it
    (void)ovMessageBox(nullptr, text, caption, MB_OK | MB_ICONINFORMATION);
}

// The caller page's title: the product's name, or with an unrevealing login the root area's.
std::string webBoardName() {
    if (!getUnrevealingLogin()) return ProductName;
    AreaRecord root;
    return getArea(0, root) ? root.title : "";
}

void runWebSession(Connection& c) {
    if (waitForBoardOpen()) runSession(c);
}

// What the main window's WM_CLOSE does, for when there never was a main window.
void shutDownWithoutWindow() {
    shutBoardToCallers();
    disconnectAll();
    unloadAllPlugins();
    shutdownWinsock();
    shutdownTelephony();
    freeAreaTree();
}

} // namespace

void showSplash() {
    setSplashText(ProductName);
    HWND window = ovCreateDialog(&splashTemplate, nullptr, splashProc, 0);
    std::lock_guard lock(splash.lock);
    splash.window = window;
    if (window) ovSetDlgItemText(window, IdcSplashText, splash.text);
}

void setSplashText(const char* text) {
    std::lock_guard lock(splash.lock);
    std::snprintf(splash.text, sizeof splash.text, "%s", text ? text : "");
    if (splash.window) ovSetDlgItemText(splash.window, IdcSplashText, splash.text);
}

void closeSplash() {
    std::lock_guard lock(splash.lock);
    if (splash.window) ovDestroyWindow(splash.window);
    splash.window = nullptr;
}

void requestServerStop() {
    {
        std::lock_guard lock(stopLock);
        stopRequested = true;
    }
    stopChanged.notify_all();
    ovPostCall(stopOnUiThread, nullptr);
}

int runServer(const StartupOptions& options) {
    if (!ovInitialize()) return 1;
    {
        std::lock_guard lock(stopLock);
        stopRequested = false;
    }
    if (options.console) (void)startConsole();

    showSplash();
    // Each status line goes up just before its step runs.
    auto step = [](const char* text) {
        setSplashText(text);
        printLine(text);
    };
    step("Initializing Common Controls...");
    step("Loading preferences...");
    (void)loadPreferences();
    // Said at once on standard error, and kept on the splash during its pause below.
    const std::string shortage = descriptorShortage(getMaxUsers(), descriptorsPerCaller());
    if (!shortage.empty()) {
        std::fprintf(stderr, "ovhost: %s\n", shortage.c_str());
        std::fflush(stderr);
    }
    step("Initializing Windows Sockets 1.1...");
    const bool winsockReady = initWinsock();
    step("Initializing Windows Telephony 1.4...");
    const bool telephonyReady = initTelephony();
    setPluginLinesReady(telephonyReady, winsockReady);
    step("Loading BBS layout...");
    (void)loadAreaTree();
    step(VersionText);
    resetSessionList();
    setLoadObserver(showUserLoad);
    closeBoardToCallers(); // until the main window has loaded the plug-ins
    (void)startWebListener({runWebSession, webBoardName});
    if (startSshListener(startSshSession))
        for (const std::string& line : sshStartupLines())
            step(line.c_str());
    // The shortage stays on the splash during its pause, after the SSH lines went out.
    if (!shortage.empty()) setSplashText(shortage.c_str());
    if (options.splashPause) (void)waitForStop(SplashPause);
    closeSplash();

    if (!wasLoadedFromFile() && !stopRequested) tellNoPreferences(options.console);
    INT_PTR result = -1;
    if (!stopRequested) result = ovDialogBox(&mainDialogTemplate, nullptr, mainDialogProc, 0);
    publishMainWindow(nullptr);
    stopWebListener();
    stopSshListener();
    if (result == -1) shutDownWithoutWindow();

    if (options.console) stopConsole();
    return 0;
}
