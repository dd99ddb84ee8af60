#include "server/connections/ssh_connection.h"

#include <libssh/callbacks.h>
#include <libssh/libssh.h>
#include <libssh/server.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>

#include "server/preferences/preferences.h"

namespace {

// Requests of every kind that one client may make before it is in: enough for an agent with
// a dozen keys and every password try, not enough to keep us verifying signatures.
constexpr uint32_t MaxAuthRequests = 40;
// How long a closing caller may take to take the channel's last bytes and its close.
constexpr uint32_t CloseFlushMs = 2000;
constexpr int KexTimerSlackMs = 100;

void addressOf(const sockaddr_in& a, uint8_t out[4], uint16_t* port) {
    std::memcpy(out, &a.sin_addr.s_addr, 4);
    *port = ntohs(a.sin_port);
}

int msUntil(SshConnection::Clock::time_point deadline) {
    if (deadline == SshConnection::Clock::time_point::max()) return -1;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                      SshConnection::Clock::now())
                    .count();
    return static_cast<int>(std::clamp<long long>(left, 0, INT_MAX));
}

SshConnection* self(void* userdata) {
    return static_cast<SshConnection*>(userdata);
}

} // namespace

// libssh keeps pointers to these for the session's life, so they live beside it.
struct SshConnection::Callbacks {
    ssh_server_callbacks_struct server{};
    ssh_channel_callbacks_struct channel{};
};

SshConnection::SshConnection(int socketFd, ssh_session_struct* session)
    : Connection(socketFd, true), session_(session), callbacks_(new Callbacks) {
    sockaddr_in a{};
    socklen_t len = sizeof a;
    if (getpeername(socketFd, reinterpret_cast<sockaddr*>(&a), &len) == 0 &&
        a.sin_family == AF_INET)
        addressOf(a, remoteAddress_, &remotePort_);
    a = {};
    len = sizeof a;
    if (getsockname(socketFd, reinterpret_cast<sockaddr*>(&a), &len) == 0 &&
        a.sin_family == AF_INET)
        addressOf(a, localAddress_, &localPort_);
}

SshConnection::~SshConnection() {
    if (isOpen() && shellStarted_) closePolitely();
    disconnect();
    if (channel_) ssh_channel_free(channel_);
    if (event_) {
        (void)ssh_event_remove_session(event_, session_);
        ssh_event_free(event_);
    }
    // Closes libssh's duplicate of the socket; ours goes only now, when nothing can use it.
    ssh_free(session_);
    if (handle() >= 0) ::close(handle());
}

void SshConnection::closePolitely() {
    // The client's shell ends as a shell does: status, end of file, close. Bounded, so that a
    // client that stopped reading cannot hold the thread.
    if (channel_ && ssh_channel_is_open(channel_)) {
        (void)ssh_channel_request_send_exit_status(channel_, 0);
        (void)ssh_channel_send_eof(channel_);
        (void)ssh_channel_close(channel_);
    }
    (void)ssh_blocking_flush(
        session_, static_cast<int>(std::min(CloseFlushMs, writeMs_ ? writeMs_ : CloseFlushMs)));
    hangUp();
}

void SshConnection::hangUp() {
    // ssh_disconnect frees the session's channels itself.
    if (channel_) ssh_channel_free(channel_);
    channel_ = nullptr;
    ssh_disconnect(session_);
}

void SshConnection::closeTransport() {
    // Wakes the owning thread wherever libssh waits on the socket; the descriptor stays ours.
    if (handle() >= 0) ::shutdown(handle(), SHUT_RDWR);
}

bool SshConnection::fail(bool timedOut) {
    lastWasTimeout_ = timedOut;
    return false;
}

bool SshConnection::sessionAlive() {
    if (!isOpen()) return false;
    return (ssh_get_status(session_) & (SSH_CLOSED | SSH_CLOSED_ERROR)) == 0;
}

