// The load generator's SSH callers (libssh's client side). A few dialling threads set each
// caller up in libssh's blocking mode: key exchange, password, pty and shell. The load's own
// thread then reads and writes the caller's channel without blocking, waking on its socket.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct SshLeg;

class SshDialer {
public:
    SshDialer(uint16_t port, int threads);
    ~SshDialer();

    // Queues one caller; its leg comes back through takeReady().
    void dial(int index, const std::string& user, const std::string& password);
    struct Ready {
        int index = -1;
        SshLeg* leg = nullptr; // null: the setup failed, error says where
        std::string error;
        double setupMs = 0;  // from the connect to the shell being open
        double queuedMs = 0; // waiting for a dialling thread before that
    };
    std::vector<Ready> takeReady();

private:
    struct Job {
        int index;
        std::string user, password;
        std::chrono::steady_clock::time_point queued;
    };
    void work();
    uint16_t port_;
    std::mutex lock_;
    std::condition_variable wake_;
    std::deque<Job> jobs_;
    std::vector<Ready> ready_;
    bool stop_ = false;
    std::vector<std::thread> threads_;
};

// The socket to wait on for the leg's input.
int sshLegFd(SshLeg* leg);
// What has arrived, without waiting: > 0 bytes, 0 nothing yet, -1 the connection ended.
long sshLegRead(SshLeg* leg, char* buf, size_t n);
bool sshLegWrite(SshLeg* leg, const std::string& bytes);
void sshLegClose(SshLeg* leg);
