#include "doorway.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <ctime>

namespace doorway {
namespace {

// A door runs on its own terminal, so to a DOS-minded door it is in local mode; the rate is a
// nominal one that door kits accept.
constexpr const char* NominalRate = "115200";
constexpr const char* BoardName = "Ossivane BBS";
constexpr const char* NoDate = "00-00-00";

std::string realNameOf(const CallerFacts& f) {
    return f.realName.empty() ? f.loginName : f.realName;
}

std::string nowText(const char* format) {
    char text[32] = {};
    std::time_t t = std::time(nullptr);
    std::tm local{};
    if (localtime_r(&t, &local)) std::strftime(text, sizeof text, format, &local);
    return text;
}

std::string joinLines(std::initializer_list<std::string> lines) {
    std::string out;
    for (const std::string& line : lines)
        out += line + "\r\n";
    return out;
}

} // namespace

// Not std::to_string: its digit table would be one more exported (unique) symbol.
std::string decimal(uint32_t v) {
    char text[16];
    std::snprintf(text, sizeof text, "%u", v);
    return text;
}

const char* dropFileName(DropFile kind) {
    switch (kind) {
    case DropFile::Door32:
        return "DOOR32.SYS";
    case DropFile::DoorSys:
        return "DOOR.SYS";
    default:
        return "";
    }
}

std::string door32Sys(const CallerFacts& f) {
    return joinLines({"0", // local: the door talks to its standard input and output
                      "0", NominalRate, BoardName, decimal(f.userId + 1), realNameOf(f),
                      f.loginName, decimal(f.accessLevel), decimal(f.minutesLeft),
                      f.ansi ? "1" : "0", decimal(f.node)});
}

std::string doorSys(const CallerFacts& f) {
    const std::string today = nowText("%m-%d-%y");
    // Five to ten of the 52 lines a row, numbered.
    // clang-format off
    return joinLines({
        "COM0:", NominalRate, "8", decimal(f.node), NominalRate,            // 1-5
        "Y", "N", "Y", "Y",                                                 // 6-9: display, bells
        realNameOf(f), "", "", "", "",                                      // 10-14: name only
        decimal(f.accessLevel), "0", today,                                 // 15-17
        decimal(f.secondsLeft), decimal(f.minutesLeft),                     // 18-19
        f.ansi ? "GR" : "NG", decimal(ScreenRows), "Y", "", "",             // 20-24
        NoDate, decimal(f.userId + 1), "Z", "0", "0", "0", "9999", NoDate,  // 25-32
        "", "", "Sysop", f.loginName, "00:00", "Y", "N", "Y", "7", "0",     // 33-42
        today, nowText("%H:%M"), "00:00", "9999", "0",                      // 43-47
        decimal(f.uploadKb), decimal(f.downloadKb), "", "0", "0",           // 48-52
    });
    // clang-format on
}

bool expandCommand(const char* line, const CallerFacts& facts, const std::string& drop,
                   const std::string& scratch, std::vector<std::string>& words) {
    words.clear();
    std::string word;
    bool inWord = false;
    bool quoted = false;
    for (const char* at = line; *at; ++at) {
        const char c = *at;
        if (c == '"') {
            quoted = !quoted;
            inWord = true;
        } else if ((c == ' ' || c == '\t') && !quoted) {
            if (inWord) words.push_back(word);
            word.clear();
            inWord = false;
        } else if (c == '%' && at[1]) {
            inWord = true;
            switch (*++at) {
            case 'D':
            case 'd':
                word += drop;
                break;
            case 'S':
            case 's':
                word += scratch;
                break;
            case 'L':
            case 'l':
                word += facts.loginName;
                break;
            case 'N':
            case 'n':
                word += decimal(facts.node);
                break;
            case 'T':
            case 't':
                word += decimal(facts.minutesLeft);
                break;
            case '%':
                word += '%';
                break;
            default: // not ours: kept as written
                word += '%';
                word += *at;
                break;
            }
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord) words.push_back(word);
    return !quoted && !words.empty() && !words[0].empty();
}

std::string findProgram(const std::string& program, const std::string& directory,
                        const std::string& searchPath) {
    auto runnable = [](const std::string& path) {
        struct stat st {};
        bool ok =
            stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
        return ok ? path : std::string();
    };
    if (program.find('/') != std::string::npos)
        return runnable(program[0] == '/' ? program : directory + "/" + program);
    size_t from = 0;
    while (from <= searchPath.size()) {
        size_t to = searchPath.find(':', from);
        if (to == std::string::npos) to = searchPath.size();
        std::string dir = searchPath.substr(from, to - from);
        if (!dir.empty()) {
            std::string found = runnable(dir + "/" + program);
            if (!found.empty()) return found;
        }
        from = to + 1;
    }
    return std::string();
}

} // namespace doorway
