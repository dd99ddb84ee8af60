#include "support/test_support.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace ovtest {

TempWorkDir::TempWorkDir() {
    char cwd[PATH_MAX];
    if (getcwd(cwd, sizeof cwd)) previous_ = cwd;
    std::string tmpl = (std::filesystem::temp_directory_path() / "ovtest-XXXXXX").string();
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data())) std::abort();
    path_ = buf.data();
    if (chdir(path_.c_str()) != 0) std::abort();
}

TempWorkDir::~TempWorkDir() {
    if (!previous_.empty() && chdir(previous_.c_str()) != 0) {
        // Nothing sensible to do; the removal below still runs.
    }
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::string readFile(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

bool fileExists(const std::string& name) {
    struct stat st;
    return stat(name.c_str(), &st) == 0;
}

void writeFile(const std::string& name, const std::string& content) {
    std::ofstream out(name, std::ios::binary | std::ios::trunc);
    out << content;
}

uint64_t fileSizeOf(const std::string& name) {
    struct stat st;
    return stat(name.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

bool waitUntil(const std::function<bool()>& cond, std::chrono::milliseconds bound) {
    auto deadline = std::chrono::steady_clock::now() + bound;
    while (!cond()) {
        if (std::chrono::steady_clock::now() > deadline) return cond();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

std::string binDir() {
    const char* dir = std::getenv("OV_BIN_DIR");
    return dir ? dir : ".";
}

std::string sourceDir() {
    const char* dir = std::getenv("OV_SOURCE_DIR");
    return dir ? dir : ".";
}

int openDescriptorCount() {
    int count = 0;
    if (DIR* d = opendir("/proc/self/fd")) {
        while (dirent* e = readdir(d))
            if (e->d_name[0] != '.') ++count;
        closedir(d);
        --count; // the directory stream itself
    }
    return count;
}

LoopbackClient::~LoopbackClient() {
    close();
}

LoopbackClient::LoopbackClient(LoopbackClient&& other) noexcept
    : pending(std::move(other.pending)), fd_(other.fd_) {
    other.fd_ = -1;
}

LoopbackClient& LoopbackClient::operator=(LoopbackClient&& other) noexcept {
    if (this != &other) {
        close();
        fd_ = other.fd_;
        pending = std::move(other.pending);
        other.fd_ = -1;
    }
    return *this;
}

bool LoopbackClient::connectTo(uint16_t port) {
    close();
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) return false;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        close();
        return false;
    }
    return true;
}

bool LoopbackClient::send(const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// Waits for readability until the deadline; appends what arrives to `into`.
// Returns false on close, error or deadline.
static bool receiveSome(int fd, std::string& into, std::chrono::steady_clock::time_point deadline,
                        bool* closed) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now())
                    .count();
    if (left < 0) return false;
    pollfd p{fd, POLLIN, 0};
    int r = poll(&p, 1, static_cast<int>(left));
    if (r <= 0) return false;
    char buf[4096];
    ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n <= 0) {
        if (closed) *closed = true;
        return false;
    }
    into.append(buf, static_cast<size_t>(n));
    return true;
}

std::string LoopbackClient::readUntil(const std::string& needle, std::chrono::milliseconds bound) {
    auto deadline = std::chrono::steady_clock::now() + bound;
    for (;;) {
        size_t at = pending.find(needle);
        if (at != std::string::npos) {
            std::string out = pending.substr(0, at + needle.size());
            pending.erase(0, at + needle.size());
            return out;
        }
        if (!receiveSome(fd_, pending, deadline, nullptr)) {
            std::string out = std::move(pending);
            pending.clear();
            return out;
        }
    }
}

std::string LoopbackClient::readBytes(size_t n, std::chrono::milliseconds bound) {
    auto deadline = std::chrono::steady_clock::now() + bound;
    while (pending.size() < n)
        if (!receiveSome(fd_, pending, deadline, nullptr)) break;
    size_t take = std::min(n, pending.size());
    std::string out = pending.substr(0, take);
    pending.erase(0, take);
    return out;
}

std::string LoopbackClient::readToClose(std::chrono::milliseconds bound) {
    auto deadline = std::chrono::steady_clock::now() + bound;
    bool closed = false;
    while (!closed && receiveSome(fd_, pending, deadline, &closed)) {
    }
    std::string out = std::move(pending);
    pending.clear();
    return out;
}

bool LoopbackClient::waitForClose(std::chrono::milliseconds bound) {
    auto deadline = std::chrono::steady_clock::now() + bound;
    bool closed = false;
    std::string sink;
    while (!closed && receiveSome(fd_, sink, deadline, &closed))
        sink.clear();
    return closed;
}

void LoopbackClient::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

int listenOnFreePort(uint16_t& port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(fd, 16) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        ::close(fd);
        return -1;
    }
    port = ntohs(a.sin_port);
    return fd;
}

bool makeTcpPair(int& serverSide, int& clientSide) {
    uint16_t port = 0;
    int l = listenOnFreePort(port);
    if (l < 0) return false;
    LoopbackClient c;
    bool ok = c.connectTo(port);
    serverSide = ok ? accept4(l, nullptr, nullptr, SOCK_CLOEXEC) : -1;
    ::close(l);
    if (!ok || serverSide < 0) return false;
    clientSide = c.release();
    return true;
}

} // namespace ovtest