SshConnection::Clock::time_point SshConnection::deadlineAfter(uint32_t ms) const {
    if (ms == 0) return Clock::time_point::max();
    return Clock::now() + std::chrono::milliseconds(ms);
}

SshConnection::Wait SshConnection::waitForPeer(Clock::time_point deadline) {
    if (!sessionAlive()) return Wait::Closed;
    int ms = msUntil(deadline);
    if (ms == 0) return Wait::TimedOut;
    if (ssh_event_dopoll(event_, ms) == SSH_ERROR) return Wait::Closed;
    return sessionAlive() ? Wait::Ready : Wait::Closed;
}

// ---- Handshake ---------------------------------------------------------------------------

bool SshConnection::handshake(SshLoginCheck check, Clock::time_point deadline) {
    check_ = check;
    Callbacks& cb = *callbacks_;
    cb.server.userdata = this;
    cb.server.auth_password_function = [](ssh_session, const char* user, const char* password,
                                          void* me) -> int {
        return self(me)->onPassword(user, password) ? SSH_AUTH_SUCCESS : SSH_AUTH_DENIED;
    };
    cb.server.auth_none_function = [](ssh_session, const char* user, void* me) -> int {
        return self(me)->onNone(user) ? SSH_AUTH_SUCCESS : SSH_AUTH_DENIED;
    };
    cb.server.channel_open_request_session_function = [](ssh_session, void* me) -> ssh_channel {
        return self(me)->onChannelOpen();
    };
    ssh_callbacks_init(&cb.server);
    ssh_set_server_callbacks(session_, &cb.server);
    // Everything the callbacks leave (keyboard-interactive, public keys, other requests).
    ssh_set_message_callback(session_, &SshConnection::onMessage, this);
    ssh_set_auth_methods(session_, SSH_AUTH_METHOD_PASSWORD | SSH_AUTH_METHOD_INTERACTIVE);

    // The key exchange runs in libssh's blocking mode, bounded by the deadline.
    int left = msUntil(deadline);
    if (left == 0) return fail(true);
    long seconds = left / 1000, micros = (left % 1000) * 1000L;
    (void)ssh_options_set(session_, SSH_OPTIONS_TIMEOUT, &seconds);
    (void)ssh_options_set(session_, SSH_OPTIONS_TIMEOUT_USEC, &micros);
    // libssh's own clock ends the wait at about the deadline, a little either side.
    if (ssh_handle_key_exchange(session_) != SSH_OK)
        return fail(msUntil(deadline) <= KexTimerSlackMs);

    // From here on we wait ourselves, so that every wait has its own limit.
    ssh_set_blocking(session_, 0);
    event_ = ssh_event_new();
    if (!event_ || ssh_event_add_session(event_, session_) != SSH_OK) return fail(false);
    while (!shellStarted_) {
        if (refusedForGood_ || authRequests_ > MaxAuthRequests) {
            (void)ssh_blocking_flush(session_, std::min(msUntil(deadline), 1000));
            hangUp();
            return fail(false);
        }
        switch (waitForPeer(deadline)) {
        case Wait::Ready:
            break;
        case Wait::TimedOut:
            return fail(true);
        case Wait::Closed:
            return fail(false);
        }
    }
    return true;
}

bool SshConnection::tryPassword(const char* name, const char* password) {
    ++authRequests_;
    if (authenticated_ || !name || !password) return false;
    SshLoginVerdict verdict = check_(*this, name, password);
    if (verdict != SshLoginVerdict::Refused) {
        acceptLogin(name, verdict == SshLoginVerdict::NewAccount);
        return true;
    }
    // Read at each try and compared unsigned, as the Telnet login does: -1 means no limit.
    if (++refusedPasswords_ > static_cast<uint32_t>(getLoginRetries())) refusedForGood_ = true;
    return false;
}

bool SshConnection::onPassword(const char* name, const char* password) {
    return tryPassword(name, password);
}

