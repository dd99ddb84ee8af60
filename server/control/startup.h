// The server's life on the UI thread: the start-up order under a splash, the main window as the
// main loop, and the shutdown order when the main window closes.
#pragma once

struct StartupOptions {
    bool splashPause = true; // keep the splash readable for 2000 ms
    bool console = true;     // serve the sysop console (tests drive the runtime themselves)
};

// Makes the calling thread the UI thread (if none is yet), runs the start-up sequence and then
// the main window until it closes. Returns 0 when the server ran and stopped, 1 when this thread
// cannot be the UI thread.
int runServer(const StartupOptions& options = {});

// Any thread (a signal watcher): stop as if the main window were closed. During start-up the
// main window is then never opened and the subsystems are shut down directly.
void requestServerStop();

// The splash: a picture with one status line, also printed on standard output.
void showSplash();
void setSplashText(const char* text);
void closeSplash();
