/* A door program for the tests, run by the door plug-in on its terminal.
 *   test_door echo DROPFILE      shows its terminal, its environment and the drop file, then
 *                                echoes each key as [k] until q
 *   test_door stubborn PIDFILE   ignores SIGHUP, as does a child it starts; writes both process
 *                                ids to PIDFILE and waits for ever */
#define _DEFAULT_SOURCE
#include <dirent.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

static void say(const char* text) {
    (void)!write(1, text, strlen(text));
}

/* Descriptors open in this process, not counting the one that lists them. */
static int openDescriptors(void) {
    DIR* dir = opendir("/proc/self/fd");
    int n = 0;
    if (!dir) return -1;
    while (readdir(dir))
        ++n;
    closedir(dir);
    return n - 3; /* ".", ".." and the listing's own */
}

static int echo(const char* dropFile) {
    char line[512];
    struct winsize size = {0};
    ioctl(0, TIOCGWINSZ, &size);
    /* Its own session, whose controlling terminal this is, and its own process group. Lines
     * end in LF alone here: the terminal's output processing makes them CR LF. */
    const int own = tcgetsid(0) == getpid() && getpgrp() == getpid();
    snprintf(line, sizeof line,
             "\033[1;31mTTY\033[0m %dx%d %s\nTERM=%s LINES=%s COLUMNS=%s HOME=%s\nFDS %d\n",
             size.ws_col, size.ws_row, own ? "OWN" : "SHARED", getenv("TERM"), getenv("LINES"),
             getenv("COLUMNS"), getenv("HOME"), openDescriptors());
    say(line);
    FILE* drop = fopen(dropFile, "rb");
    int lines = 0, crlf = 0;
    while (drop && fgets(line, sizeof line, drop)) {
        size_t n = strlen(line);
        ++lines;
        if (n >= 2 && line[n - 2] == '\r' && line[n - 1] == '\n') {
            ++crlf;
            line[n - 2] = '\n';
            line[n - 1] = '\0';
        }
        say(line);
    }
    if (drop) fclose(drop);
    snprintf(line, sizeof line, "%d LINES, %d WITH CR LF\n", lines, crlf);
    say(drop ? line : "NO DROP FILE\n");
    struct termios raw;
    tcgetattr(0, &raw);
    cfmakeraw(&raw);
    tcsetattr(0, TCSANOW, &raw);
    say("READY\r\n");
    char key;
    while (read(0, &key, 1) == 1 && key != 'q') {
        snprintf(line, sizeof line, "[%c]", key == '\r' ? 'R' : key == '\n' ? 'N' : key);
        say(line);
    }
    say("BYE\r\n");
    return 0;
}

static int stubborn(const char* pidFile) {
    signal(SIGHUP, SIG_IGN);
    pid_t child = fork();
    if (child == 0) {
        for (;;)
            pause();
    }
    FILE* f = fopen(pidFile, "w");
    if (f) {
        fprintf(f, "%d %d\n", (int)getpid(), (int)child);
        fclose(f);
    }
    say("STUBBORN\n");
    for (;;)
        pause();
    return 0;
}

int main(int argc, char** argv) {
    if (argc == 3 && strcmp(argv[1], "echo") == 0) return echo(argv[2]);
    if (argc == 3 && strcmp(argv[1], "stubborn") == 0) return stubborn(argv[2]);
    say("usage: test_door echo DROPFILE | stubborn PIDFILE\n");
    return 2;
}
