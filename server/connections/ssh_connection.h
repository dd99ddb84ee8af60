// A caller over SSH (libssh). handshake() runs the key exchange, the authentication against the
// board's accounts (through a check that the session layer supplies) and the shell request on
// the caller's own thread, all within one deadline; after it, the connection carries the shell
// channel's bytes as any other connection carries a caller's.
// Like TcpConnection, another thread may only call disconnect(), which shuts the socket down.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>

#include "server/connections/connection.h"
#include "server/connections/ssh_settings.h"

struct ssh_session_struct;
struct ssh_channel_struct;
struct ssh_event_struct;
struct ssh_message_struct;

enum class SshLoginVerdict { Accepted, NewAccount, Refused };
// The board's rules for one name and password. password is null when the client only asks
// whether the name gets in without one (the new-account name); a refusal then logs nothing.
using SshLoginCheck = SshLoginVerdict (*)(Connection& c, const char* name, const char* password);

class SshConnection : public Connection {
public:
    using Clock = std::chrono::steady_clock;

    // Takes ownership of the accepted socket and of a libssh session already given the host
    // keys and a duplicate of that socket.
    SshConnection(int socketFd, ssh_session_struct* session);
    ~SshConnection() override;

    // True once a caller is authenticated and has asked for a shell. False when the client
    // failed, went away, used up its tries (loginRetries + 1 refused passwords) or ran out of
    // time, which handshakeTimedOut() then tells.
    [[nodiscard]] bool handshake(SshLoginCheck check, Clock::time_point deadline);
    bool handshakeTimedOut() const { return lastWasTimeout_; }

    // After a successful handshake: the name the caller logged in with (cut to 31 characters),
    // and whether it was the new-account name.
    const char* loginName() const { return loginName_; }
    bool wantsNewAccount() const { return newAccount_; }
    // From the pty-req (and later window-change requests); empty and 80 x 24 without one.
    const char* terminalType() const { return terminalType_; }
    uint32_t columns() const { return columns_; }
    uint32_t rows() const { return rows_; }
    // The client's locale (LANG, LC_ALL or LC_CTYPE) names UTF-8.
    bool localeIsUtf8() const { return locale_.utf8; }

    bool setTimeouts(uint32_t writeMs, uint32_t readMs) override;
    void describe(char* out) override;
    bool isModem() override { return false; }

protected:
    void closeTransport() override;
    bool lastErrorWasTimeout() override { return lastWasTimeout_; }
    bool writeRaw(const void* buf, uint32_t len) override;
    bool readRaw(void* buf, uint32_t* count) override;
    // libssh may hold the caller's bytes already (read in during a write), where polling the
    // socket cannot see them; and the socket may bring protocol alone (window adjusts).
    int waitReadable(uint32_t ms, int alsoWatch) override;
    bool readRawAvailable(void* buf, uint32_t* count) override;

private:
    enum class Wait { Ready, TimedOut, Closed };
    struct Callbacks;

    // What libssh asks us while the client logs in; true lets it in.
    bool onPassword(const char* name, const char* password);
    bool onNone(const char* name);
    // Whatever the callbacks leave: 0 when answered here, 1 for libssh's refusal.
    static int onMessage(ssh_session_struct* session, ssh_message_struct* msg, void* self);
    int onKeyboardInteractive(ssh_message_struct* msg);
    ssh_channel_struct* onChannelOpen();
    bool tryPassword(const char* name, const char* password);
    void acceptLogin(const char* name, bool newAccount);
    void setSize(int columns, int rows);
    // Processes what the client sends until something arrives or the deadline passes;
    // Clock::time_point::max() waits without limit.
    Wait waitForPeer(Clock::time_point deadline);
    bool sessionAlive();
    Clock::time_point deadlineAfter(uint32_t ms) const;
    bool fail(bool timedOut);
    void closePolitely();
    // SSH_MSG_DISCONNECT, and libssh's side of the socket closed.
    void hangUp();

    ssh_session_struct* session_;
    std::unique_ptr<Callbacks> callbacks_;
    ssh_event_struct* event_ = nullptr;
    ssh_channel_struct* channel_ = nullptr;
    SshLoginCheck check_ = nullptr;
    uint8_t remoteAddress_[4] = {};
    uint8_t localAddress_[4] = {};
    uint16_t remotePort_ = 0;
    uint16_t localPort_ = 0;
    uint32_t writeMs_ = 0;
    uint32_t readMs_ = 0;
    uint32_t refusedPasswords_ = 0;
    uint32_t authRequests_ = 0;
    bool authenticated_ = false;
    bool refusedForGood_ = false; // tries used up
    bool shellStarted_ = false;
    bool newAccount_ = false;
    bool lastWasTimeout_ = false;
    bool havePendingName_ = false;
    char loginName_[32] = {};
    char pendingName_[32] = {}; // keyboard-interactive: the name the prompt was sent for
    char terminalType_[64] = {};
    uint32_t columns_ = 80;
    uint32_t rows_ = 24;
    SshLocale locale_;
};
