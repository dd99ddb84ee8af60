#include "server/connections/ssh_listener.h"

#include <libssh/libssh.h>
#include <libssh/server.h>

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include "server/connections/ssh_host_keys.h"
#include "server/connections/ssh_settings.h"
#include "server/preferences/preferences.h"

namespace {

// Same backlog as Telnet: a burst of callers waits in the kernel, not refused.
constexpr int ListenBacklog = 1024;
// Out of descriptors with no spare left: how long to leave the listener alone.
constexpr int NoDescriptorPauseMs = 20;

struct Listener {
    std::recursive_mutex lock; // start and stop; the accept thread works without it
    std::thread thread;
    ssh_bind bind = nullptr;
    int listenFd = -1;
    int wakeFd = -1;
    int spareFd = -1;
    SshCallerHandler handler = nullptr;
    SshAddress address;
    std::vector<std::string> startupLines;
    bool listening = false;
};
Listener listener;
// The sockets of callers still in their handshake, so that a stop can end them; each leaves
// the list before its connection closes it.
std::mutex pendingLock;
std::vector<int> pending;
std::atomic<uint32_t> handshakes{0};

void forgetPending(int fd) {
    std::lock_guard g(pendingLock);
    auto at = std::find(pending.begin(), pending.end(), fd);
    if (at != pending.end()) pending.erase(at);
}

bool refuse(const char* text) {
    std::fprintf(stderr, "ovhost: SSH is off: %s\n", text);
    return false;
}

void closeFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

void openSpare() {
    if (listener.spareFd < 0) listener.spareFd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
}

std::chrono::steady_clock::time_point loginDeadline() {
    uint32_t idle = getIdleTimeoutMs();
    uint32_t grace = idle == 0 ? SshLoginGraceMs : std::min(idle, SshLoginGraceMs);
    return std::chrono::steady_clock::now() + std::chrono::milliseconds(grace);
}

// One accepted socket: ours for the connection, a duplicate for libssh (which closes its own
// when it sees the client go, while ours must stay until the session thread is done with it).
void takeCaller(int s) {
    if (handshakes.load() >= MaxSshHandshakes) {
        ::close(s);
        return;
    }
    int on = 1;
    (void)::setsockopt(s, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    (void)::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    // libssh waits with poll and expects sends that never block.
    int flags = ::fcntl(s, F_GETFL);
    int forLibssh = ::fcntl(s, F_DUPFD_CLOEXEC, 0);
    ssh_session session = forLibssh >= 0 ? ssh_new() : nullptr;
    if (!session || flags < 0 || ::fcntl(s, F_SETFL, flags | O_NONBLOCK) != 0 ||
        ssh_bind_accept_fd(listener.bind, session, forLibssh) != SSH_OK) {
        if (session && ssh_get_fd(session) == forLibssh) forLibssh = -1; // ssh_free closes it
        if (session) ssh_free(session);
        closeFd(forLibssh);
        ::close(s);
        return;
    }
    handshakes.fetch_add(1);
    {
        std::lock_guard g(pendingLock);
        pending.push_back(s);
    }
    listener.handler(SshCaller{s, session, loginDeadline()});
}

void acceptLoop(int listenFd, int wakeFd) {
    for (;;) {
        pollfd fds[2] = {{listenFd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[1].revents) return;
        if (!(fds[0].revents & POLLIN)) continue;
        openSpare();
        int s = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (s >= 0) {
            takeCaller(s);
        } else if ((errno == EMFILE || errno == ENFILE) && listener.spareFd >= 0) {
            // Out of descriptors: take the caller with the spare's slot and let it go, rather
            // than leave it queued and the listener readable for ever.
            closeFd(listener.spareFd);
            int excess = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
            if (excess >= 0) ::close(excess);
        } else if (errno == EMFILE || errno == ENFILE) {
            ::poll(nullptr, 0, NoDescriptorPauseMs);
        }
    }
}

bool bindTo(const SshAddress& address, int* out) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0) return false;
    int on = 1;
    (void)::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(address.port);
    std::memcpy(&a.sin_addr.s_addr, address.host, 4);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::listen(fd, ListenBacklog) != 0) {
        int saved = errno;
        ::close(fd);
        errno = saved;
        return false;
    }
    *out = fd;
    return true;
}

