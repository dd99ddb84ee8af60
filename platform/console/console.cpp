// The console's HTTP server. The only translation unit that includes httplib.h.
#include "platform/console/console.h"
#include "platform/console/console_internal.h"

#include <httplib.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

namespace {

std::recursive_mutex consoleLock;
// Serialises the lines the console prints, so they never interleave.
std::mutex printLock;

constexpr size_t kMaxBodyBytes = 256 * 1024;
constexpr int kWaitSliceMs = 500;
constexpr int kPingEverySlices = 30;
constexpr int kWorkerThreads = 24;

struct Running {
    ConsoleDriver driver;
    httplib::Server server;
    std::thread listener;
    std::string token;
    std::string address;
    std::string cookieName;
    int port = 0;
    std::atomic<bool> stopping{false};
};

std::unique_ptr<Running> running;

void printLine(const std::string& line) {
    std::lock_guard<std::mutex> hold(printLock);
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

std::string cookieValue(const httplib::Request& req, const std::string& name) {
    const std::string header = req.get_header_value("Cookie");
    size_t pos = 0;
    while (pos < header.size()) {
        size_t end = header.find(';', pos);
        if (end == std::string::npos) end = header.size();
        std::string part = header.substr(pos, end - pos);
        size_t start = part.find_first_not_of(' ');
        if (start != std::string::npos) {
            part = part.substr(start);
            if (part.size() > name.size() && part.compare(0, name.size(), name) == 0 &&
                part[name.size()] == '=')
                return part.substr(name.size() + 1);
        }
        pos = end + 1;
    }
    return {};
}

bool authorised(const Running& r, const httplib::Request& req) {
    if (req.has_param("token")) return tokenEquals(req.get_param_value("token"), r.token);
    return tokenEquals(cookieValue(req, r.cookieName), r.token);
}

std::string stateMessage(const ConsoleDriver& d, uint64_t version) {
    std::string snapshot = d.snapshotJson ? d.snapshotJson() : std::string();
    if (snapshot.empty()) snapshot = "{}";
    return "{\"version\":" + std::to_string(version) + ",\"state\":" + snapshot + "}";
}

std::string sseEvent(uint64_t version, const std::string& data) {
    std::string out = "id: " + std::to_string(version) + "\ndata: ";
    for (char c : data) {
        if (c == '\n')
            out += "\ndata: ";
        else if (c != '\r')
            out += c;
    }
    out += "\n\n";
    return out;
}

uint64_t currentVersion(const ConsoleDriver& d) {
    return d.stateVersion ? d.stateVersion() : 0;
}

void serveEvents(Running& r, httplib::Response& res) {
    Running* self = &r;
    res.set_header("X-Accel-Buffering", "no");
    res.set_chunked_content_provider(
        "text/event-stream", [self, sent = uint64_t(0), first = true,
                              idle = 0](size_t, httplib::DataSink& sink) mutable {
            const ConsoleDriver& d = self->driver;
            if (self->stopping) return false;
            uint64_t now = currentVersion(d);
            if (!first && now == sent && d.waitForChange) now = d.waitForChange(sent, kWaitSliceMs);
            if (self->stopping) return false;
            if (first || now != sent) {
                first = false;
                sent = now;
                idle = 0;
                std::string ev = sseEvent(now, stateMessage(d, now));
                return sink.write(ev.data(), ev.size());
            }
            if (!d.waitForChange) // no way to wait: poll gently
                std::this_thread::sleep_for(std::chrono::milliseconds(kWaitSliceMs));
            if (++idle >= kPingEverySlices) {
                idle = 0;
                static const char ping[] = ": ping\n\n";
                return sink.write(ping, sizeof ping - 1);
            }
            return true;
        });
}

void serveInput(Running& r, const httplib::Request& req, httplib::Response& res) {
    std::vector<ConsoleInput> events;
    if (!parseConsoleInput(req.body, events)) {
        res.status = 400;
        res.set_content("{\"error\":\"malformed input\"}", "application/json");
        return;
    }
    std::string accepted = "[";
    for (const auto& ev : events) {
        bool ok = r.driver.input && r.driver.input(ev);
        accepted += (accepted.size() > 1 ? "," : "");
        accepted += ok ? "true" : "false";
    }
    accepted += "]";
    res.set_content("{\"accepted\":" + accepted +
                        ",\"version\":" + std::to_string(currentVersion(r.driver)) + "}",
                    "application/json");
}

void serveAsset(Running& r, const httplib::Request& req, httplib::Response& res) {
    const ConsoleAsset* asset = findConsoleAsset(req.path);
    if (!asset) {
        res.status = 404;
        res.set_content("Not found", "text/plain");
        return;
    }
    if (req.has_param("token"))
        res.set_header("Set-Cookie",
                       r.cookieName + "=" + r.token + "; Path=/; HttpOnly; SameSite=Strict");
    res.set_content(reinterpret_cast<const char*>(asset->data), asset->size, asset->contentType);
}

void setUpRoutes(Running& r) {
    Running* self = &r;
    auto& svr = r.server;
    svr.new_task_queue = [] { return new httplib::ThreadPool(kWorkerThreads); };
    svr.set_payload_max_length(kMaxBodyBytes);
    svr.set_keep_alive_timeout(1);
    svr.set_read_timeout(5);
    svr.set_pre_routing_handler([self](const httplib::Request& req, httplib::Response& res) {
        res.set_header("Cache-Control", "no-store");
        res.set_header("X-Content-Type-Options", "nosniff");
        res.set_header("X-Frame-Options", "DENY");
        res.set_header("Referrer-Policy", "no-referrer");
        res.set_header("Content-Security-Policy",
                       "default-src 'self'; img-src 'self' data:; frame-ancestors 'none'");
        if (authorised(*self, req)) return httplib::Server::HandlerResponse::Unhandled;
        res.status = 403;
        res.set_content("Forbidden: the console needs its access token", "text/plain");
        return httplib::Server::HandlerResponse::Handled;
    });
    svr.Get("/state", [self](const httplib::Request&, httplib::Response& res) {
        uint64_t v = currentVersion(self->driver);
        res.set_content(stateMessage(self->driver, v), "application/json");
    });
    svr.Get("/events",
            [self](const httplib::Request&, httplib::Response& res) { serveEvents(*self, res); });
    svr.Post("/input", [self](const httplib::Request& req, httplib::Response& res) {
        serveInput(*self, req, res);
    });
    svr.Get(".*", [self](const httplib::Request& req, httplib::Response& res) {
        serveAsset(*self, req, res);
    });
}

std::string urlHost(const std::string& host) {
    return host.find(':') != std::string::npos ? "[" + host + "]" : host;
}

} // namespace

bool startConsoleWith(const ConsoleDriver& driver, const std::string& hostPort,
                      const std::string& token) {
    std::lock_guard<std::recursive_mutex> hold(consoleLock);
    if (running) return false;
    std::string host;
    int port = 0;
    if (!parseHostPort(hostPort, host, port)) {
        std::fprintf(stderr, "Console: cannot use the address \"%s\" (expected host:port)\n",
                     hostPort.c_str());
        return false;
    }
    auto r = std::make_unique<Running>();
    r->driver = driver;
    r->token = token.empty() ? makeAccessToken() : token;
    if (r->token.empty()) {
        std::fprintf(stderr, "Console: no randomness for the access token; running without it\n");
        return false;
    }
    setUpRoutes(*r);
    if (port == 0)
        port = r->server.bind_to_any_port(host);
    else if (!r->server.bind_to_port(host, port))
        port = -1;
    if (port <= 0) {
        std::fprintf(stderr, "Console: cannot listen on %s; the server runs without a console\n",
                     hostPort.c_str());
        return false;
    }
    r->port = port;
    r->cookieName = "ovconsole_" + std::to_string(port);
    r->address = "http://" + urlHost(host) + ":" + std::to_string(port) + "/?token=" + r->token;
    Running* self = r.get();
    r->listener = std::thread([self] { self->server.listen_after_bind(); });
    // httplib's stop() does nothing before the loop runs, so wait for it to be running.
    for (int i = 0; i < 5000 && !r->server.is_running(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (r->driver.setAnnouncer) r->driver.setAnnouncer(printLine);
    running = std::move(r);
    printLine("Console: " + running->address);
    return true;
}

namespace {

std::string consoleSetting() {
    const char* env = std::getenv("OVHOST_CONSOLE");
    return env && *env ? env : "127.0.0.1:8023";
}

bool remoteConsoleAllowed() {
    const char* env = std::getenv("OVHOST_CONSOLE_ALLOW_REMOTE");
    return env && std::strcmp(env, "1") == 0;
}

} // namespace

bool consoleSettingAccepted() {
    const std::string hostPort = consoleSetting();
    std::string host;
    int port = 0;
    // An address that does not parse is refused later, when the console tries to listen.
    if (!parseHostPort(hostPort, host, port) || isLoopbackHost(host) || remoteConsoleAllowed())
        return true;
    std::fprintf(stderr,
                 "Console: OVHOST_CONSOLE=%s is not a loopback address: the console's token "
                 "would cross the network in clear text. Reach the console through an SSH "
                 "tunnel, or set OVHOST_CONSOLE_ALLOW_REMOTE=1 to listen there anyway.\n",
                 hostPort.c_str());
    return false;
}

bool startConsole() {
    if (!consoleSettingAccepted()) return false;
    const std::string hostPort = consoleSetting();
    std::string host;
    int port = 0;
    if (parseHostPort(hostPort, host, port) && !isLoopbackHost(host))
        std::fprintf(stderr,
                     "Console: warning: OVHOST_CONSOLE=%s is not a loopback address; anyone "
                     "who can reach it and learns the token controls the server\n",
                     hostPort.c_str());
    // Kept in the working directory, so a console page left open reconnects after a restart.
    return startConsoleWith(ovuiConsoleDriver(), hostPort, loadOrMakeTokenFile(ConsoleTokenFile));
}

void stopConsole() {
    std::unique_ptr<Running> r;
    {
        std::lock_guard<std::recursive_mutex> hold(consoleLock);
        r = std::move(running);
    }
    if (!r) return;
    if (r->driver.setAnnouncer) r->driver.setAnnouncer({});
    r->stopping = true;
    r->server.stop();
    if (r->listener.joinable()) r->listener.join();
}

std::string consoleAddress() {
    std::lock_guard<std::recursive_mutex> hold(consoleLock);
    return running ? running->address : std::string();
}

int consolePort() {
    std::lock_guard<std::recursive_mutex> hold(consoleLock);
    return running ? running->port : 0;
}
