#include "server/control/single_instance.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "platform/console/console.h"
#include "server/sysop/app_state.h"
#include "server/sysop/main_window_resources.h"

namespace {

constexpr const char* ShowRequest = "show\n";
constexpr int AnswerTimeoutMs = 5000;
constexpr size_t MaxAnswer = 1024;

std::mutex instanceLock;
int listenFd = -1;
int wakeFds[2] = {-1, -1};
std::thread responder;

socklen_t instanceAddress(sockaddr_un& addr) {
    std::memset(&addr, 0, sizeof addr);
    addr.sun_family = AF_UNIX;
    // Abstract name: a leading NUL, then the title without a terminator.
    const size_t n = std::strlen(MainWindowTitle);
    std::memcpy(addr.sun_path + 1, MainWindowTitle, n);
    return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + n);
}

void setTimeouts(int fd, int ms) {
    timeval tv{ms / 1000, (ms % 1000) * 1000};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

void showMainWindow(void*) {
    if (HWND window = mainWindow.load()) {
        ovShowWindow(window, SW_SHOWNORMAL);
        ovSetForegroundWindow(window);
    }
}

// An abstract socket has no permissions: anyone on the machine may connect. The address carries
// the console's token, so only our own user (or root) gets it or may bring the window up.
bool peerIsTrusted(int fd) {
    ucred peer{};
    socklen_t len = sizeof peer;
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &len) != 0 || len != sizeof peer)
        return false;
    return peer.uid == 0 || peer.uid == geteuid();
}

void answer(int fd) {
    setTimeouts(fd, AnswerTimeoutMs);
    char request[16] = {};
    ssize_t n = recv(fd, request, sizeof request - 1, 0);
    if (n > 0 && std::strncmp(request, ShowRequest, std::strlen(ShowRequest)) == 0) {
        std::string reply;
        if (peerIsTrusted(fd)) {
            ovPostCall(showMainWindow, nullptr);
            reply = consoleAddress() + "\n";
        } else {
            reply = std::string(OtherUserAnswer) + "\n";
        }
        (void)send(fd, reply.data(), reply.size(), MSG_NOSIGNAL);
    }
    close(fd);
}

void serve(int fd, int wakeFd) {
    for (;;) {
        pollfd fds[2] = {{fd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) continue;
        if (fds[1].revents) return;
        if (fds[0].revents & POLLIN) {
            int caller = accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
            if (caller >= 0) answer(caller);
        }
    }
}

} // namespace

bool askRunningInstance(std::string& address, bool* otherUser) {
    address.clear();
    if (otherUser) *otherUser = false;
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_un addr;
    socklen_t len = instanceAddress(addr);
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), len) != 0) {
        close(fd);
        return false;
    }
    setTimeouts(fd, AnswerTimeoutMs);
    (void)send(fd, ShowRequest, std::strlen(ShowRequest), MSG_NOSIGNAL);
    std::string reply;
    char buf[256];
    ssize_t n;
    while (reply.size() < MaxAnswer && (n = recv(fd, buf, sizeof buf, 0)) > 0)
        reply.append(buf, static_cast<size_t>(n));
    close(fd);
    if (size_t end = reply.find('\n'); end != std::string::npos) reply.resize(end);
    if (reply == OtherUserAnswer) {
        if (otherUser) *otherUser = true;
        return true;
    }
    address = reply;
    return true;
}

bool claimSingleInstance() {
    std::lock_guard lock(instanceLock);
    if (listenFd >= 0) return true;
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_un addr;
    socklen_t len = instanceAddress(addr);
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), len) != 0 || listen(fd, 8) != 0 ||
        pipe2(wakeFds, O_CLOEXEC) != 0) {
        close(fd);
        return false;
    }
    listenFd = fd;
    responder = std::thread(serve, listenFd, wakeFds[0]);
    return true;
}

void releaseSingleInstance() {
    std::lock_guard lock(instanceLock);
    if (listenFd < 0) return;
    (void)write(wakeFds[1], "x", 1);
    if (responder.joinable()) responder.join();
    close(listenFd);
    close(wakeFds[0]);
    close(wakeFds[1]);
    listenFd = -1;
    wakeFds[0] = wakeFds[1] = -1;
}
