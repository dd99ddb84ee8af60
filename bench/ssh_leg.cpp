#include "ssh_leg.h"

#include <libssh/libssh.h>

struct SshLeg {
    ssh_session session = nullptr;
    ssh_channel channel = nullptr;
};

namespace {

// Everything but the pty and shell is libssh's blocking mode with a generous limit.
SshLeg* open(uint16_t port, const std::string& user, const std::string& password,
             std::string& error) {
    auto* leg = new SshLeg;
    leg->session = ssh_new();
    unsigned int p = port;
    long seconds = 60;
    bool no = false;
    int quiet = SSH_LOG_NOLOG;
    ssh_options_set(leg->session, SSH_OPTIONS_HOST, "127.0.0.1");
    ssh_options_set(leg->session, SSH_OPTIONS_PORT, &p);
    ssh_options_set(leg->session, SSH_OPTIONS_USER, user.c_str());
    ssh_options_set(leg->session, SSH_OPTIONS_TIMEOUT, &seconds);
    ssh_options_set(leg->session, SSH_OPTIONS_PROCESS_CONFIG, &no);
    ssh_options_set(leg->session, SSH_OPTIONS_LOG_VERBOSITY, &quiet);
    ssh_options_set(leg->session, SSH_OPTIONS_KNOWNHOSTS, "/dev/null");
    // As ssh does for an interactive session: small packets go out at once, instead of
    // waiting for the acknowledgement of the one before.
    int nodelay = 1;
    ssh_options_set(leg->session, SSH_OPTIONS_NODELAY, &nodelay);
    if (ssh_connect(leg->session) != SSH_OK)
        error = "ssh connect";
    else if (ssh_userauth_password(leg->session, nullptr, password.c_str()) != SSH_AUTH_SUCCESS)
        error = "ssh password";
    else if (!(leg->channel = ssh_channel_new(leg->session)) ||
             ssh_channel_open_session(leg->channel) != SSH_OK ||
             ssh_channel_request_pty_size(leg->channel, "xterm", 80, 24) != SSH_OK ||
             ssh_channel_request_shell(leg->channel) != SSH_OK)
        error = "ssh shell";
    if (error.empty()) {
        ssh_set_blocking(leg->session, 0);
        return leg;
    }
    sshLegClose(leg);
    return nullptr;
}

} // namespace

SshDialer::SshDialer(uint16_t port, int threads) : port_(port) {
    for (int i = 0; i < threads; ++i)
        threads_.emplace_back([this] { work(); });
}

SshDialer::~SshDialer() {
    {
        std::lock_guard g(lock_);
        stop_ = true;
    }
    wake_.notify_all();
    for (auto& t : threads_)
        t.join();
    for (auto& r : ready_)
        sshLegClose(r.leg);
}

void SshDialer::dial(int index, const std::string& user, const std::string& password) {
    {
        std::lock_guard g(lock_);
        jobs_.push_back({index, user, password, std::chrono::steady_clock::now()});
    }
    wake_.notify_one();
}

std::vector<SshDialer::Ready> SshDialer::takeReady() {
    std::lock_guard g(lock_);
    std::vector<Ready> out;
    out.swap(ready_);
    return out;
}

void SshDialer::work() {
    for (;;) {
        Job job;
        {
            std::unique_lock g(lock_);
            wake_.wait(g, [this] { return stop_ || !jobs_.empty(); });
            if (stop_) return;
            job = jobs_.front();
            jobs_.pop_front();
        }
        Ready r;
        r.index = job.index;
        const auto dialled = std::chrono::steady_clock::now();
        r.leg = open(port_, job.user, job.password, r.error);
        const auto done = std::chrono::steady_clock::now();
        r.setupMs = std::chrono::duration<double, std::milli>(done - dialled).count();
        r.queuedMs = std::chrono::duration<double, std::milli>(dialled - job.queued).count();
        std::lock_guard g(lock_);
        ready_.push_back(std::move(r));
    }
}

int sshLegFd(SshLeg* leg) {
    return ssh_get_fd(leg->session);
}

long sshLegRead(SshLeg* leg, char* buf, size_t n) {
    int got = ssh_channel_read_nonblocking(leg->channel, buf, static_cast<uint32_t>(n), 0);
    if (got > 0) return got;
    if (got < 0 || ssh_channel_is_eof(leg->channel) || !ssh_is_connected(leg->session)) return -1;
    return 0;
}

bool sshLegWrite(SshLeg* leg, const std::string& bytes) {
    // A key or a line fits any window the server offers.
    int n = ssh_channel_write(leg->channel, bytes.data(), static_cast<uint32_t>(bytes.size()));
    return n == static_cast<int>(bytes.size()) &&
           ssh_blocking_flush(leg->session, 1000) != SSH_ERROR;
}

void sshLegClose(SshLeg* leg) {
    if (!leg) return;
    if (leg->channel) ssh_channel_free(leg->channel);
    if (leg->session) {
        ssh_disconnect(leg->session);
        ssh_free(leg->session);
    }
    delete leg;
}
