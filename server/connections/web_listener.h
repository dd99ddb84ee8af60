// The caller page: a listener for HTTP and WebSocket, switched on by OVHOST_WEB=[host:]port.
// One thread accepts; every visitor gets a thread of its own that answers its requests for the
// page and its assets and, once it opens the terminal ("/ws"), becomes that caller's session
// thread. Visitors that have not become callers yet are bounded in number and time.
// OVHOST_WEB_TRUSTED_PROXIES names the proxies whose X-Forwarded-For is believed;
// OVHOST_WEB_ORIGINS names pages elsewhere that may open the terminal besides the page itself.
#pragma once

#include <cstdint>
#include <string>

class Connection;

struct WebHooks {
    void (*runSession)(Connection&) = nullptr; // the caller's whole stay
    std::string (*boardName)() = nullptr;      // the page's title
};

// Without OVHOST_WEB does nothing and returns false. Otherwise listens, prints
// "Caller page: <address>" on standard output and returns true; a setting that cannot be used
// or an address that cannot be taken is told on standard error, and the server runs on.
[[nodiscard]] bool startWebListener(const WebHooks& hooks);
// Stops accepting, drops every visitor and web caller, and waits a little for their threads.
void stopWebListener();
// "http://127.0.0.1:8080/"; empty while not listening.
std::string webListenerAddress();
// Threads of visitors and web callers still running; visitors not yet callers.
uint32_t runningWebThreads();
uint32_t waitingWebVisitors();
