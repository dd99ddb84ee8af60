// Arbitrary requests to the caller page: Beast parses the request, and our rules judge its
// path, Origin and Host, X-Forwarded-For, and the OVHOST_WEB_* texts.
#include "fuzz_common.h"
#include "server/connections/web_beast.h"
#include "server/connections/web_rules.h"

namespace {

std::string_view view(beast::string_view s) {
    return {s.data(), s.size()};
}

void judgeTexts(std::string_view text) {
    WebAddress a;
    if (parseWebAddress(text, a)) fuzz::check(!text.empty());
    std::string rejected;
    auto proxies = parseTrustedProxies(text, &rejected);
    fuzz::check(proxies.size() <= text.size());
    for (const WebNetwork& n : proxies)
        fuzz::check((n.address & ~n.mask) == 0);
    for (const std::string& o : parseAllowedOrigins(text))
        fuzz::check(!o.empty() && o.back() != '/');
    const std::string page = fillPageTemplate("<title>@BOARD_NAME@</title>", text);
    fuzz::check(page.find('<', 1) == page.size() - 8); // only the closing tag's
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 64 * 1024) return 0;
    std::string_view text(reinterpret_cast<const char*>(data), size);
    judgeTexts(text);

    http::request_parser<http::empty_body> parser;
    parser.header_limit(8192);
    beast::error_code ec;
    parser.put(net::buffer(data, size), ec);
    if (ec || !parser.is_header_done()) return 0;
    const auto& req = parser.get();
    std::string asset;
    WebRoute route = routeWebRequest(view(req.method_string()), view(req.target()), asset);
    if (route == WebRoute::Asset) {
        fuzz::check(!asset.empty() && asset[0] == '/' && asset.find("..") == std::string::npos);
        fuzz::check(asset.find('/', 1) == std::string::npos);
    }
    const auto trusted = parseTrustedProxies("127.0.0.1 10.0.0.0/8", nullptr);
    uint8_t client[4];
    auto forwarded = req.find("X-Forwarded-For");
    if (forwarded != req.end() && forwardedClient(view(forwarded->value()), trusted, client))
        fuzz::check(!forwarded->value().empty());
    auto origin = req.find(http::field::origin);
    if (origin != req.end()) {
        const std::string_view o = view(origin->value());
        if (originAllowed(o, view(req[http::field::host]), {}))
            fuzz::check(o.find_first_not_of(" \t") == std::string_view::npos ||
                        o.find("://") != std::string_view::npos);
        fuzz::check(originAllowed(o, "", {"*"}));
    }
    return 0;
}
