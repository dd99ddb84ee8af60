#include "platform/telephony/modem_text.h"

#include "platform/telephony/ovtapi.h"

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace ovtapi {
namespace {

std::string trim(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b])))
        ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1])))
        --e;
    return s.substr(b, e - b);
}

std::string upper(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

bool startsWith(const std::string& s, const char* prefix) {
    return s.rfind(prefix, 0) == 0;
}

// Accepts only plain decimal numbers within [lo, hi].
bool parseNumber(const std::string& text, long lo, long hi, long& out) {
    if (text.empty() || text.size() > 9) return false;
    for (char c : text)
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    long v = std::strtol(text.c_str(), nullptr, 10);
    if (v < lo || v > hi) return false;
    out = v;
    return true;
}

bool applySetting(Settings& s, const std::string& key, const std::string& value) {
    long n = 0;
    if (key == "lockdir") {
        if (value.empty()) return false;
        s.lockDir = value;
        return true;
    }
    struct {
        const char* name;
        int* field;
        long lo, hi;
    } const ints[] = {
        {"guardtime", &s.guardMs, 20, 10000},
        {"commandtimeout", &s.commandTimeoutMs, 100, 120000},
        {"initretry", &s.initRetryMs, 100, 3600000},
        {"answertimeout", &s.answerTimeoutMs, 100, 600000},
        {"ringtimeout", &s.ringTimeoutMs, 100, 600000},
        {"calleridwait", &s.callerIdWaitMs, 10, 60000},
    };
    for (const auto& i : ints) {
        if (key != i.name) continue;
        if (!parseNumber(value, i.lo, i.hi, n)) return false;
        *i.field = static_cast<int>(n);
        return true;
    }
    if (key == "speed") {
        static const long speeds[] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400};
        if (!parseNumber(value, 1, 1000000, n)) return false;
        for (long sp : speeds)
            if (sp == n) {
                s.speed = static_cast<unsigned>(n);
                return true;
            }
    }
    return false;
}

// "path name init..." with the name in double quotes when it holds spaces.
bool parseDevice(const std::string& line, DeviceConfig& dev) {
    size_t pos = line.find_first_of(" \t");
    if (pos == std::string::npos) return false;
    dev.path = line.substr(0, pos);
    std::string rest = trim(line.substr(pos));
    if (rest.empty()) return false;
    if (rest[0] == '"') {
        size_t close = rest.find('"', 1);
        if (close == std::string::npos) return false;
        dev.name = rest.substr(1, close - 1);
        rest = rest.substr(close + 1);
    } else {
        size_t end = rest.find_first_of(" \t");
        dev.name = rest.substr(0, end);
        rest = end == std::string::npos ? std::string() : rest.substr(end);
    }
    dev.init = trim(rest);
    if (dev.name.empty() || dev.name.size() > 63) return false;
    for (char c : dev.name + dev.init)
        if (static_cast<unsigned char>(c) < 0x20) return false;
    return true;
}

} // namespace

ProviderConfig parseConfig(const std::string& text) {
    ProviderConfig cfg;
    std::istringstream in(text);
    std::string raw;
    int number = 0;
    while (std::getline(in, raw)) {
        ++number;
        std::string line = trim(raw);
        if (line.empty() || line[0] == '#') continue;
        if (line[0] == '/') {
            DeviceConfig dev;
            if (parseDevice(line, dev))
                cfg.devices.push_back(dev);
            else
                cfg.problems.push_back("line " + std::to_string(number) + ": bad device line");
            continue;
        }
        size_t eq = line.find('=');
        if (eq == std::string::npos ||
            !applySetting(cfg.settings, trim(line.substr(0, eq)), trim(line.substr(eq + 1))))
            cfg.problems.push_back("line " + std::to_string(number) + ": bad setting");
    }
    return cfg;
}

ProviderConfig loadConfig() {
    const char* env = std::getenv("OVTAPI_CONF");
    std::string path = env && *env ? env : "/etc/ovtapi.conf";
    std::ifstream in(path, std::ios::binary);
    ProviderConfig cfg;
    if (in) {
        std::ostringstream text;
        text << in.rdbuf();
        cfg = parseConfig(text.str());
    }
    const char* lockDir = std::getenv("OVTAPI_LOCKDIR");
    if (lockDir && *lockDir) cfg.settings.lockDir = lockDir;
    return cfg;
}

