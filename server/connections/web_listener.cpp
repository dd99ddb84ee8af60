#include "server/connections/web_listener.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <set>
#include <system_error>
#include <thread>

#include "server/base/caller_threads.h"
#include "server/connections/web_assets.h"
#include "server/connections/web_beast.h"
#include "server/connections/web_connection.h"
#include "server/connections/web_rules.h"

namespace {

using namespace std::chrono_literals;

// Visitors that have not opened the terminal yet: each holds a thread, so their number and
// the time they may take are bounded. Callers beyond that are the user limit's business.
constexpr uint32_t MaxWaitingVisitors = 64;
constexpr auto RequestTimeout = 10s;  // for each request, and for the WebSocket handshake
constexpr auto ResponseTimeout = 60s; // xterm.js and the font are big for a slow line
constexpr int MaxRequestsPerVisitor = 32;
constexpr uint32_t MaxHeaderBytes = 8192;
// Keys and pastes; the page sends a paste in pieces well below this.
constexpr size_t MaxMessageBytes = 16384;
// A caller whose browser has gone silent is pinged after half of this and dropped after all of
// it; the ping also keeps a proxy from closing a quiet connection (nginx waits 60 s).
constexpr auto DeadPeerTimeout = 50s;
constexpr auto StopBound = 5s;
constexpr int ListenBacklog = 1024;

struct WebSettings {
    WebAddress address;
    std::vector<WebNetwork> trustedProxies;
    std::vector<std::string> allowedOrigins;
    WebHooks hooks;
};

std::recursive_mutex webLock; // guards the fields below
std::shared_ptr<const WebSettings> settings;
std::thread acceptThread;
int listenFd = -1;
int spareFd = -1;
std::string address;
std::set<WebLink*> liveLinks;

std::atomic<bool> stopping{false};
std::atomic<uint32_t> threads{0};
std::atomic<uint32_t> waiting{0};

void openSpare() {
    if (spareFd < 0) spareFd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
}

void closeSpare() {
    if (spareFd >= 0) ::close(spareFd);
    spareFd = -1;
}

void addressOf(const sockaddr_in& a, uint8_t out[4], uint16_t* port) {
    std::memcpy(out, &a.sin_addr.s_addr, 4);
    *port = ntohs(a.sin_port);
}

// The socket's two ends, and the caller's own address when a trusted proxy forwarded it.
WebPeer peerOf(int fd, const http::request<http::empty_body>& req, const WebSettings& s) {
    WebPeer p;
    sockaddr_in a{};
    socklen_t len = sizeof a;
    if (getpeername(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0 && a.sin_family == AF_INET)
        addressOf(a, p.remote, &p.remotePort);
    a = {};
    len = sizeof a;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0 && a.sin_family == AF_INET)
        addressOf(a, p.local, &p.localPort);
    auto forwarded = req.find("X-Forwarded-For");
    uint8_t client[4];
    if (forwarded != req.end() && isTrusted(s.trustedProxies, p.remote) &&
        forwardedClient(std::string_view(forwarded->value().data(), forwarded->value().size()),
                        s.trustedProxies, client)) {
        std::memcpy(p.via, p.remote, 4);
        p.viaPort = p.remotePort;
        std::memcpy(p.remote, client, 4);
        p.remotePort = 0;
        p.forwarded = true;
    }
    return p;
}

std::string_view view(beast::string_view s) {
    return {s.data(), s.size()};
}

// Registers a visitor's link so that a stop can reach it.
struct LiveLink {
    WebLink& link;
    explicit LiveLink(WebLink& l) : link(l) {
        std::lock_guard g(webLock);
        liveLinks.insert(&link);
    }
    ~LiveLink() {
        std::lock_guard g(webLock);
        liveLinks.erase(&link);
    }
};

// Counts a visitor out of the waiting ones once, when it becomes a caller or leaves.
struct WaitingSeat {
    bool held = true;
    void release() {
        if (held) waiting.fetch_sub(1);
        held = false;
    }
    ~WaitingSeat() { release(); }
};

http::response<http::string_body> makeResponse(http::status status, unsigned version,
                                               bool keepAlive) {
    http::response<http::string_body> res{status, version};
    res.keep_alive(keepAlive);
    res.set(http::field::cache_control, "no-cache");
    res.set("X-Content-Type-Options", "nosniff");
    res.set("Referrer-Policy", "no-referrer");
    // Everything the page needs comes from here; xterm.js sets its own style elements.
    res.set("Content-Security-Policy",
            "default-src 'self'; style-src 'self' 'unsafe-inline'; frame-ancestors 'self'");
    return res;
}

http::response<http::string_body> answer(const http::request<http::empty_body>& req,
                                         const WebSettings& s) {
    std::string assetPath;
    const bool keepAlive = req.keep_alive();
    switch (routeWebRequest(view(req.method_string()), view(req.target()), assetPath)) {
    case WebRoute::Asset:
        if (const WebAsset* asset = findWebAsset(assetPath)) {
            // The page carries the board's name of the moment; the rest is asked again by tag.
            const bool tagged = assetPath != "/";
            if (tagged && req[http::field::if_none_match] == asset->etag) {
                auto res = makeResponse(http::status::not_modified, req.version(), keepAlive);
                res.set(http::field::etag, asset->etag);
                res.prepare_payload();
                return res;
            }
            auto res = makeResponse(http::status::ok, req.version(), keepAlive);
            res.set(http::field::content_type, asset->type);
            if (tagged) res.set(http::field::etag, asset->etag);
            std::string_view body(reinterpret_cast<const char*>(asset->data), asset->size);
            if (assetPath == "/")
                res.body() = fillPageTemplate(body, s.hooks.boardName ? s.hooks.boardName() : "");
            else
                res.body().assign(body);
            res.prepare_payload();
            if (req.method() == http::verb::head) res.body().clear();
            return res;
        }
        break;
    case WebRoute::Terminal: {
        auto res = makeResponse(http::status::upgrade_required, req.version(), false);
        res.set(http::field::upgrade, "websocket");
        res.prepare_payload();
        return res;
    }
    case WebRoute::NotAllowed: {
        auto res = makeResponse(http::status::method_not_allowed, req.version(), false);
        res.set(http::field::allow, "GET, HEAD");
        res.prepare_payload();
        return res;
    }
    case WebRoute::NotFound:
        break;
    }
    if (assetPath == "/favicon.ico") { // asked for by every browser; the page has none
        auto res = makeResponse(http::status::no_content, req.version(), keepAlive);
        res.prepare_payload();
        return res;
    }
    auto res = makeResponse(http::status::not_found, req.version(), keepAlive);
    res.set(http::field::content_type, "text/plain; charset=utf-8");
    res.body() = "Not found\n";
    res.prepare_payload();
    return res;
}

// The terminal: after the handshake the visitor is a caller, and this thread its session thread.
void openTerminal(WebLink& link, const http::request<http::empty_body>& req, const WebSettings& s,
                  WaitingSeat& seat) {
    beast::get_lowest_layer(link.ws).expires_never();
    websocket::stream_base::timeout t;
    t.handshake_timeout = RequestTimeout;
    t.idle_timeout = DeadPeerTimeout;
    t.keep_alive_pings = true;
    link.ws.set_option(t);
    link.ws.read_message_max(MaxMessageBytes);
    link.ws.auto_fragment(false);
    bool done = false;
    beast::error_code ec;
    link.ws.async_accept(req, [&](beast::error_code e) {
        ec = e;
        done = true;
    });
    if (!link.runUntil([&] { return done; }, nullptr) || ec) return;
    const WebPeer peer = peerOf(link.ws.next_layer().socket().native_handle(), req, s);
    seat.release();
    WebConnection connection(link, peer);
    if (s.hooks.runSession) s.hooks.runSession(connection);
}

void refuse(WebLink& link, http::status status, unsigned version) {
    auto res = makeResponse(status, version, false);
    res.prepare_payload();
    bool done = false;
    http::async_write(link.ws.next_layer(), res, [&](beast::error_code, size_t) { done = true; });
    (void)link.runUntil([&] { return done; }, nullptr);
}

void serveVisitor(WebLink& link, const WebSettings& s, WaitingSeat& seat) {
    auto& stream = link.ws.next_layer();
    beast::flat_buffer buffer;
    for (int served = 0; served < MaxRequestsPerVisitor && !stopping; ++served) {
        http::request_parser<http::empty_body> parser;
        parser.header_limit(MaxHeaderBytes);
        stream.expires_after(RequestTimeout);
        bool done = false;
        beast::error_code ec;
        http::async_read(stream, buffer, parser, [&](beast::error_code e, size_t) {
            ec = e;
            done = true;
        });
        if (!link.runUntil([&] { return done; }, nullptr) || ec) return;
        const auto& req = parser.get();
        std::string ignored;
        if (routeWebRequest(view(req.method_string()), view(req.target()), ignored) ==
                WebRoute::Terminal &&
            websocket::is_upgrade(req)) {
            auto origin = req.find(http::field::origin);
            if (origin != req.end() &&
                !originAllowed(view(origin->value()), view(req[http::field::host]),
                               s.allowedOrigins))
                return refuse(link, http::status::forbidden, req.version());
            return openTerminal(link, req, s, seat);
        }
        auto res = answer(req, s);
        stream.expires_after(ResponseTimeout);
        done = false;
        http::async_write(stream, res, [&](beast::error_code e, size_t) {
            ec = e;
            done = true;
        });
        if (!link.runUntil([&] { return done; }, nullptr) || ec || !res.keep_alive()) return;
    }
}

// The visitor's thread: it owns the socket from here on.
void visitorThread(int fd, std::shared_ptr<const WebSettings> s) {
    {
        WaitingSeat seat;
        std::unique_ptr<WebLink> link;
        try {
            link = std::make_unique<WebLink>();
        } catch (const std::exception&) {
            // No event loop to be had (out of descriptors or memory): let this one go.
        }
        beast::error_code ec;
        if (link) link->ws.next_layer().socket().assign(tcp::v4(), fd, ec);
        if (!link || ec) {
            ::close(fd);
        } else {
            LiveLink live(*link);
            if (!stopping) serveVisitor(*link, *s, seat);
            beast::error_code ignored;
            link->ws.next_layer().socket().shutdown(tcp::socket::shutdown_both, ignored);
        }
    }
    threads.fetch_sub(1);
}

// Too many visitors at once: a short answer without a thread.
void refuseBusy(int fd) {
    static const char reply[] = "HTTP/1.1 503 Service Unavailable\r\nContent-Length: 0\r\n"
                                "Retry-After: 5\r\nConnection: close\r\n\r\n";
    (void)::send(fd, reply, sizeof reply - 1, MSG_DONTWAIT | MSG_NOSIGNAL);
    ::close(fd);
}

void acceptLoop(int fd, std::shared_ptr<const WebSettings> s) {
    while (!stopping) {
        int c = ::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
        if (c < 0) {
            if (stopping) return;
            if (errno == EMFILE || errno == ENFILE) {
                // Out of descriptors: take the spare's slot to let one visitor go, else wait
                // a moment instead of spinning on the queue.
                std::lock_guard g(webLock);
                if (spareFd >= 0) {
                    closeSpare();
                    int excess = ::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
                    if (excess >= 0) ::close(excess);
                    openSpare();
                    continue;
                }
            }
            if (errno != EINTR && errno != ECONNABORTED) std::this_thread::sleep_for(20ms);
            std::lock_guard g(webLock);
            openSpare();
            continue;
        }
        int on = 1;
        (void)::setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        (void)::setsockopt(c, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
        if (waiting.load() >= MaxWaitingVisitors) {
            refuseBusy(c);
            continue;
        }
        waiting.fetch_add(1);
        threads.fetch_add(1);
        if (!startCallerThread([c, s] { visitorThread(c, s); })) {
            waiting.fetch_sub(1);
            threads.fetch_sub(1);
            ::close(c);
        }
    }
}

bool failStart(int fd, const char* what, const char* detail) {
    std::fprintf(stderr, "ovhost: no caller page: %s%s%s\n", what, detail[0] ? ": " : "", detail);
    if (fd >= 0) ::close(fd);
    return false;
}

// Each web caller holds a few descriptors (its socket and its event loop); let the server use
// as many as it is allowed, not just the default soft limit.
void raiseDescriptorLimit() {
    rlimit r{};
    if (getrlimit(RLIMIT_NOFILE, &r) == 0 && r.rlim_cur < r.rlim_max) {
        r.rlim_cur = r.rlim_max;
        (void)setrlimit(RLIMIT_NOFILE, &r);
    }
}

} // namespace

bool startWebListener(const WebHooks& hooks) {
    const char* where = std::getenv("OVHOST_WEB");
    if (!where || !where[0]) return false;
    std::lock_guard g(webLock);
    if (listenFd >= 0) return true;
    auto s = std::make_shared<WebSettings>();
    if (!parseWebAddress(where, s->address))
        return failStart(-1, "OVHOST_WEB is not [host:]port", where);
    std::string rejected;
    if (const char* proxies = std::getenv("OVHOST_WEB_TRUSTED_PROXIES"))
        s->trustedProxies = parseTrustedProxies(proxies, &rejected);
    if (!rejected.empty())
        std::fprintf(stderr, "ovhost: OVHOST_WEB_TRUSTED_PROXIES: left out %s\n", rejected.c_str());
    if (const char* origins = std::getenv("OVHOST_WEB_ORIGINS"))
        s->allowedOrigins = parseAllowedOrigins(origins);
    s->hooks = hooks;

    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0) return failStart(-1, "socket", std::strerror(errno));
    int on = 1;
    (void)::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(s->address.port);
    std::memcpy(&a.sin_addr.s_addr, s->address.host, 4);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
        return failStart(fd, where, std::strerror(errno));
    if (::listen(fd, ListenBacklog) != 0) return failStart(fd, where, std::strerror(errno));
    socklen_t len = sizeof a;
    (void)getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    raiseDescriptorLimit();

