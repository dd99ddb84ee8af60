#include "support/ssh_client.h"

#include <libssh/libssh.h>

#include <sys/socket.h>

#include <algorithm>

namespace ovtest {

namespace {

int msLeft(std::chrono::steady_clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now())
                    .count();
    return static_cast<int>(std::max<long long>(left, 0));
}

} // namespace

SshClient::~SshClient() {
    close();
}

void SshClient::close() {
    if (channel_) ssh_channel_free(channel_);
    channel_ = nullptr;
    if (session_) {
        ssh_disconnect(session_);
        ssh_free(session_);
    }
    session_ = nullptr;
}

void SshClient::vanish() {
    if (session_ && ssh_get_fd(session_) >= 0) ::shutdown(ssh_get_fd(session_), SHUT_RDWR);
    close();
}

bool SshClient::connectTo(uint16_t port, std::chrono::milliseconds bound) {
    close();
    session_ = ssh_new();
    if (!session_) return false;
    unsigned int p = port;
    long seconds = std::max<long>(1, static_cast<long>(bound.count() / 1000));
    bool no = false;
    int quiet = SSH_LOG_NOLOG;
    ssh_options_set(session_, SSH_OPTIONS_HOST, "127.0.0.1");
    ssh_options_set(session_, SSH_OPTIONS_PORT, &p);
    ssh_options_set(session_, SSH_OPTIONS_TIMEOUT, &seconds);
    ssh_options_set(session_, SSH_OPTIONS_PROCESS_CONFIG, &no);
    ssh_options_set(session_, SSH_OPTIONS_LOG_VERBOSITY, &quiet);
    ssh_options_set(session_, SSH_OPTIONS_KNOWNHOSTS, "/dev/null");
    // As ssh does for an interactive session: small packets go out at once, instead of
    // waiting for the acknowledgement of the one before.
    int nodelay = 1;
    ssh_options_set(session_, SSH_OPTIONS_NODELAY, &nodelay);
    return ssh_connect(session_) == SSH_OK;
}

bool SshClient::authenticate(const SshLogin& login) {
    if (!session_) return false;
    ssh_options_set(session_, SSH_OPTIONS_USER, login.user.c_str());
    if (!login.keyboardInteractive)
        return ssh_userauth_password(session_, nullptr, login.password.c_str()) == SSH_AUTH_SUCCESS;
    int rc = ssh_userauth_kbdint(session_, nullptr, nullptr);
    // A few rounds at most: the board asks for the password once.
    for (int round = 0; rc == SSH_AUTH_INFO && round < 4; ++round) {
        for (int i = 0; i < ssh_userauth_kbdint_getnprompts(session_); ++i)
            ssh_userauth_kbdint_setanswer(session_, static_cast<unsigned>(i),
                                          login.password.c_str());
        rc = ssh_userauth_kbdint(session_, nullptr, nullptr);
    }
    return rc == SSH_AUTH_SUCCESS;
}

bool SshClient::openShell(const SshLogin& login) {
    if (!session_) return false;
    channel_ = ssh_channel_new(session_);
    if (!channel_ || ssh_channel_open_session(channel_) != SSH_OK) return false;
    if (!login.lang.empty() &&
        ssh_channel_request_env(channel_, "LANG", login.lang.c_str()) != SSH_OK)
        return false;
    if (login.pty && ssh_channel_request_pty_size(channel_, login.term.c_str(), login.columns,
                                                  login.rows) != SSH_OK)
        return false;
    return ssh_channel_request_shell(channel_) == SSH_OK;
}

bool SshClient::logIn(uint16_t port, const SshLogin& login) {
    return connectTo(port) && authenticate(login) && openShell(login);
}

bool SshClient::send(const std::string& bytes) {
    if (!channel_) return false;
    return ssh_channel_write(channel_, bytes.data(), static_cast<uint32_t>(bytes.size())) ==
           static_cast<int>(bytes.size());
}

bool SshClient::sendIgnore() {
    return session_ && ssh_send_ignore(session_, "nothing") == SSH_OK &&
           ssh_blocking_flush(session_, 10000) == SSH_OK;
}

std::string SshClient::readUntil(const std::string& needle, std::chrono::milliseconds bound) {
    auto deadline = std::chrono::steady_clock::now() + bound;
    char buf[4096];
    while (channel_ && pending.find(needle) == std::string::npos) {
        int left = msLeft(deadline);
        if (left == 0) break;
        int n = ssh_channel_read_timeout(channel_, buf, sizeof buf, 0, std::min(left, 200));
        if (n > 0) pending.append(buf, static_cast<size_t>(n));
        if (n < 0 || (n == 0 && ssh_channel_is_eof(channel_))) break;
    }
    size_t at = pending.find(needle);
    size_t take = at == std::string::npos ? pending.size() : at + needle.size();
    std::string out = pending.substr(0, take);
    pending.erase(0, take);
    return out;
}

bool SshClient::waitForClose(std::chrono::milliseconds bound) {
    auto deadline = std::chrono::steady_clock::now() + bound;
    char buf[4096];
    while (session_) {
        if (!channel_ || ssh_channel_is_eof(channel_) || ssh_channel_is_closed(channel_) ||
            !ssh_is_connected(session_))
            return true;
        int left = msLeft(deadline);
        if (left == 0) return false;
        int n = ssh_channel_read_timeout(channel_, buf, sizeof buf, 0, std::min(left, 200));
        if (n > 0) pending.append(buf, static_cast<size_t>(n));
        if (n < 0) return true;
    }
    return true;
}

std::string SshClient::serverFingerprint() {
    ssh_key key = nullptr;
    if (!session_ || ssh_get_server_publickey(session_, &key) != SSH_OK) return "";
    unsigned char* hash = nullptr;
    size_t length = 0;
    std::string out;
    if (ssh_get_publickey_hash(key, SSH_PUBLICKEY_HASH_SHA256, &hash, &length) == 0) {
        char* text = ssh_get_fingerprint_hash(SSH_PUBLICKEY_HASH_SHA256, hash, length);
        if (text) out = text;
        ssh_string_free_char(text);
        ssh_clean_pubkey_hash(&hash);
    }
    ssh_key_free(key);
    return out;
}

std::string SshClient::error() const {
    return session_ ? ssh_get_error(session_) : "no session";
}

} // namespace ovtest
