// Runs the demo windows with the console, for the browser tests.
// Usage: console_demo PORT [WORKDIR]. Prints the console's address, then one line for each
// message the windows act on ("EVENT ..."), and exits when the main window is closed.
#include "demo_windows.h"
#include "platform/console/console.h"
#include "platform/console/console_driver.h"

#include "ovui_driver.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s PORT [WORKDIR]\n", argv[0]);
        return 2;
    }
    std::signal(SIGPIPE, SIG_IGN);
    if (!ovInitialize()) {
        std::fprintf(stderr, "console_demo: the UI runtime did not start\n");
        return 1;
    }
    if (!startConsoleWith(ovuiConsoleDriver(), std::string("127.0.0.1:") + argv[1])) return 1;
    DemoOptions options;
    options.workDir = argc > 2 ? argv[2] : "";
    options.reporter = [](const std::string& line) {
        std::string out = line + "\n";
        std::fwrite(out.data(), 1, out.size(), stdout);
        std::fflush(stdout);
    };
    INT_PTR result = runDemoMainWindow(options);
    stopConsole();
    std::printf("EVENT ended %d\n", int(result));
    return 0;
}
