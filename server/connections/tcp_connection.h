// Callers over a connected, blocking IPv4 TCP socket; TelnetConnection adds the opening
// negotiation, 255-doubling on output and the handling of Telnet commands on input.
#pragma once

#include "server/connections/connection.h"

class TcpConnection : public Connection {
public:
    // Takes ownership of the socket; the destructor closes it.
    explicit TcpConnection(int socketFd);
    ~TcpConnection() override;

    bool setTimeouts(uint32_t writeMs, uint32_t readMs) override;
    void describe(char* out) override;
    bool isModem() override { return false; }

protected:
    void closeTransport() override;
    bool lastErrorWasTimeout() override;
    bool writeRaw(const void* buf, uint32_t len) override;
    bool readRaw(void* buf, uint32_t* count) override;
    // The plain send loop, without any Telnet processing.
    bool sendAll(const void* buf, uint32_t len);
    // One recv of up to len bytes; false on close, error or time-out.
    bool receive(void* buf, uint32_t len, uint32_t* count);
    // Records a failure that was no time-out (the connection is closed) and returns false.
    bool failClosed();

private:
    uint8_t remoteAddress_[4] = {};
    uint8_t localAddress_[4] = {};
    uint16_t remotePort_ = 0;
    uint16_t localPort_ = 0;
    bool lastWasTimeout_ = false;
};

class TelnetConnection : public TcpConnection {
public:
    // Sends the opening negotiation: WILL SUPPRESS-GO-AHEAD, DO SUPPRESS-GO-AHEAD, WILL ECHO.
    explicit TelnetConnection(int socketFd);

protected:
    bool writeRaw(const void* buf, uint32_t len) override;
    // Exactly one data byte per call; commands are answered or dropped on the way, and so is
    // the NUL of a CR NUL pair (a bare CR in Telnet's terms, RFC 854).
    bool readRaw(void* buf, uint32_t* count) override;
    // The same, but returns *count = 0 instead of waiting when only commands were there.
    bool readRawAvailable(void* buf, uint32_t* count) override;

private:
    bool readData(void* buf, uint32_t* count, bool onlyWhatIsHere);
    bool receiveByte(uint8_t* b);
    bool afterCr_ = false; // the last data byte handed out was CR
};
