// The whole server in this process: runServer on the runtime's UI thread in a fresh working
// directory, with a prepared osvbpref.dat (a free Telnet port) and no splash pause. Tests
// drive the main window through the runtime's input functions and call in over Telnet.
#pragma once

#include "support/test_support.h"
#include "support/ui_driver.h"

#include "ovui_driver.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

using SeenMessageBox = ovtest::MessageBoxLog::Box;

class ServerTest : public ovtest::WorkDirTest {
protected:
    void SetUp() override;
    void TearDown() override;

    // Writes osvbpref.dat: defaults with a free Telnet port (and whatever `adjust` sets).
    void preparePreferences(const std::function<void()>& adjust = {});
    // Starts the server and waits until the main window has finished its start steps.
    void startServer();
    // The two halves of startServer, for tests that meet something on the way.
    void launchServer();
    void waitForMainWindow();
    // Closes the main window and waits for runServer to return.
    void stopServer();
    bool serverStopped() const { return serverDone; }

    // The newest window made from a template, waiting for it within the bound.
    HWND waitForWindow(int templateId) { return ovtest::waitForWindow(templateId); }
    bool waitForWindowGone(int templateId) { return ovtest::waitForWindowGone(templateId); }
    // The next message box not seen yet (caption and text), waiting for it.
    SeenMessageBox waitForMessageBox() { return boxLog->next(); }
    // Runs fn on the UI thread and waits for it.
    void onUiThread(const std::function<void()>& fn) { ovtest::onUiThread(fn); }
    bool menuChecked(UINT command);

    std::string prefFile() { return ovtest::readFile("osvbpref.dat"); }
    // Calls in and reads up to the login prompt.
    ovtest::LoopbackClient callIn();

    HWND main = nullptr;
    uint16_t port = 0;

private:
    std::atomic<bool> serverDone{true};
    std::optional<ovtest::MessageBoxLog> boxLog;
};