    stopping = false;
    try {
        acceptThread = std::thread(acceptLoop, fd, std::shared_ptr<const WebSettings>(s));
    } catch (const std::system_error&) {
        return failStart(fd, "no thread to accept callers", "");
    }
    listenFd = fd;
    settings = s;
    openSpare();
    const uint8_t* h = s->address.host;
    const bool everywhere = !(h[0] | h[1] | h[2] | h[3]);
    char text[64];
    std::snprintf(text, sizeof text, "http://%d.%d.%d.%d:%d/", everywhere ? 127 : h[0],
                  everywhere ? 0 : h[1], everywhere ? 0 : h[2], everywhere ? 1 : h[3],
                  ntohs(a.sin_port));
    address = text;
    std::printf("Caller page: %s\n", text);
    std::fflush(stdout);
    return true;
}

void stopWebListener() {
    std::thread accepting;
    {
        std::lock_guard g(webLock);
        if (listenFd < 0) return;
        stopping = true;
        // Wakes the blocked accept; the descriptor is closed once that thread has gone.
        (void)::shutdown(listenFd, SHUT_RDWR);
        accepting = std::move(acceptThread);
    }
    if (accepting.joinable()) accepting.join();
    {
        std::lock_guard g(webLock);
        ::close(listenFd);
        listenFd = -1;
        closeSpare();
        address.clear();
        settings.reset();
        // Every visitor and caller still here loses its socket on its own thread's loop.
        for (WebLink* link : liveLinks)
            net::post(link->ioc,
                      [link] { beast::close_socket(beast::get_lowest_layer(link->ws)); });
    }
    const auto end = std::chrono::steady_clock::now() + StopBound;
    while (threads.load() > 0 && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(10ms);
}

std::string webListenerAddress() {
    std::lock_guard g(webLock);
    return address;
}

uint32_t runningWebThreads() {
    return threads.load();
}

uint32_t waitingWebVisitors() {
    return waiting.load();
}