bool SshConnection::onNone(const char* name) {
    ++authRequests_;
    if (authenticated_ || !name) return false;
    // Only the new-account name gets in without a password.
    if (check_(*this, name, nullptr) != SshLoginVerdict::NewAccount) return false;
    acceptLogin(name, true);
    return true;
}

void SshConnection::acceptLogin(const char* name, bool newAccount) {
    authenticated_ = true;
    newAccount_ = newAccount;
    std::snprintf(loginName_, sizeof loginName_, "%s", name);
}

int SshConnection::onMessage(ssh_session_struct*, ssh_message_struct* msg, void* me) {
    SshConnection& c = *self(me);
    if (ssh_message_type(msg) == SSH_REQUEST_AUTH &&
        ssh_message_subtype(msg) == static_cast<int>(SSH_AUTH_METHOD_INTERACTIVE))
        return c.onKeyboardInteractive(msg);
    if (ssh_message_type(msg) == SSH_REQUEST_AUTH) ++c.authRequests_;
    return 1; // refused: public keys, forwarding, exec, subsystems, global requests
}

int SshConnection::onKeyboardInteractive(ssh_message_struct* msg) {
    if (authenticated_) return 1;
    if (!ssh_message_auth_kbdint_is_response(msg)) {
        ++authRequests_;
        const char* name = ssh_message_auth_user(msg);
        if (!name) return 1;
        if (check_(*this, name, nullptr) == SshLoginVerdict::NewAccount) {
            acceptLogin(name, true);
            (void)ssh_message_auth_reply_success(msg, 0);
            return 0;
        }
        std::snprintf(pendingName_, sizeof pendingName_, "%s", name);
        // The board's own password prompt, followed by its two spaces.
        char prompt[PrefTextSize + 2];
        getPrefText(PrefText::PasswordPrompt, prompt);
        std::strcat(prompt, "  ");
        const char* prompts[] = {prompt};
        char echo[] = {0};
        (void)ssh_message_auth_interactive_request(msg, "", "", 1, prompts, echo);
        havePendingName_ = true;
        return 0;
    }
    if (!havePendingName_ || ssh_userauth_kbdint_getnanswers(session_) != 1) {
        ++authRequests_;
        return 1;
    }
    havePendingName_ = false;
    const char* answer = ssh_userauth_kbdint_getanswer(session_, 0);
    if (tryPassword(pendingName_, answer)) {
        (void)ssh_message_auth_reply_success(msg, 0);
        return 0;
    }
    return 1;
}

ssh_channel_struct* SshConnection::onChannelOpen() {
    // One shell channel per caller, and only for a caller who is in.
    if (!authenticated_ || channel_) return nullptr;
    channel_ = ssh_channel_new(session_);
    if (!channel_) return nullptr;
    Callbacks& cb = *callbacks_;
    cb.channel.userdata = this;
    cb.channel.channel_pty_request_function = [](ssh_session, ssh_channel, const char* term,
                                                 int width, int height, int, int, void* me) -> int {
        SshConnection& c = *self(me);
        if (c.shellStarted_) return -1;
        copyTerminalType(c.terminalType_, sizeof c.terminalType_, term);
        c.setSize(width, height);
        return 0;
    };
    cb.channel.channel_pty_window_change_function = [](ssh_session, ssh_channel, int width,
                                                       int height, int, int, void* me) -> int {
        self(me)->setSize(width, height);
        return 0;
    };
    cb.channel.channel_env_request_function = [](ssh_session, ssh_channel, const char* name,
                                                 const char* value, void* me) -> int {
        return noteLocaleVariable(self(me)->locale_, name, value) ? 0 : -1;
    };
    cb.channel.channel_shell_request_function = [](ssh_session, ssh_channel, void* me) -> int {
        SshConnection& c = *self(me);
        if (c.shellStarted_) return -1;
        c.shellStarted_ = true;
        return 0;
    };
    ssh_callbacks_init(&cb.channel);
    if (ssh_set_channel_callbacks(channel_, &cb.channel) != SSH_OK) {
        ssh_channel_free(channel_);
        channel_ = nullptr;
    }
    return channel_;
}