// The bind owns the keys once it has them.
bool makeBind(ssh_key ed25519, ssh_key rsa) {
    listener.bind = ssh_bind_new();
    if (!listener.bind) return false;
    bool no = false;
    int quiet = SSH_LOG_NOLOG;
    (void)ssh_bind_options_set(listener.bind, SSH_BIND_OPTIONS_PROCESS_CONFIG, &no);
    (void)ssh_bind_options_set(listener.bind, SSH_BIND_OPTIONS_LOG_VERBOSITY, &quiet);
    return ssh_bind_options_set(listener.bind, SSH_BIND_OPTIONS_IMPORT_KEY, ed25519) == SSH_OK &&
           ssh_bind_options_set(listener.bind, SSH_BIND_OPTIONS_IMPORT_KEY, rsa) == SSH_OK;
}

} // namespace

bool startSshListener(SshCallerHandler handler) {
    std::lock_guard g(listener.lock);
    if (listener.listening) return true;
    const char* setting = std::getenv(SshSettingName);
    if (!setting || !*setting) return false;
    SshAddress address;
    if (!parseSshAddress(setting, address))
        return refuse("OVHOST_SSH must be [host:]port, with an IPv4 host");
    if (ssh_init() != SSH_OK) return refuse("libssh cannot start");
    ssh_set_log_level(SSH_LOG_NOLOG);

    ssh_key ed25519 = nullptr, rsa = nullptr;
    std::string error;
    if (!loadOrMakeHostKey(SshEd25519KeyFile, SshHostKeyType::Ed25519, &ed25519, &error) ||
        !loadOrMakeHostKey(SshRsaKeyFile, SshHostKeyType::Rsa, &rsa, &error)) {
        ssh_key_free(ed25519);
        return refuse(error.c_str());
    }
    std::vector<std::string> lines;
    char where[64];
    std::snprintf(where, sizeof where, "SSH on %u.%u.%u.%u:%u", address.host[0], address.host[1],
                  address.host[2], address.host[3], unsigned(address.port));
    lines.push_back(where);
    lines.push_back("ED25519 key fingerprint is " + hostKeyFingerprint(ed25519));
    lines.push_back("RSA key fingerprint is " + hostKeyFingerprint(rsa));
    if (!makeBind(ed25519, rsa)) {
        if (!listener.bind) {
            ssh_key_free(ed25519);
            ssh_key_free(rsa);
        }
        stopSshListener();
        return refuse("libssh does not take the host keys");
    }

    int fd = -1;
    if (!bindTo(address, &fd)) {
        std::string why = std::string("cannot listen on ") + setting + ": " + std::strerror(errno);
        stopSshListener();
        return refuse(why.c_str());
    }
    listener.wakeFd = ::eventfd(0, EFD_CLOEXEC);
    if (listener.wakeFd < 0) {
        ::close(fd);
        stopSshListener();
        return refuse("no event descriptor for the accept thread");
    }
    listener.listenFd = fd;
    listener.handler = handler;
    listener.address = address;
    listener.startupLines = lines;
    openSpare();
    try {
        listener.thread = std::thread(acceptLoop, listener.listenFd, listener.wakeFd);
    } catch (const std::system_error&) {
        stopSshListener();
        return refuse("no thread to accept callers on");
    }
    listener.listening = true;
    return true;
}

void stopSshListener() {
    std::lock_guard g(listener.lock);
    if (listener.thread.joinable()) {
        const uint64_t one = 1;
        (void)!::write(listener.wakeFd, &one, sizeof one);
        listener.thread.join();
    }
    {
        // Their threads find the socket gone and end, rather than wait out the login grace.
        std::lock_guard pg(pendingLock);
        for (int fd : pending)
            ::shutdown(fd, SHUT_RDWR);
    }
    closeFd(listener.listenFd);
    closeFd(listener.wakeFd);
    closeFd(listener.spareFd);
    // Sessions already handed out hold copies of the keys; the bind may go.
    if (listener.bind) ssh_bind_free(listener.bind);
    listener.bind = nullptr;
    listener.startupLines.clear();
    listener.listening = false;
}

bool isSshListening() {
    std::lock_guard g(listener.lock);
    return listener.listening;
}

std::vector<std::string> sshStartupLines() {
    std::lock_guard g(listener.lock);
    return listener.startupLines;
}

void endSshHandshake(int socketFd) {
    forgetPending(socketFd);
    handshakes.fetch_sub(1);
}

uint32_t sshHandshakesInProgress() {
    return handshakes.load();
}

void discardSshCaller(SshCaller& caller) {
    if (caller.session) ssh_free(caller.session);
    caller.session = nullptr;
    endSshHandshake(caller.socketFd);
    closeFd(caller.socketFd);
}
