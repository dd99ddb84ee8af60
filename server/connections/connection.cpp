#include "server/connections/connection.h"

#include <cstring>
#include <mutex>

namespace {

// The connections module's lock; it guards the id counter.
std::recursive_mutex connectionsLock;
uint32_t nextConnectionId = 0;

uint32_t takeConnectionId() {
    std::lock_guard g(connectionsLock);
    return nextConnectionId++;
}

} // namespace

uint32_t connectionsCreated() {
    std::lock_guard g(connectionsLock);
    return nextConnectionId;
}

Connection::Connection(int handle, bool isNetwork)
    : id_(takeConnectionId()), isNetwork_(isNetwork), handle_(handle) {}

Connection::~Connection() = default;

bool Connection::disconnect() {
    std::lock_guard g(closeLock_);
    if (!open_.exchange(false, std::memory_order_acq_rel)) return false;
    closeTransport();
    return true;
}

bool Connection::readByte(char* c) {
    if (readPos_ >= readCount_) {
        // Whatever the caller is to answer must be out before we wait for the answer.
        if (holding_ && !releaseOutput()) return false;
        uint32_t count = 0;
        if (!readRaw(readBuffer_, &count) || count == 0 || count > ConnectionBufferSize) {
            timedOut_ = lastErrorWasTimeout();
            return false;
        }
        readCount_ = count;
        readPos_ = 0;
        timedOut_ = false;
    }
    *c = readBuffer_[readPos_++];
    return true;
}

bool Connection::readExact(void* buf, uint32_t n) {
    auto* p = static_cast<char*>(buf);
    for (uint32_t i = 0; i < n; ++i)
        if (!readByte(p + i)) return false;
    return true;
}

bool Connection::readKey(char* c) {
    char b;
    do {
        if (!readByte(&b)) return false;
    } while (b == '\n');
    *c = b;
    if (echo_) return writeChar(b);
    return true;
}

bool Connection::readLine(char* buf) {
    uint32_t n = 0;
    bool sawCr = false;
    // Terminated at every step, so a failure part-way still leaves a proper string behind.
    buf[0] = '\0';
    while (!sawCr && n < LineBufferSize - 1) {
        char b;
        if (!readByte(&b)) return false;
        switch (b) {
        case '\0':
        case '\n':
            break;
        case '\b':
            if (n >= 1) {
                buf[--n] = '\0';
                if (echo_ && !writeString("\b \b")) return false;
            }
            break;
        case '\r':
            sawCr = true;
            if (echo_ && !writeString("\r\n")) return false;
            break;
        default:
            buf[n++] = b;
            buf[n] = '\0';
            if (echo_ && !writeChar(b)) return false;
            break;
        }
    }
    buf[n] = '\0';
    return true;
}

bool Connection::write(const void* buf, uint32_t len) {
    if (holding_) {
        if (len == 0) return true;
        if (pendingCount_ + len <= sizeof pending_) {
            std::memcpy(pending_ + pendingCount_, buf, len);
            pendingCount_ += len;
            timedOut_ = false;
            return true;
        }
        // Too much to gather: what is held goes first, then this write as it is.
        uint32_t held = pendingCount_;
        pendingCount_ = 0;
        if (held > 0 && !writeNow(pending_, held)) return false;
        if (len <= sizeof pending_) {
            std::memcpy(pending_, buf, len);
            pendingCount_ = len;
            return true;
        }
    }
    return writeNow(buf, len);
}

void Connection::holdOutput() {
    holding_ = true;
}

bool Connection::releaseOutput() {
    holding_ = false;
    uint32_t held = pendingCount_;
    pendingCount_ = 0;
    return held == 0 || writeNow(pending_, held);
}

bool Connection::writeNow(const void* buf, uint32_t len) {
    bool ok = writeRaw(buf, len);
    timedOut_ = ok ? false : lastErrorWasTimeout();
    return ok;
}

bool Connection::writeString(const char* s) {
    return write(s, static_cast<uint32_t>(std::strlen(s)));
}

bool Connection::writeChar(char c) {
    return write(&c, 1);
}

bool Connection::setEcho(bool on) {
    bool previous = echo_;
    echo_ = on;
    return previous;
}
