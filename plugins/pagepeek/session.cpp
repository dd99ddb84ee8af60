#include "ovplugin.h"
#include "pagepeek.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace pagepeek {
namespace {

constexpr size_t PageBytes = 1678;
constexpr int PageLines = 21;
constexpr int LineWidth = 80;
constexpr unsigned char Esc = 0x1B;
constexpr unsigned char CtrlC = 0x03;

constexpr char Reset[] = "\x1b[0m";
constexpr char Clear[] = "\x1b[2J\x1b[1;1H";
constexpr char Status[] = "\x1b[23;1H\x1b[7m";

// Only regular files are shown: a directory or a pipe named by the argument is no file to page
// (and opening a pipe without O_NONBLOCK would wait for a writer).
FILE* openRegular(const char* name) {
    int fd = open(name, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return nullptr;
    struct stat st {};
    FILE* file = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) ? fdopen(fd, "rb") : nullptr;
    if (!file) close(fd);
    return file;
}

// The ANSI or plain variant of the named file, else "<args>.txt"; null when none opens.
FILE* openViewedFile(const char* args, bool ansi) {
    char name[256];
    if (std::strchr(args, '.'))
        std::snprintf(name, sizeof name, "%s", args);
    else
        std::snprintf(name, sizeof name, ansi ? "%s.ans" : "%s.asc", args);
    if (FILE* file = openRegular(name)) return file;
    std::snprintf(name, sizeof name, "%s.txt", args);
    return openRegular(name);
}

// One key at the MORE prompt. Most terminals send Enter as CR LF or CR NUL: the byte after the
// CR is no second key, or one Enter would turn two pages.
bool readKey(const HostServices& host, void* session, unsigned char* key, bool* afterCr) {
    for (;;) {
        const bool wasCr = *afterCr;
        if (!ovCallerRead(&host, session, key, 1)) return false;
        *afterCr = *key == '\r';
        if (!wasCr || (*key != '\n' && *key != '\0')) return true;
    }
}

} // namespace

BOOL runSession(const HostServices& host, void* session, DWORD* endSession) {
    bool ok = true;
    DWORD ansi = 0;
    char args[64] = {};
    FILE* file = nullptr;
    if (host.getValue(session, BBS_VALUE_ANSI_TERMINAL, &ansi) &&
        host.getValue(session, BBS_VALUE_EXTENSION_ARGS, args)) {
        args[sizeof args - 1] = '\0';
        file = openViewedFile(args, ansi != 0);
    }
    if (file) {
        const MoreText more = currentMoreText();
        struct stat st {};
        const uint64_t total =
            fstat(fileno(file), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
        uint64_t position = 0;
        bool afterCr = false;
        bool fileAfterCr = false;
        if (ansi) ok = ovCallerWriteText(&host, session, Reset);
        while (ok && position < total) {
            if (ansi) ok = ovCallerWriteText(&host, session, Clear);
            if (!ok) break;

            // A lone LF (as Linux editors end lines) goes out as CR LF: room for two bytes each.
            unsigned char page[2 * PageBytes];
            size_t count = 0, read = 0;
            int column = 0;
            int lines = 0;
            while (read < PageBytes && lines < PageLines && position < total) {
                int c = std::getc(file);
                if (c == EOF) { // a read error ends the file here
                    position = total;
                    break;
                }
                ++read;
                const bool lone = c == '\n' && !fileAfterCr;
                if (lone) page[count++] = '\r';
                page[count++] = static_cast<unsigned char>(c);
                fileAfterCr = c == '\r';
                ++column;
                ++position;
                if (c == '\r' || lone) ++lines;
                if (c == '\n') column = 0;
                if (column >= LineWidth) {
                    column = 0;
                    ++lines;
                }
            }
            char status[MoreField + 64];
            formatStatus(status, sizeof status, more.text, position, total);
            unsigned char key = 0;
            ok = (count == 0 || ovCallerWrite(&host, session, page, count)) &&
                 ovCallerWriteText(&host, session, ansi ? Status : "\r\n") &&
                 ovCallerWriteText(&host, session, status) &&
                 readKey(host, session, &key, &afterCr) &&
                 (!ansi || ovCallerWriteText(&host, session, Reset)) &&
                 ovCallerWriteText(&host, session, "\r\n") &&
                 ovCallerWriteText(&host, session, "\r\n");
            if (key == Esc || key == CtrlC) position = total;
        }
        std::fclose(file);
    }
    if (endSession) *endSession = ok ? 0 : 1;
    return ok ? 1 : 0;
}

} // namespace pagepeek
