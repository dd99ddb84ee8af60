#include "server/connections/web_connection.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "server/connections/charset.h"
#include "server/connections/web_beast.h"

namespace {

using Clock = std::chrono::steady_clock;

// A caller who has left gets a close frame; one who does not answer it is not waited for long.
constexpr auto CloseBound = std::chrono::milliseconds(1000);

Clock::time_point deadlineAfter(uint32_t ms) {
    return Clock::now() + std::chrono::milliseconds(ms);
}

// A connection set back to the code page (an account that asks for DOS characters) still talks
// UTF-8 with the page, which knows no other: the bytes are translated here instead.
void toUtf8(const char* in, uint32_t len, std::string& out) {
    out.clear();
    out.reserve(len);
    for (uint32_t i = 0; i < len; ++i) {
        char seq[3];
        out.append(seq, cp437ToUtf8(static_cast<uint8_t>(in[i]), seq));
    }
}

// The page sends whole characters in each message, so a sequence never spans two reads.
uint32_t fromUtf8(char* buf, uint32_t len) {
    const auto* in = reinterpret_cast<const uint8_t*>(buf);
    uint32_t used = 0;
    for (uint32_t i = 0; i < len;) {
        uint32_t more = utf8Continuations(in[i]);
        uint32_t n = 1;
        while (n <= more && i + n < len && (in[i + n] & 0xC0) == 0x80)
            ++n;
        uint8_t b = in[i] < 0x80 ? in[i] : n == more + 1 ? cp437FromUtf8(in + i, n) : '?';
        buf[used++] = static_cast<char>(b);
        i += n;
    }
    return used;
}

} // namespace

WebConnection::WebConnection(WebLink& link, const WebPeer& peer)
    : Connection(link.ws.next_layer().socket().native_handle(), true), link_(link), peer_(peer) {
    link_.ws.binary(true);
    // The page is a terminal that speaks UTF-8; everything above this layer stays code page 437.
    setCharset(Charset::Utf8);
}

WebConnection::~WebConnection() {
    if (isOpen() && !writeFailed_ && !readFailed_) {
        bool closed = false;
        link_.ws.async_close(websocket::close_code::normal,
                             [&closed](beast::error_code) { closed = true; });
        auto deadline = Clock::now() + CloseBound;
        (void)link_.runUntil([&closed] { return closed; }, &deadline);
    }
    disconnect();
    // Closed here, on the owning thread, so no other thread can meet a reused descriptor number.
    beast::close_socket(beast::get_lowest_layer(link_.ws));
}

void WebConnection::closeTransport() {
    // From any thread: the close itself runs on the owning thread's loop, which this wakes.
    WebLink* link = &link_;
    net::post(link->ioc, [link] { beast::close_socket(beast::get_lowest_layer(link->ws)); });
}

bool WebConnection::failClosed() {
    lastWasTimeout_ = false;
    return false;
}

void WebConnection::startRead() {
    if (reading_ || readDone_) return;
    reading_ = true;
    link_.ws.async_read_some(net::buffer(in_, sizeof in_), [this](beast::error_code ec, size_t n) {
        reading_ = false;
        readDone_ = true;
        readFailed_ = bool(ec);
        readCount_ = ec ? 0 : uint32_t(n);
    });
}

bool WebConnection::takeRead(void* buf, uint32_t* count) {
    readDone_ = false;
    if (readFailed_ || !isOpen()) return failClosed();
    if (charset() == Charset::Cp437) readCount_ = fromUtf8(in_, readCount_);
    std::memcpy(buf, in_, readCount_); // may be none: an empty message, half a character
    *count = readCount_;
    return true;
}

bool WebConnection::readRaw(void* buf, uint32_t* count) {
    const auto deadline = deadlineAfter(readMs_);
    for (;;) {
        if (!isOpen() || readFailed_) return failClosed();
        startRead();
        if (!link_.runUntil([this] { return readDone_; }, readMs_ ? &deadline : nullptr)) {
            // The read stays under way; the next call picks up what it brings.
            lastWasTimeout_ = isOpen() && !readDone_;
            return lastWasTimeout_ ? false : failClosed();
        }
        if (!takeRead(buf, count)) return false;
        if (*count > 0) return true;
    }
}

int WebConnection::waitReadable(uint32_t ms, int alsoWatch) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        if (!isOpen() || readFailed_) return 1; // for the read that follows to report
        startRead();
        // Beast may hold a whole message already, which the socket no longer shows; and what
        // the socket brings may be a ping alone. Running the loop without waiting settles both.
        if (link_.ioc.stopped()) link_.ioc.restart();
        (void)link_.ioc.poll();
        if (readDone_) return 1;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        pollfd fds[2] = {{handle(), POLLIN, 0}, {alsoWatch, POLLIN, 0}};
        int n = ::poll(fds, alsoWatch >= 0 ? 2 : 1,
                       left <= 0 ? 0 : static_cast<int>(std::min<long long>(left, 0x7FFFFFFF)));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return -1;
        if (n == 0 || !fds[0].revents) return 0;
    }
}

bool WebConnection::readRawAvailable(void* buf, uint32_t* count) {
    if (!readDone_) {
        *count = 0;
        return isOpen() && !readFailed_ ? true : failClosed();
    }
    return takeRead(buf, count);
}

bool WebConnection::writeRaw(const void* buf, uint32_t len) {
    if (!isOpen() || writeFailed_) return failClosed();
    if (len == 0) return true;
    const auto deadline = deadlineAfter(writeMs_);
    const auto* bound = writeMs_ ? &deadline : nullptr;
    auto finished = [this] { return !writing_; };
    // A write that ran out of time before is still under way: it goes first.
    if (writing_ && !link_.runUntil(finished, bound)) {
        lastWasTimeout_ = isOpen();
        return false;
    }
    if (!isOpen() || writeFailed_) return failClosed();
    if (charset() == Charset::Cp437)
        toUtf8(static_cast<const char*>(buf), len, out_);
    else
        out_.assign(static_cast<const char*>(buf), len);
    writing_ = true;
    link_.ws.async_write(net::buffer(out_), [this](beast::error_code ec, size_t) {
        writing_ = false;
        if (ec) writeFailed_ = true;
    });
    if (!link_.runUntil(finished, bound)) {
        lastWasTimeout_ = isOpen();
        return false;
    }
    if (writeFailed_ || !isOpen()) return failClosed();
    return true;
}

bool WebConnection::setTimeouts(uint32_t writeMs, uint32_t readMs) {
    if (!isOpen()) return false;
    writeMs_ = writeMs;
    readMs_ = readMs;
    return true;
}

void WebConnection::describe(char* out) {
    if (!isOpen()) {
        std::snprintf(out, LineBufferSize, "WEB (socket has been closed)");
        return;
    }
    const uint8_t* r = peer_.remote;
    const uint8_t* l = peer_.local;
    if (peer_.forwarded) {
        const uint8_t* v = peer_.via;
        std::snprintf(out, LineBufferSize,
                      "WEB from %d.%d.%d.%d via %d.%d.%d.%d:%d (remote) to %d.%d.%d.%d:%d (local)",
                      r[0], r[1], r[2], r[3], v[0], v[1], v[2], v[3], peer_.viaPort, l[0], l[1],
                      l[2], l[3], peer_.localPort);
        return;
    }
    std::snprintf(out, LineBufferSize, "WEB from %d.%d.%d.%d:%d (remote) to %d.%d.%d.%d:%d (local)",
                  r[0], r[1], r[2], r[3], peer_.remotePort, l[0], l[1], l[2], l[3],
                  peer_.localPort);
}