void SshConnection::setSize(int columns, int rows) {
    // Nonsense sizes (0, negative, absurd) leave the last good one in place.
    if (columns > 0 && columns <= 1000) columns_ = static_cast<uint32_t>(columns);
    if (rows > 0 && rows <= 1000) rows_ = static_cast<uint32_t>(rows);
}

// ---- The session's bytes -----------------------------------------------------------------

bool SshConnection::setTimeouts(uint32_t writeMs, uint32_t readMs) {
    if (!isOpen()) return false;
    writeMs_ = writeMs;
    readMs_ = readMs;
    return true;
}

bool SshConnection::readRaw(void* buf, uint32_t* count) {
    if (!channel_) return fail(false);
    const Clock::time_point deadline = deadlineAfter(readMs_);
    for (;;) {
        if (!isOpen()) return fail(false);
        int n = ssh_channel_read_nonblocking(channel_, buf, ConnectionBufferSize, 0);
        if (n > 0) {
            *count = static_cast<uint32_t>(n);
            return true;
        }
        if (n < 0 || ssh_channel_is_eof(channel_) || ssh_channel_is_closed(channel_))
            return fail(false);
        switch (waitForPeer(deadline)) {
        case Wait::Ready:
            break;
        case Wait::TimedOut:
            return fail(true);
        case Wait::Closed:
            return fail(false);
        }
    }
}

int SshConnection::waitReadable(uint32_t ms, int alsoWatch) {
    // Anything but "nothing buffered" (data, end of file, an error) is for the read to report.
    if (channel_ && ssh_channel_poll(channel_, 0) != 0) return 1;
    return Connection::waitReadable(ms, alsoWatch);
}

bool SshConnection::readRawAvailable(void* buf, uint32_t* count) {
    if (!channel_ || !isOpen()) return fail(false);
    // Takes in what the socket brought without waiting for data behind it.
    int n = ssh_channel_read_nonblocking(channel_, buf, ConnectionBufferSize, 0);
    if (n < 0 || (n == 0 && (ssh_channel_is_eof(channel_) || ssh_channel_is_closed(channel_))))
        return fail(false);
    *count = static_cast<uint32_t>(n);
    return true;
}

bool SshConnection::writeRaw(const void* buf, uint32_t len) {
    if (!channel_ || !isOpen()) return fail(false);
    const Clock::time_point deadline = deadlineAfter(writeMs_);
    const auto* p = static_cast<const char*>(buf);
    while (len > 0) {
        // Takes what the client's window allows, and never waits itself.
        int n = ssh_channel_write(channel_, p, len);
        if (n < 0 || !isOpen()) return fail(false);
        p += n;
        len -= static_cast<uint32_t>(n);
        if (len == 0) break;
        switch (waitForPeer(deadline)) {
        case Wait::Ready:
            break;
        case Wait::TimedOut:
            return fail(true);
        case Wait::Closed:
            return fail(false);
        }
    }
    // Out of libssh's buffer onto the socket before the write counts as done.
    for (;;) {
        int ms = msUntil(deadline);
        if (ms == 0) return fail(true);
        int rc = ssh_blocking_flush(session_, ms < 0 ? 60000 : ms);
        if (rc == SSH_OK) return isOpen() || fail(false);
        if (rc == SSH_ERROR || !sessionAlive()) return fail(false);
    }
}

void SshConnection::describe(char* out) {
    if (!isOpen()) {
        std::snprintf(out, LineBufferSize, "SSH (socket has been closed)");
        return;
    }
    std::snprintf(out, LineBufferSize, "SSH from %d.%d.%d.%d:%d (remote) to %d.%d.%d.%d:%d (local)",
                  remoteAddress_[0], remoteAddress_[1], remoteAddress_[2], remoteAddress_[3],
                  remotePort_, localAddress_[0], localAddress_[1], localAddress_[2],
                  localAddress_[3], localPort_);
}
