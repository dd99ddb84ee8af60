#include "server/connections/tcp_connection.h"

#include "server/base/product.h"
#include "server/preferences/preferences.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace {

void addressOf(const sockaddr_in& a, uint8_t out[4], uint16_t* port) {
    std::memcpy(out, &a.sin_addr.s_addr, 4); // network order: first octet first
    *port = ntohs(a.sin_port);
}

timeval timevalOf(uint32_t ms) {
    timeval tv{};
    tv.tv_sec = static_cast<time_t>(ms / 1000);
    tv.tv_usec = static_cast<suseconds_t>((ms % 1000) * 1000);
    return tv;
}

} // namespace

TcpConnection::TcpConnection(int socketFd) : Connection(socketFd, true) {
    // Time-outs rely on blocking calls; a descriptor handed over non-blocking would make every
    // empty read look like an expired time-out.
    int flags = fcntl(socketFd, F_GETFL);
    if (flags >= 0 && (flags & O_NONBLOCK)) (void)fcntl(socketFd, F_SETFL, flags & ~O_NONBLOCK);
    sockaddr_in a{};
    socklen_t len = sizeof a;
    if (getpeername(socketFd, reinterpret_cast<sockaddr*>(&a), &len) == 0 &&
        a.sin_family == AF_INET)
        addressOf(a, remoteAddress_, &remotePort_);
    a = {};
    len = sizeof a;
    if (getsockname(socketFd, reinterpret_cast<sockaddr*>(&a), &len) == 0 &&
        a.sin_family == AF_INET)
        addressOf(a, localAddress_, &localPort_);
}

TcpConnection::~TcpConnection() {
    disconnect();
    // Only now, with the owning thread done with it, may the descriptor number be reused.
    if (handle() >= 0) ::close(handle());
}

void TcpConnection::closeTransport() {
    // Wakes a reader blocked in recv on the owning thread; close() alone would not.
    if (handle() >= 0) ::shutdown(handle(), SHUT_RDWR);
}

bool TcpConnection::lastErrorWasTimeout() {
    return lastWasTimeout_;
}

bool TcpConnection::sendAll(const void* buf, uint32_t len) {
    const auto* p = static_cast<const char*>(buf);
    uint32_t done = 0;
    while (done < len) {
        if (!isOpen()) return failClosed();
        ssize_t n = ::send(handle(), p + done, len - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n < 1) {
            lastWasTimeout_ = n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
            return false;
        }
        done += static_cast<uint32_t>(n);
    }
    return isOpen() || failClosed();
}

bool TcpConnection::receive(void* buf, uint32_t len, uint32_t* count) {
    for (;;) {
        if (!isOpen()) return failClosed();
        ssize_t n = ::recv(handle(), buf, len, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n < 1) {
            lastWasTimeout_ = n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
            return false;
        }
        *count = static_cast<uint32_t>(n);
        return true;
    }
}

bool TcpConnection::writeRaw(const void* buf, uint32_t len) {
    if (!isOpen()) return failClosed();
    return sendAll(buf, len);
}

bool TcpConnection::failClosed() {
    lastWasTimeout_ = false;
    return false;
}

bool TcpConnection::readRaw(void* buf, uint32_t* count) {
    return receive(buf, ConnectionBufferSize, count);
}

bool TcpConnection::setTimeouts(uint32_t writeMs, uint32_t readMs) {
    if (!isOpen()) return false;
    // A zero timeval means no limit, as a zero time-out does by design.
    timeval w = timevalOf(writeMs);
    timeval r = timevalOf(readMs);
    (void)setsockopt(handle(), SOL_SOCKET, SO_SNDTIMEO, &w, sizeof w);
    (void)setsockopt(handle(), SOL_SOCKET, SO_RCVTIMEO, &r, sizeof r);
    return true;
}

void TcpConnection::describe(char* out) {
    if (!isOpen()) {
        std::snprintf(out, LineBufferSize, "TCP (socket has been closed)");
        return;
    }
    std::snprintf(out, LineBufferSize, "TCP from %d.%d.%d.%d:%d (remote) to %d.%d.%d.%d:%d (local)",
                  remoteAddress_[0], remoteAddress_[1], remoteAddress_[2], remoteAddress_[3],
                  remotePort_, localAddress_[0], localAddress_[1], localAddress_[2],
                  localAddress_[3], localPort_);
}

