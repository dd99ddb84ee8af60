// A scripted SSH caller on libssh's client side, for tests that call in over SSH from inside the
// test process. It trusts whatever host key it meets (the tests check fingerprints themselves).
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <utility>

struct ssh_session_struct;
struct ssh_channel_struct;

namespace ovtest {

struct SshLogin {
    SshLogin(std::string u = "", std::string p = "") : user(std::move(u)), password(std::move(p)) {}
    std::string user;
    std::string password;
    bool keyboardInteractive = false; // instead of the password method
    bool pty = true;
    std::string term = "xterm";
    int columns = 80;
    int rows = 24;
    std::string lang; // sent as LANG when not empty
};

class SshClient {
public:
    SshClient() = default;
    ~SshClient();
    SshClient(const SshClient&) = delete;
    SshClient& operator=(const SshClient&) = delete;

    // The key exchange with the server on 127.0.0.1:port.
    bool connectTo(uint16_t port, std::chrono::milliseconds bound = std::chrono::seconds(20));
    // One try with the login's method; true when the server let the caller in.
    bool authenticate(const SshLogin& login);
    // A session channel with the login's pty and LANG, and a shell on it.
    bool openShell(const SshLogin& login);
    // All three.
    bool logIn(uint16_t port, const SshLogin& login);

    bool send(const std::string& bytes);
    // A packet of protocol alone (SSH_MSG_IGNORE), no data on the channel.
    bool sendIgnore();
    std::string readUntil(const std::string& needle,
                          std::chrono::milliseconds bound = std::chrono::seconds(10));
    // True once the server has closed the channel or the connection within the bound.
    bool waitForClose(std::chrono::milliseconds bound = std::chrono::seconds(10));
    void close();
    // Goes without a word: the socket shut down under libssh, no disconnect message.
    void vanish();
    // "SHA256:..." of the server's host key, as ssh shows it.
    std::string serverFingerprint();
    std::string error() const;

    // Everything received so far that readUntil did not hand out yet.
    std::string pending;

private:
    ssh_session_struct* session_ = nullptr;
    ssh_channel_struct* channel_ = nullptr;
};

} // namespace ovtest