std::optional<std::string> LineAssembler::feed(char c) {
    if (c == '\r' || c == '\n') {
        std::string done;
        done.swap(line_);
        return done;
    }
    unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7f) return std::nullopt;
    if (line_.size() < 255) line_.push_back(c);
    return std::nullopt;
}

ModemLine classifyLine(const std::string& raw) {
    ModemLine out;
    std::string line = trim(raw);
    std::string up = upper(line);
    auto firstNumberAfter = [&](size_t from) -> uint32_t {
        size_t p = from;
        while (p < up.size() && !std::isdigit(static_cast<unsigned char>(up[p])))
            ++p;
        uint64_t v = 0;
        size_t digits = 0;
        while (p < up.size() && std::isdigit(static_cast<unsigned char>(up[p])) && digits < 10) {
            v = v * 10 + static_cast<unsigned>(up[p] - '0');
            ++p;
            ++digits;
        }
        return v > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(v);
    };
    if (up == "OK") {
        out.kind = ResultKind::Ok;
    } else if (up == "ERROR") {
        out.kind = ResultKind::Error;
    } else if (up == "RING") {
        out.kind = ResultKind::Ring;
    } else if (up == "CONNECT" || startsWith(up, "CONNECT ") || startsWith(up, "CONNECT/")) {
        out.kind = ResultKind::Connect;
        out.rate = firstNumberAfter(7);
    } else if (startsWith(up, "CARRIER ")) {
        out.kind = ResultKind::Carrier;
        out.rate = firstNumberAfter(7);
    } else if (up == "NO CARRIER") {
        out.kind = ResultKind::NoCarrier;
    } else if (up == "BUSY") {
        out.kind = ResultKind::Busy;
    } else if (up == "NO ANSWER") {
        out.kind = ResultKind::NoAnswer;
    } else if (up == "NO DIALTONE" || up == "NO DIAL TONE") {
        out.kind = ResultKind::NoDialtone;
    } else {
        size_t eq = line.find('=');
        if (eq != std::string::npos) {
            std::string key = upper(trim(line.substr(0, eq)));
            static const char* const fields[] = {"NMBR",     "NAME",     "DATE", "TIME",
                                                 "DDN_NMBR", "DDN_NAME", "MESG"};
            for (const char* f : fields)
                if (key == f) {
                    out.kind = ResultKind::CallerIdField;
                    out.field = key;
                    out.value = trim(line.substr(eq + 1));
                }
        }
    }
    return out;
}

std::string cleanCallerIdText(const std::string& text) {
    std::string out;
    for (char c : text) {
        unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7f) continue;
        if (out.size() == kCallerIdMax) break;
        out.push_back(c);
    }
    return out;
}

void CallerId::take(const ModemLine& line) {
    if (line.kind != ResultKind::CallerIdField) return;
    if (line.field == "NMBR" || line.field == "DDN_NMBR") {
        number = cleanCallerIdText(line.value);
        numberSeen = true;
    } else if (line.field == "NAME" || line.field == "DDN_NAME") {
        name = cleanCallerIdText(line.value);
        nameSeen = true;
    }
}

uint32_t CallerId::partyIdFlags() const {
    auto isPrivate = [](const std::string& s) { return s == "P" || s == "p"; };
    auto isOutOfArea = [](const std::string& s) { return s == "O" || s == "o"; };
    if (numberSeen && isPrivate(number)) return LINECALLPARTYID_BLOCKED;
    if (numberSeen && isOutOfArea(number)) return LINECALLPARTYID_OUTOFAREA;
    bool haveNumber = numberSeen && !number.empty();
    bool haveName = nameSeen && !name.empty() && !isPrivate(name) && !isOutOfArea(name);
    uint32_t flags = 0;
    if (haveNumber) flags |= LINECALLPARTYID_ADDRESS;
    if (haveName) flags |= LINECALLPARTYID_NAME;
    if (flags) return flags;
    if (!numberSeen && nameSeen && isPrivate(name)) return LINECALLPARTYID_BLOCKED;
    if (!numberSeen && nameSeen && isOutOfArea(name)) return LINECALLPARTYID_OUTOFAREA;
    return any() ? LINECALLPARTYID_UNAVAIL : LINECALLPARTYID_UNKNOWN;
}

} // namespace ovtapi
