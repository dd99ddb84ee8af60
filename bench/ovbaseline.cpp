// ovbaseline: the least a board server could do, as a yardstick for ovhost measured by the same
// load generator in the same run. A thread per caller, like ovhost; a login and password prompt;
// then every key is answered with its echo and a screen of a fixed size ending in a key prompt,
// in one send. The quit key ends the call. Prints "port N" once it listens.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

namespace {

size_t screenBytes = 1775; // echo, line end, screen and prompt: what ovhost sends per key

bool sendAll(int fd, const std::string& s) {
    size_t done = 0;
    while (done < s.size()) {
        ssize_t n = ::send(fd, s.data() + done, s.size() - done, MSG_NOSIGNAL);
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

bool readLine(int fd) {
    for (;;) {
        char c;
        if (::recv(fd, &c, 1, 0) != 1) return false;
        if (c == '\r') return true;
    }
}

std::string screenFor(char key) {
    static const std::string prompt = "[12\\Q]  ";
    std::string s;
    s.push_back(key);
    s += "\r\n";
    size_t fill =
        screenBytes > s.size() + prompt.size() ? screenBytes - s.size() - prompt.size() : 0;
    for (size_t i = 0; i < fill; ++i)
        s.push_back(i % 80 == 79 ? '|' : ' ');
    return s + prompt;
}

void serve(int fd) {
    if (sendAll(fd, "Login:  ") && readLine(fd) && sendAll(fd, "Password:  ") && readLine(fd) &&
        sendAll(fd, screenFor('\n'))) {
        for (;;) {
            char k;
            if (::recv(fd, &k, 1, 0) != 1) break;
            if (k == '\n' || k == '\r') continue;
            if (k == 'Q' || k == 'q') {
                (void)sendAll(fd, "Q\r\n");
                break;
            }
            if (!sendAll(fd, screenFor(k))) break;
        }
    }
    ::close(fd);
}

} // namespace

int main(int argc, char** argv) {
    int port = 0;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--port") == 0) port = std::atoi(argv[i + 1]);
        if (std::strcmp(argv[i], "--screen-bytes") == 0)
            screenBytes = static_cast<size_t>(std::atol(argv[i + 1]));
    }
    std::signal(SIGPIPE, SIG_IGN);
    rlimit r{};
    if (getrlimit(RLIMIT_NOFILE, &r) == 0) {
        r.rlim_cur = r.rlim_max;
        (void)setrlimit(RLIMIT_NOFILE, &r);
    }
    int ls = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int on = 1;
    setsockopt(ls, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(ls, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(ls, 1024) != 0) {
        std::perror("ovbaseline");
        return 1;
    }
    socklen_t len = sizeof a;
    getsockname(ls, reinterpret_cast<sockaddr*>(&a), &len);
    std::printf("port %u\n", unsigned(ntohs(a.sin_port)));
    std::fflush(stdout);
    for (;;) {
        int fd = ::accept4(ls, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        std::thread(serve, fd).detach();
    }
}
