// The caller page's rules that come from outside: the listening address (OVHOST_WEB), the
// proxies whose X-Forwarded-For is believed (OVHOST_WEB_TRUSTED_PROXIES), the pages allowed to
// open the terminal (same origin, plus OVHOST_WEB_ORIGINS), and what a request asks for.
// Plain parsing, no sockets: the listener applies it and the fuzz target feeds it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct WebAddress {
    uint8_t host[4] = {}; // 0.0.0.0: every interface
    uint16_t port = 0;    // 0: any free port
};

// "[host:]port"; the host is a dotted IPv4 address or "localhost". False for anything else.
[[nodiscard]] bool parseWebAddress(std::string_view text, WebAddress& out);

struct WebNetwork {
    uint32_t address = 0; // host order
    uint32_t mask = 0;
};

// Addresses and networks ("10.0.0.1", "10.0.0.0/8"), separated by commas or spaces. Entries
// that are not understood are left out and returned in `rejected` for the sysop to see.
std::vector<WebNetwork> parseTrustedProxies(std::string_view text, std::string* rejected);
bool isTrusted(const std::vector<WebNetwork>& proxies, const uint8_t address[4]);

// The caller's address from an X-Forwarded-For value sent by a trusted proxy: the rightmost
// entry that is not itself a trusted proxy. False (keep the socket's peer) when there is none
// or the value is malformed.
[[nodiscard]] bool forwardedClient(std::string_view header, const std::vector<WebNetwork>& proxies,
                                   uint8_t out[4]);

// Whether a page from `origin` may open the terminal served under `host` (the request's Host
// header): the same host and port, or one of `allowed` ("https://bbs.example.org", or "*").
// No Origin at all (a program, not a browser page) is allowed: only pages act for others.
bool originAllowed(std::string_view origin, std::string_view host,
                   const std::vector<std::string>& allowed);
std::vector<std::string> parseAllowedOrigins(std::string_view text);

enum class WebRoute { Asset, Terminal, NotFound, NotAllowed };
// GET or HEAD of a known path; the terminal's endpoint is "/ws". `assetPath` gets the asset's
// name ("/" means the page). A query string is ignored.
WebRoute routeWebRequest(std::string_view method, std::string_view target, std::string& assetPath);

// The page's text with "@BOARD_NAME@" replaced by the name, HTML-escaped.
std::string fillPageTemplate(std::string_view page, std::string_view boardName);
