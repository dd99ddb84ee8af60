#include "server/connections/serial_connection.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>

#include "server/modems/modems.h"
#include "server/preferences/preferences.h"

namespace {

using Clock = std::chrono::steady_clock;

// Milliseconds left until the deadline for poll; -1 (no limit) when there is none.
int remainingMs(bool limited, Clock::time_point deadline) {
    if (!limited) return -1;
    auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return 0;
    return left > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(left);
}

} // namespace

SerialConnection::SerialConnection(int commHandle)
    : Connection(commHandle, false), comm_(commHandle) {
    wake_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    // Attached even without a wake descriptor, so that the descriptor is still released.
    if (commHandle >= 0) attached_ = attachModemComm(commHandle, wake_);
    const uint32_t idleMs = getIdleTimeoutMs();
    (void)setTimeouts(idleMs, idleMs);
}

SerialConnection::~SerialConnection() {
    disconnect();
    // The modem module closes the descriptor once the call is cleared too; only after this
    // can its number come back for another caller.
    if (attached_) releaseModemComm(handle());
    if (wake_ >= 0) ::close(wake_);
}

void SerialConnection::closeTransport() {
    // Stops our own reads and writes first, so nothing of ours mixes with the hang-up.
    if (wake_ >= 0) {
        uint64_t one = 1;
        (void)!::write(wake_, &one, sizeof one);
    }
    int comm = comm_.exchange(-1);
    hangUpModemCall(comm);
}

bool SerialConnection::lastErrorWasTimeout() {
    return lastTransferShort_;
}

int SerialConnection::waitFor(short events, int timeoutMs) {
    // Without a wake descriptor a disconnect could not reach a blocked poll: refuse the line.
    if (wake_ < 0 || handle() < 0) return -1;
    pollfd fds[2] = {{wake_, POLLIN, 0}, {handle(), events, 0}};
    for (;;) {
        int n = ::poll(fds, 2, timeoutMs);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return -1;
        if (fds[0].revents) return -1;
        if (n == 0) return 0;
        // An error or hang-up on the line shows in the read or write that follows.
        return 1;
    }
}

int SerialConnection::waitReadable(uint32_t ms, int alsoWatch) {
    if (wake_ < 0 || handle() < 0) return -1;
    pollfd fds[3] = {{wake_, POLLIN, 0}, {handle(), POLLIN, 0}, {alsoWatch, POLLIN, 0}};
    const int timeout = ms > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(ms);
    for (;;) {
        int n = ::poll(fds, alsoWatch >= 0 ? 3 : 2, timeout);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 || fds[0].revents) return -1;
        return fds[1].revents ? 1 : 0;
    }
}

bool SerialConnection::writeRaw(const void* buf, uint32_t len) {
    lastTransferShort_ = false;
    if (!isOpen()) return false;
    const uint32_t limit = writeMs_.load();
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(limit);
    const auto* p = static_cast<const char*>(buf);
    uint32_t written = 0;
    while (written < len) {
        int ready = waitFor(POLLOUT, remainingMs(limit != 0, deadline));
        if (ready < 0) return false;
        if (ready == 0) {
            lastTransferShort_ = true; // the write time-out took the rest
            return false;
        }
        ssize_t n = ::write(handle(), p + written, len - written);
        if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) continue;
        if (n <= 0) return false;
        written += static_cast<uint32_t>(n);
    }
    return isOpen();
}

bool SerialConnection::readRaw(void* buf, uint32_t* count) {
    if (!isOpen()) return false;
    const uint32_t limit = readMs_.load();
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(limit);
    for (;;) {
        int ready = waitFor(POLLIN, remainingMs(limit != 0, deadline));
        if (ready < 0) return false;
        if (ready == 0) {
            lastTransferShort_ = true; // nothing arrived within the read time-out
            return false;
        }
        ssize_t n = ::read(handle(), buf, ConnectionBufferSize);
        if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) continue;
        // End of file or EIO: the carrier is gone.
        if (n <= 0) return false;
        lastTransferShort_ = false;
        *count = static_cast<uint32_t>(n);
        return true;
    }
}

bool SerialConnection::setTimeouts(uint32_t writeMs, uint32_t readMs) {
    writeMs_.store(writeMs);
    readMs_.store(readMs);
    return handle() >= 0;
}

void SerialConnection::describe(char* out) {
    if (!describeModemCall(comm_.load(), out))
        std::snprintf(out, LineBufferSize, "Unknown modem device");
}
