// Demo windows on the UI runtime for the console's tests: the sysop's main window (the server's
// template, with a demo procedure), and dialogs that between them use every control kind, a modal dialog
// over a modal dialog, message boxes, the open-file dialog and the text editor. Each message a
// procedure acts on is reported as one line "EVENT ..." through the reporter.
#pragma once

#include "ovui.h"

#include <functional>
#include <string>

struct DemoOptions {
    std::string workDir;                              // for the open-file dialog and the editor
    std::function<void(const std::string&)> reporter; // one line per event
};

// Runs the main window modally on the calling thread (which must be the UI thread) until it is
// closed; returns the dialog's result.
INT_PTR runDemoMainWindow(const DemoOptions& options);

// Creates the main window modeless (for tests that pump the loop themselves).
HWND createDemoMainWindow(const DemoOptions& options);

constexpr int kDemoMainTemplate = 118; // MainDialogId
