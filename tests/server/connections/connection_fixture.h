// A connection over a real loopback TCP pair, with the peer's side as a client.
#pragma once

#include "server/connections/tcp_connection.h"
#include "support/test_support.h"

#include <memory>
#include <string>
#include <sys/ioctl.h>

template <typename Conn> struct LinkedPair {
    std::unique_ptr<Conn> conn;
    ovtest::LoopbackClient peer;
    int serverFd = -1;

    LinkedPair() {
        int s = -1, c = -1;
        if (!ovtest::makeTcpPair(s, c)) return;
        serverFd = s;
        peer = ovtest::LoopbackClient(c);
        conn = std::make_unique<Conn>(s);
    }
    // Waits until n bytes sent by the peer wait unread on the server side.
    bool waitForUnread(int n) {
        return ovtest::waitUntil([&] {
            int avail = 0;
            return ioctl(serverFd, FIONREAD, &avail) == 0 && avail >= n;
        });
    }
    // Everything the connection sent so far, up to a marker it writes last.
    std::string sentSoFar() {
        if (!conn->write("#END#", 5)) return "(write failed)";
        std::string got = peer.readUntil("#END#");
        return got.size() >= 5 ? got.substr(0, got.size() - 5) : "(no marker)";
    }
};

using TcpPair = LinkedPair<TcpConnection>;
using TelnetPair = LinkedPair<TelnetConnection>;

inline const std::string TelnetOpening("\xff\xfb\x03\xff\xfd\x03\xff\xfb\x01", 9);