// Telnet ------------------------------------------------------------------------------------

namespace {

constexpr uint8_t Iac = 255, Dont = 254, Do = 253, Wont = 252, Will = 251, Sb = 250, Se = 240,
                  Ayt = 246;
constexpr uint8_t OptEcho = 1, OptSuppressGoAhead = 3;
// A sub-negotiation longer than this is taken as garbage and its rest read as data again.
constexpr uint32_t MaxSubnegotiation = 512;

} // namespace

TelnetConnection::TelnetConnection(int socketFd) : TcpConnection(socketFd) {
    static const uint8_t opening[] = {
        Iac, Will, OptSuppressGoAhead, Iac, Do, OptSuppressGoAhead, Iac, Will, OptEcho};
    (void)sendAll(opening, sizeof opening);
}

bool TelnetConnection::writeRaw(const void* buf, uint32_t len) {
    if (!isOpen()) return failClosed();
    const auto* in = static_cast<const uint8_t*>(buf);
    uint8_t chunk[ConnectionBufferSize];
    uint32_t used = 0;
    for (uint32_t i = 0; i < len; ++i) {
        uint32_t need = in[i] == Iac ? 2 : 1;
        if (used + need > sizeof chunk) {
            if (!sendAll(chunk, used)) return false;
            used = 0;
        }
        chunk[used++] = in[i];
        if (need == 2) chunk[used++] = Iac;
    }
    return used == 0 || sendAll(chunk, used);
}

bool TelnetConnection::receiveByte(uint8_t* b) {
    uint32_t n = 0;
    return receive(b, 1, &n) && n == 1;
}

bool TelnetConnection::readRaw(void* buf, uint32_t* count) {
    return readData(buf, count, false);
}

bool TelnetConnection::readRawAvailable(void* buf, uint32_t* count) {
    return readData(buf, count, true);
}

bool TelnetConnection::readData(void* buf, uint32_t* count, bool onlyWhatIsHere) {
    auto* out = static_cast<uint8_t*>(buf);
    uint32_t subnegotiation = 0; // bytes swallowed since IAC SB, 0 when outside one
    bool inSub = false;
    for (;;) {
        // Between commands only: a command's own bytes arrive together.
        if (onlyWhatIsHere && !inSub) {
            pollfd fd{handle(), POLLIN, 0};
            if (::poll(&fd, 1, 0) == 0) {
                *count = 0;
                return true;
            }
        }
        uint8_t b;
        if (!receiveByte(&b)) return false;
        if (b != Iac) {
            if (inSub && ++subnegotiation <= MaxSubnegotiation) continue;
            inSub = false;
            const bool dropped = b == 0 && afterCr_;
            afterCr_ = b == '\r';
            if (dropped) continue;
            *out = b;
            *count = 1;
            return true;
        }
        uint8_t c;
        if (!receiveByte(&c)) return false;
        if (inSub) {
            if (c == Iac && ++subnegotiation <= MaxSubnegotiation) continue;
            inSub = false; // IAC SE, an over-long one, or another command ends it
            if (c == Se) continue;
        }
        switch (c) {
        case Iac:
            afterCr_ = false;
            *out = Iac;
            *count = 1;
            return true;
        case Ayt: {
            char reply[64];
            if (getUnrevealingLogin())
                std::snprintf(reply, sizeof reply, "Yes\r\n");
            else
                std::snprintf(reply, sizeof reply, "%s here!\r\n", ProductName);
            if (!sendAll(reply, static_cast<uint32_t>(std::strlen(reply)))) return false;
            break;
        }
        case Will:
        case Do: {
            uint8_t option;
            if (!receiveByte(&option)) return false;
            if (option == OptEcho || option == OptSuppressGoAhead) break;
            const uint8_t refusal[] = {Iac, c == Will ? Dont : Wont, option};
            if (!sendAll(refusal, sizeof refusal)) return false;
            break;
        }
        case Wont:
        case Dont: {
            uint8_t option;
            if (!receiveByte(&option)) return false;
            break;
        }
        case Sb:
            // Never agreed to, so never interpreted: skipped up to IAC SE.
            inSub = true;
            subnegotiation = 0;
            break;
        default:
            break; // NOP, GA, BRK, IP, AO, EC, EL, DM, SE
        }
    }
}
