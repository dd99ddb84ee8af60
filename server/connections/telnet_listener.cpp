#include "server/connections/telnet_listener.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>

#include "ovui.h"
#include "server/preferences/preferences.h"

namespace {

// Windows Sockets 1.1 capped the queue at 5; Linux takes more, and a burst of callers arriving
// together should not be refused by the kernel before the UI thread gets to them. With 1000
// callers arriving at 200 a second on a busy machine, 32 overflowed and dropped connection
// requests come back only after the client's one-second retry.
constexpr int ListenBacklog = 1024;

std::recursive_mutex listenerLock;
int listenFd = -1;
bool listening = false;
// Held in reserve so that, out of descriptors, a pending caller can still be accepted and
// dropped; otherwise the socket would stay readable and the watch would fire without end.
int spareFd = -1;

void openSpare() {
    if (spareFd < 0) spareFd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
}

void closeSpare() {
    if (spareFd >= 0) ::close(spareFd);
    spareFd = -1;
}

void setIntOption(int fd, int option) {
    int on = 1;
    (void)::setsockopt(fd, SOL_SOCKET, option, &on, sizeof on);
}

bool failListening(int fd, uint16_t port, const char* reason) {
    std::fprintf(stderr, "ovhost: cannot listen for Telnet on port %u: %s\n", unsigned(port),
                 reason);
    if (fd >= 0) ::close(fd);
    listenFd = -1;
    return false;
}

} // namespace

bool initWinsock() {
    std::signal(SIGPIPE, SIG_IGN);
    return true;
}

bool startListening(HWND window, UINT message) {
    std::lock_guard lock(listenerLock);
    if (listening) return true;
    uint16_t port = getTelnetPort();
    // Non-blocking, so a caller that gives up between the notification and accept cannot
    // block the UI thread; accepted sockets are made blocking again.
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0) return failListening(-1, port, std::strerror(errno));
    setIntOption(fd, SO_REUSEADDR);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
        return failListening(fd, port, std::strerror(errno));
    if (::listen(fd, ListenBacklog) != 0) return failListening(fd, port, std::strerror(errno));
    if (!ovWatchReadable(fd, window, message, 0))
        return failListening(fd, port, "the UI runtime cannot watch it");
    listenFd = fd;
    listening = true;
    openSpare();
    return true;
}

bool acceptCaller(int* out) {
    std::lock_guard lock(listenerLock);
    if (!listening) return false;
    // Another thread may have taken the spare's slot while it was free: take one back as soon
    // as a descriptor is free again.
    openSpare();
    int s = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
    if (s < 0) {
        if ((errno == EMFILE || errno == ENFILE) && spareFd >= 0) {
            closeSpare();
            int excess = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
            if (excess >= 0) ::close(excess);
            openSpare();
        } else if (errno == EMFILE || errno == ENFILE) {
            // No spare either: the caller stays queued and the socket readable, so pause a
            // little rather than let the readiness watch spin until a descriptor is free.
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }
    // accept4 without SOCK_NONBLOCK gives a blocking socket, whatever the listener is.
    setIntOption(s, SO_KEEPALIVE);
    setIntOption(s, SO_OOBINLINE);
    // A prompt written in two pieces must not wait for the caller's delayed acknowledgement.
    int on = 1;
    (void)::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    *out = s;
    return true;
}

void stopListening() {
    std::lock_guard lock(listenerLock);
    if (!listening) return;
    (void)ovUnwatch(listenFd);
    ::close(listenFd);
    listenFd = -1;
    listening = false;
    closeSpare();
}

void shutdownWinsock() {
    stopListening();
}

bool isListening() {
    std::lock_guard lock(listenerLock);
    return listening;
}
