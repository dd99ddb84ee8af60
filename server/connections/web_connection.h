// Callers from the caller page: one WebSocket, binary messages both ways, always UTF-8 on the
// wire (the page is a terminal that speaks nothing else), whatever the connection's charset. The
// caller's thread runs the socket's own event loop while it reads or writes, so time-outs, pings to
// notice a dead peer and a drop by another thread all reach it there.
#pragma once

#include <string>

#include "server/connections/connection.h"

struct WebLink;

// Who is at the other end, as describe() names it.
struct WebPeer {
    uint8_t remote[4] = {};
    uint16_t remotePort = 0;
    uint8_t local[4] = {};
    uint16_t localPort = 0;
    bool forwarded = false; // remote came from a trusted proxy's X-Forwarded-For
    uint8_t via[4] = {};    // then the proxy, with viaPort
    uint16_t viaPort = 0;
};

class WebConnection : public Connection {
public:
    // Works on an upgraded link that outlives it; the destructor says goodbye with a close
    // frame when it can and closes the socket.
    WebConnection(WebLink& link, const WebPeer& peer);
    ~WebConnection() override;

    bool setTimeouts(uint32_t writeMs, uint32_t readMs) override;
    // "WEB from a.b.c.d:port (remote) to a.b.c.d:port (local)"; a forwarded caller as
    // "WEB from a.b.c.d via a.b.c.d:port (remote) to ...".
    void describe(char* out) override;
    bool isModem() override { return false; }

protected:
    void closeTransport() override;
    bool lastErrorWasTimeout() override { return lastWasTimeout_; }
    bool writeRaw(const void* buf, uint32_t len) override;
    bool readRaw(void* buf, uint32_t* count) override;
    // Beast may hold a message already, where polling the socket cannot see it; and the socket
    // may bring a ping alone.
    int waitReadable(uint32_t ms, int alsoWatch) override;
    bool readRawAvailable(void* buf, uint32_t* count) override;

private:
    bool failClosed();
    void startRead(); // unless one is under way or done and not yet taken
    // Hands out a finished read (perhaps nothing, when it held only half a character).
    bool takeRead(void* buf, uint32_t* count);

    WebLink& link_;
    WebPeer peer_;
    uint32_t readMs_ = 0;
    uint32_t writeMs_ = 0;
    bool lastWasTimeout_ = false;
    // One read and one write may be under way in the link at a time; a time-out leaves them
    // there for the next call to finish.
    bool reading_ = false;
    bool readDone_ = false;
    bool readFailed_ = false;
    uint32_t readCount_ = 0;
    bool writing_ = false;
    bool writeFailed_ = false;
    char in_[ConnectionBufferSize];
    std::string out_;
};
