#include "server/connections/connection.h"

#include "server/connections/charset.h"

#include <poll.h>

#include <cerrno>
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

void Connection::description(char* out) {
    std::call_once(describedOnce_, [this] {
        describe(description_);
        description_[LineBufferSize - 1] = 0;
    });
    std::memcpy(out, description_, LineBufferSize);
}

bool Connection::disconnect() {
    std::lock_guard g(closeLock_);
    if (!open_.exchange(false, std::memory_order_acq_rel)) return false;
    closeTransport();
    return true;
}

bool Connection::readByte(char* c) {
    if (!takeByte(c)) return false;
    // Code page 437 callers pay for nothing but this test.
    if (charset_ == Charset::Utf8 && static_cast<uint8_t>(*c) >= 0x80 &&
        !finishUtf8(static_cast<uint8_t>(*c), c))
        return false;
    lastWasCr_ = *c == '\r';
    return true;
}

bool Connection::finishUtf8(uint8_t lead, char* c) {
    uint8_t sequence[4] = {lead};
    uint32_t need = utf8Continuations(lead);
    for (uint32_t i = 1; i <= need; ++i) {
        char next;
        if (!takeByte(&next)) return false;
        if ((static_cast<uint8_t>(next) & 0xC0) != 0x80) {
            // Cut short: the byte that broke in is read again as a character of its own.
            --readPos_;
            *c = '?';
            return true;
        }
        sequence[i] = static_cast<uint8_t>(next);
    }
    *c = static_cast<char>(cp437FromUtf8(sequence, need + 1));
    return true;
}

bool Connection::takeByte(char* c) {
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

bool Connection::readAvailable(void* buf, uint32_t cap, uint32_t waitMs, int alsoWatch,
                               uint32_t* got) {
    *got = 0;
    if (readPos_ >= readCount_) {
        if (holding_ && !releaseOutput()) return false;
        if (!isOpen()) {
            timedOut_ = false;
            return false;
        }
        const int ready = waitReadable(waitMs, alsoWatch);
        uint32_t count = 0;
        if (ready < 0 || (ready > 0 && (!readRawAvailable(readBuffer_, &count) ||
                                        count > ConnectionBufferSize))) {
            timedOut_ = false; // a transport that failed here is gone, not slow
            return false;
        }
        if (count == 0) return true;
        readCount_ = count;
        readPos_ = 0;
        timedOut_ = false;
    }
    // Through readByte, so that the caller's character set is translated as everywhere else.
    auto* out = static_cast<char*>(buf);
    while (*got < cap && readPos_ < readCount_) {
        if (!readByte(out + *got)) return false;
        ++*got;
    }
    return true;
}

int Connection::waitReadable(uint32_t ms, int alsoWatch) {
    pollfd fds[2] = {{handle_, POLLIN, 0}, {alsoWatch, POLLIN, 0}};
    const int timeout = ms > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(ms);
    for (;;) {
        int n = ::poll(fds, alsoWatch >= 0 ? 2 : 1, timeout);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return -1;
        // The caller first: a hang-up shows as readable and fails in the read that follows.
        return fds[0].revents ? 1 : 0;
    }
}

bool Connection::readExact(void* buf, uint32_t n) {
    auto* p = static_cast<char*>(buf);
    for (uint32_t i = 0; i < n; ++i)
        if (!readByte(p + i)) return false;
    return true;
}

bool Connection::readKey(char* c) {
    char b;
    bool afterCr;
    do {
        afterCr = lastWasCr_;
        if (!readByte(&b)) return false;
    } while (b == '\n' || (b == '\0' && afterCr));
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
        case '\x7f': // what most terminals send for Backspace
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
    if (charset_ == Charset::Utf8) return writeUtf8(static_cast<const uint8_t*>(buf), len);
    return writeBytes(buf, len);
}

bool Connection::writeUtf8(const uint8_t* buf, uint32_t len) {
    char out[1024];
    uint32_t used = 0;
    for (uint32_t i = 0; i < len; ++i) {
        if (used + 3 > sizeof out) {
            if (!writeBytes(out, used)) return false;
            used = 0;
        }
        if (buf[i] < 0x80)
            out[used++] = static_cast<char>(buf[i]);
        else
            used += cp437ToUtf8(buf[i], out + used);
    }
    return writeBytes(out, used);
}

bool Connection::writeBytes(const void* buf, uint32_t len) {
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
