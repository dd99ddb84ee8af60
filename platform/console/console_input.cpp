// Input events from the page, and the small helpers of the console that need no HTTP.
#include "platform/console/console_internal.h"

#include <nlohmann/json.hpp>

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using nlohmann::json;

enum Need : unsigned {
    kWindow = 1,
    kControl = 2,
    kIndex = 4,
    kText = 8,
    kFlag = 16,
};

struct EventShape {
    const char* type;
    unsigned needs;
};

// Which fields each event must carry; the runtime checks whether the ids exist.
constexpr EventShape kShapes[] = {
    {"click", kWindow | kControl},
    {"doubleClick", kWindow | kControl | kIndex},
    {"typeText", kWindow | kControl | kText},
    {"select", kWindow | kControl | kIndex},
    {"treeSelect", kWindow | kControl | kIndex},
    {"treeExpand", kWindow | kControl | kIndex | kFlag},
    {"listViewSelect", kWindow | kControl | kIndex},
    {"comboSelect", kWindow | kControl | kIndex},
    {"comboType", kWindow | kControl | kText},
    {"menuCommand", kWindow | kControl},
    {"key", kWindow | kText},
    {"closeBox", kWindow},
    {"minimize", kWindow},
    {"restore", kWindow},
    {"trayClick", 0},
    {"trayDoubleClick", 0},
    {"pageOpened", 0},
    {"messageBoxAnswer", kWindow | kControl},
    {"openFileBrowse", kWindow | kText},
    {"openFileChoose", kWindow | kText},
    {"openFileCancel", kWindow},
    {"editorSave", kWindow | kText},
    {"editorText", kWindow | kText},
    {"editorClose", kWindow},
};

constexpr size_t kMaxText = 1 << 20;

bool readEvent(const json& j, ConsoleInput& ev) {
    if (!j.is_object()) return false;
    auto type = j.find("type");
    if (type == j.end() || !type->is_string()) return false;
    const EventShape* shape = nullptr;
    for (const auto& s : kShapes)
        if (*type == s.type) shape = &s;
    if (!shape) return false;
    ev.type = type->get<std::string>();
    if (shape->needs & kWindow) {
        auto w = j.find("window");
        if (w == j.end() || !w->is_number_unsigned()) return false;
        ev.window = w->get<uint64_t>();
    }
    if (shape->needs & kControl) {
        auto c = j.find("control");
        if (c == j.end() || !c->is_number_integer()) return false;
        int64_t v = c->get<int64_t>();
        if (v < INT32_MIN || v > INT32_MAX) return false;
        ev.control = static_cast<int>(v);
    }
    if (shape->needs & kIndex) {
        auto i = j.find("index");
        if (i == j.end() || !i->is_number_integer()) return false;
        if (i->is_number_unsigned() && i->get<uint64_t>() > uint64_t(INT64_MAX)) return false;
        ev.index = i->get<int64_t>();
    }
    if (shape->needs & kText) {
        auto t = j.find("text");
        if (t == j.end() || !t->is_string() || t->get_ref<const std::string&>().size() > kMaxText)
            return false;
        ev.text = t->get<std::string>();
    }
    if (shape->needs & kFlag) {
        auto f = j.find("flag");
        if (f == j.end() || !f->is_boolean()) return false;
        ev.flag = f->get<bool>();
    }
    return true;
}

} // namespace

bool parseConsoleInput(const std::string& body, std::vector<ConsoleInput>& events) {
    events.clear();
    json j = json::parse(body, nullptr, false);
    if (j.is_discarded()) return false;
    if (j.is_object()) j = json::array({std::move(j)});
    if (!j.is_array() || j.empty() || j.size() > kMaxEventsPerRequest) return false;
    for (const auto& item : j) {
        ConsoleInput ev;
        if (!readEvent(item, ev)) {
            events.clear();
            return false;
        }
        events.push_back(std::move(ev));
    }
    return true;
}

