// Callers on a modem line: the comm handle of a connected data call, handed over by the modem
// module. Reads and writes use poll for the comm time-outs: a read returns at once with what has
// arrived, else waits up to the read time-out for the first byte; a write takes at most the
// write time-out in all; 0 means no limit. Closing hangs up the call; the descriptor itself is
// released to the modem module, which closes it once neither side uses it.
#pragma once

#include <atomic>

#include "server/connections/connection.h"

class SerialConnection : public Connection {
public:
    explicit SerialConnection(int commHandle);
    ~SerialConnection() override;

    bool setTimeouts(uint32_t writeMs, uint32_t readMs) override;
    // "Device %s, Caller ID %s" from the modem module, else "Unknown modem device".
    void describe(char* out) override;
    bool isModem() override { return true; }

protected:
    void closeTransport() override;
    bool lastErrorWasTimeout() override;
    bool writeRaw(const void* buf, uint32_t len) override;
    bool readRaw(void* buf, uint32_t* count) override;
    int waitReadable(uint32_t ms, int alsoWatch) override;

private:
    // Waits for `events` on the line or the wake descriptor; 1 ready, 0 time-out, -1 closed.
    int waitFor(short events, int timeoutMs);

    int wake_ = -1;         // eventfd: a disconnect or the end of the call makes it readable
    bool attached_ = false; // the modem module shares the descriptor with us
    std::atomic<int> comm_; // the handle for the modem module; -1 once hung up
    std::atomic<uint32_t> writeMs_{0};
    std::atomic<uint32_t> readMs_{0};
    bool lastTransferShort_ = false;
};
