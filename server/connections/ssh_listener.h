// The SSH listener, switched on by OVHOST_SSH=[host:]port (libssh). Its host keys, Ed25519 and
// RSA 3072, live in the working directory, made at the first start with mode 0600. A thread of
// its own accepts callers and hands each, with its libssh session, to the handler, which runs the
// handshake on the caller's own thread. Callers still in their handshake are bounded, as sshd's
// MaxStartups bounds them: over the bound, a new caller is closed at once.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

struct ssh_session_struct;

struct SshCaller {
    int socketFd = -1;                              // ours; the session holds a duplicate
    ssh_session_struct* session = nullptr;          // given the host keys
    std::chrono::steady_clock::time_point deadline; // key exchange, login and shell request
};
// Owns the caller from then on, and calls endSshHandshake() once its handshake is over.
using SshCallerHandler = void (*)(SshCaller caller);

constexpr uint32_t MaxSshHandshakes = 64;
// The time a caller has from connecting to its shell: the idle time-out, at most this long.
constexpr uint32_t SshLoginGraceMs = 120000;
constexpr const char* SshEd25519KeyFile = "ssh_host_ed25519_key";
constexpr const char* SshRsaKeyFile = "ssh_host_rsa_key";
constexpr int SshRsaKeyBits = 3072;

// Reads OVHOST_SSH. Unset: false, silently. Otherwise loads or makes the host keys, binds and
// starts accepting; a problem is told on standard error and gives false.
[[nodiscard]] bool startSshListener(SshCallerHandler handler);
// Stops accepting and ends the handshakes still running; callers already in stay.
void stopSshListener();
bool isSshListening();
// What the sysop needs to know at start-up: where it listens and the keys' fingerprints, in
// the words ssh uses when it first meets the server ("ED25519 key fingerprint is SHA256:...").
std::vector<std::string> sshStartupLines();
// The caller's handshake is over (its socket stays open): frees its slot.
void endSshHandshake(int socketFd);
uint32_t sshHandshakesInProgress();
// Closes a caller that no thread could take, and frees its slot.
void discardSshCaller(SshCaller& caller);