bool parseHostPort(const std::string& text, std::string& host, int& port) {
    auto colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == text.size() ||
        text.size() - colon - 1 > 5)
        return false;
    int value = 0;
    for (size_t i = colon + 1; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        value = value * 10 + (text[i] - '0');
    }
    if (value > 65535) return false;
    host = text.substr(0, colon);
    // "[::1]:8023" names an IPv6 host in brackets.
    if (host.size() > 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    port = value;
    return !host.empty();
}

bool isLoopbackHost(const std::string& host) {
    // Addresses are parsed, not matched by prefix: "127.0.0.1.example.net" is a name that may
    // resolve anywhere.
    in_addr v4{};
    if (inet_pton(AF_INET, host.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
    in6_addr v6{};
    if (inet_pton(AF_INET6, host.c_str(), &v6) == 1)
        return IN6_IS_ADDR_LOOPBACK(&v6) || (IN6_IS_ADDR_V4MAPPED(&v6) && v6.s6_addr[12] == 127);
    return host == "localhost";
}

std::string makeAccessToken() {
    unsigned char bytes[16];
    size_t got = 0;
    while (got < sizeof bytes) {
        ssize_t n = getrandom(bytes + got, sizeof bytes - got, 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            return {};
        }
        got += static_cast<size_t>(n);
    }
    static const char digits[] = "0123456789abcdef";
    std::string token;
    for (unsigned char b : bytes) {
        token += digits[b >> 4];
        token += digits[b & 15];
    }
    return token;
}

namespace {

bool isToken(const std::string& text) {
    if (text.size() != 32) return false;
    for (char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    return true;
}

// The file's first line; false when it cannot be opened or read.
bool readTokenFile(const char* fileName, std::string& text, int& error) {
    int fd = open(fileName, O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        error = errno;
        return false;
    }
    char buf[80];
    ssize_t n;
    do {
        n = read(fd, buf, sizeof buf);
    } while (n < 0 && errno == EINTR);
    error = n < 0 ? errno : 0;
    // Whoever made it, only we may read it from now on.
    struct stat st {};
    if (n >= 0 && fstat(fd, &st) == 0 && (st.st_mode & 077) != 0) (void)fchmod(fd, 0600);
    close(fd);
    if (n < 0) return false;
    text.assign(buf, static_cast<size_t>(n));
    size_t end = text.find_first_of("\r\n");
    if (end != std::string::npos) text.resize(end);
    return true;
}

// Through a temporary file and a rename, so a crash never leaves half a token.
bool writeTokenFile(const char* fileName, const std::string& token) {
    const std::string temp = std::string(fileName) + ".new";
    (void)unlink(temp.c_str());
    int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return false;
    const std::string line = token + "\n";
    bool ok = write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
    ok = fsync(fd) == 0 && ok;
    ok = close(fd) == 0 && ok;
    ok = ok && rename(temp.c_str(), fileName) == 0;
    if (!ok) (void)unlink(temp.c_str());
    return ok;
}

} // namespace

std::string loadOrMakeTokenFile(const char* fileName) {
    std::string text;
    int error = 0;
    if (readTokenFile(fileName, text, error)) {
        if (isToken(text)) return text;
        std::fprintf(stderr, "Console: %s does not hold a token; a new one replaces it\n",
                     fileName);
    } else if (error != ENOENT) {
        std::fprintf(stderr, "Console: %s could not be read (%s); a new token replaces it\n",
                     fileName, std::strerror(error));
    }
    std::string token = makeAccessToken();
    if (token.empty()) return token;
    if (error != ENOENT) (void)unlink(fileName); // a directory or link in its place stays put
    if (!writeTokenFile(fileName, token))
        std::fprintf(stderr,
                     "Console: %s could not be written (%s); the token lasts until the server "
                     "stops\n",
                     fileName, std::strerror(errno));
    return token;
}

bool tokenEquals(const std::string& a, const std::string& b) {
    if (a.size() != b.size() || a.empty()) return false;
    unsigned char diff = 0;
    for (size_t i = 0; i < a.size(); ++i)
        diff |= static_cast<unsigned char>(a[i] ^ b[i]);
    return diff == 0;
}
