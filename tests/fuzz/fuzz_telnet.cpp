// Feeds arbitrary caller input through a socket into the Telnet layer and the line editor.
// First byte: bit 0 echo on, bit 1 read keys instead of lines, bit 2 alternate the two, bit 3
// the caller's terminal speaks UTF-8.
#include "server/connections/tcp_connection.h"

#include <cstdlib>
#include <cstring>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

bool sendAll(int fd, const uint8_t* p, size_t n) {
    while (n > 0) {
        ssize_t w = send(fd, p, n, MSG_NOSIGNAL);
        if (w <= 0) return false;
        p += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > 16384) return 0;
    const uint8_t flags = data[0];
    int sv[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0) return 0;
    // The peer's input goes in whole before reading starts; its answers are drained meanwhile.
    if (!sendAll(sv[1], data + 1, size - 1)) std::abort();
    shutdown(sv[1], SHUT_WR);
    std::thread drain([peer = sv[1]] {
        char sink[4096];
        while (recv(peer, sink, sizeof sink, 0) > 0) {
        }
    });
    {
        TelnetConnection conn(sv[0]); // owns sv[0]
        (void)conn.setEcho(flags & 1);
        if (flags & 8) conn.setCharset(Connection::Charset::Utf8);
        bool keys = flags & 2;
        for (size_t round = 0; round <= size; ++round) {
            bool ok;
            if (keys) {
                char c = 0;
                ok = conn.readKey(&c);
                check(!ok || c != '\n');
            } else {
                char line[LineBufferSize];
                std::memset(line, 'X', sizeof line);
                ok = conn.readLine(line);
                // Terminated within the buffer whatever happened, and free of line ends.
                const void* end = std::memchr(line, 0, sizeof line);
                check(end != nullptr);
                check(!std::strchr(line, '\r') && !std::strchr(line, '\n'));
            }
            if (!ok) {
                check(!conn.timedOut());
                break;
            }
            if (flags & 4) keys = !keys;
        }
    }
    drain.join();
    close(sv[1]);
    return 0;
}
