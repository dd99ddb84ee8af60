#include "server/connections/web_rules.h"

#include "server/base/ascii.h"

#include <cstring>

namespace {

bool isSpaceOrComma(char c) {
    return c == ',' || c == ' ' || c == '\t';
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

// A decimal number of at most `digits` digits, at most `limit`.
bool parseNumber(std::string_view s, uint32_t limit, uint32_t& out) {
    if (s.empty() || s.size() > 5) return false;
    uint32_t v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + uint32_t(c - '0');
    }
    if (v > limit) return false;
    out = v;
    return true;
}

// Dotted IPv4 with exactly four parts.
bool parseIpv4(std::string_view s, uint8_t out[4]) {
    for (int part = 0; part < 4; ++part) {
        size_t dot = part < 3 ? s.find('.') : s.size();
        if (dot == std::string_view::npos) return false;
        uint32_t v;
        if (dot > 3 || !parseNumber(s.substr(0, dot), 255, v)) return false;
        out[part] = uint8_t(v);
        s.remove_prefix(part < 3 ? dot + 1 : dot);
    }
    return s.empty();
}

uint32_t hostOrder(const uint8_t a[4]) {
    return uint32_t(a[0]) << 24 | uint32_t(a[1]) << 16 | uint32_t(a[2]) << 8 | a[3];
}

// "host:80" for http and "host:443" for https say no more than "host".
std::string_view withoutDefaultPort(std::string_view authority, std::string_view scheme) {
    std::string_view port = scheme == "https" ? ":443" : ":80";
    if (authority.size() > port.size() && authority.substr(authority.size() - port.size()) == port)
        authority.remove_suffix(port.size());
    return authority;
}

} // namespace

bool parseWebAddress(std::string_view text, WebAddress& out) {
    WebAddress a;
    size_t colon = text.rfind(':');
    std::string_view portText = text;
    if (colon != std::string_view::npos) {
        std::string_view host = text.substr(0, colon);
        portText = text.substr(colon + 1);
        if (host == "localhost") {
            const uint8_t loopback[4] = {127, 0, 0, 1};
            std::memcpy(a.host, loopback, 4);
        } else if (!host.empty() && !parseIpv4(host, a.host)) {
            return false;
        }
    }
    uint32_t port;
    if (!parseNumber(portText, 65535, port)) return false;
    a.port = uint16_t(port);
    out = a;
    return true;
}

std::vector<WebNetwork> parseTrustedProxies(std::string_view text, std::string* rejected) {
    std::vector<WebNetwork> list;
    while (!text.empty()) {
        size_t end = 0;
        while (end < text.size() && !isSpaceOrComma(text[end]))
            ++end;
        std::string_view entry = text.substr(0, end);
        text.remove_prefix(end < text.size() ? end + 1 : end);
        if (entry.empty()) continue;
        uint8_t a[4];
        uint32_t bits = 32;
        size_t slash = entry.find('/');
        bool ok =
            parseIpv4(entry.substr(0, slash), a) &&
            (slash == std::string_view::npos || parseNumber(entry.substr(slash + 1), 32, bits));
        if (!ok) {
            if (rejected) {
                if (!rejected->empty()) *rejected += ' ';
                *rejected += entry;
            }
            continue;
        }
        WebNetwork n;
        n.mask = bits == 0 ? 0 : ~uint32_t(0) << (32 - bits);
        n.address = hostOrder(a) & n.mask;
        list.push_back(n);
    }
    return list;
}

bool isTrusted(const std::vector<WebNetwork>& proxies, const uint8_t address[4]) {
    const uint32_t a = hostOrder(address);
    for (const WebNetwork& n : proxies)
        if ((a & n.mask) == n.address) return true;
    return false;
}

bool forwardedClient(std::string_view header, const std::vector<WebNetwork>& proxies,
                     uint8_t out[4]) {
    // Each proxy appends the address it saw, so the entries to the right are the more
    // trustworthy: walk from the right past our own proxies to the first one we do not run.
    while (!header.empty()) {
        size_t comma = header.rfind(',');
        std::string_view entry =
            trim(comma == std::string_view::npos ? header : header.substr(comma + 1));
        header = comma == std::string_view::npos ? std::string_view{} : header.substr(0, comma);
        uint8_t a[4];
        if (!parseIpv4(entry, a)) return false;
        if (header.empty() || !isTrusted(proxies, a)) {
            std::memcpy(out, a, 4);
            return true;
        }
    }
    return false;
}

bool originAllowed(std::string_view origin, std::string_view host,
                   const std::vector<std::string>& allowed) {
    origin = trim(origin);
    if (origin.empty()) return true;
    for (const std::string& a : allowed)
        if (a == "*" || equalsIgnoringAsciiCase(a, origin)) return true;
    size_t sep = origin.find("://");
    if (sep == std::string_view::npos) return false;
    std::string_view scheme = origin.substr(0, sep);
    if (!equalsIgnoringAsciiCase(scheme, "http") && !equalsIgnoringAsciiCase(scheme, "https"))
        return false;
    std::string_view authority = origin.substr(sep + 3);
    if (authority.empty() || authority.find_first_of("/?#@") != std::string_view::npos)
        return false;
    std::string_view s = equalsIgnoringAsciiCase(scheme, "https") ? "https" : "http";
    return equalsIgnoringAsciiCase(withoutDefaultPort(authority, s),
                                   withoutDefaultPort(trim(host), s));
}

std::vector<std::string> parseAllowedOrigins(std::string_view text) {
    std::vector<std::string> list;
    while (!text.empty()) {
        size_t end = 0;
        while (end < text.size() && !isSpaceOrComma(text[end]))
            ++end;
        if (end > 0) {
            std::string_view entry = text.substr(0, end);
            while (!entry.empty() && entry.back() == '/')
                entry.remove_suffix(1); // "https://host/" names the same origin
            if (!entry.empty()) list.emplace_back(entry);
        }
        text.remove_prefix(end < text.size() ? end + 1 : end);
    }
    return list;
}

WebRoute routeWebRequest(std::string_view method, std::string_view target, std::string& assetPath) {
    if (method != "GET" && method != "HEAD") return WebRoute::NotAllowed;
    std::string_view path = target.substr(0, target.find('?'));
    if (path == "/ws") return WebRoute::Terminal;
    if (path.empty() || path[0] != '/' || path.size() > 64) return WebRoute::NotFound;
    // Asset names are plain: letters, digits, '-', '_' and one '.'; nothing can climb out.
    for (char c : path.substr(1))
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
              c == '-' || c == '_' || c == '.'))
            return WebRoute::NotFound;
    if (path.find("..") != std::string_view::npos) return WebRoute::NotFound;
    assetPath = path == "/index.html" ? "/" : std::string(path);
    return WebRoute::Asset;
}

std::string fillPageTemplate(std::string_view page, std::string_view boardName) {
    std::string name;
    for (char c : boardName) {
        switch (c) {
        case '&':
            name += "&amp;";
            break;
        case '<':
            name += "&lt;";
            break;
        case '>':
            name += "&gt;";
            break;
        case '"':
            name += "&quot;";
            break;
        case '\'':
            name += "&#39;";
            break;
        default:
            name += c;
            break;
        }
    }
    static constexpr std::string_view Marker = "@BOARD_NAME@";
    std::string out;
    out.reserve(page.size() + name.size());
    for (;;) {
        size_t at = page.find(Marker);
        out += page.substr(0, at);
        if (at == std::string_view::npos) break;
        out += name;
        page.remove_prefix(at + Marker.size());
    }
    return out;
}
