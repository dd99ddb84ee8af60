// The link to one caller, whatever the transport: buffered reads, the line editor, echo and
// the time-out flag live here; subclasses supply the raw transport.
// A connection belongs to its caller's thread. Other threads may only call disconnect().
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

constexpr uint32_t ConnectionBufferSize = 4096;
constexpr uint32_t LineBufferSize = 256; // 255 characters and a NUL

class Connection {
public:
    // What the caller's terminal shows: the DOS code page byte for byte, or UTF-8, translated
    // here both ways so that everything above this layer keeps working in code page 437.
    enum class Charset { Cp437, Utf8 };

    Connection(int handle, bool isNetwork);
    virtual ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Closes the transport once; true if this call closed it. Safe from any thread, also
    // racing another disconnect. A blocked read on the owning thread then fails.
    bool disconnect();

    [[nodiscard]] bool readByte(char* c);
    [[nodiscard]] bool readExact(void* buf, uint32_t n);
    // Next byte that is not LF, nor a NUL right after a CR (Enter sent as CR NUL), echoed when
    // echo is on.
    [[nodiscard]] bool readKey(char* c);
    // The line editor: up to 255 characters ending at CR, BS or DEL taking back the last one;
    // buf holds LineBufferSize bytes and is always NUL-terminated on return, also on failure.
    [[nodiscard]] bool readLine(char* buf);
    // For a reader that also watches something else (a door program's terminal): waits up to
    // waitMs for the caller's bytes or for `alsoWatch` (a descriptor, -1 for none) to become
    // readable, then gives 1..cap bytes that are already here without waiting any further.
    // *got is 0 when nothing came in time, `alsoWatch` woke it or only protocol arrived.
    // False when the link failed (hang-up, dropped); timedOut() is then false.
    [[nodiscard]] bool readAvailable(void* buf, uint32_t cap, uint32_t waitMs, int alsoWatch,
                                     uint32_t* got);
    [[nodiscard]] bool write(const void* buf, uint32_t len);
    [[nodiscard]] bool writeString(const char* s);
    [[nodiscard]] bool writeChar(char c);
    // Returns the previous setting.
    bool setEcho(bool on);
    // Gathers the following writes and hands them to the transport together, so that a screen
    // made of many small writes leaves in one send instead of waiting on the network stack's
    // small-write delays. The bytes and their order stay the same. A read releases them too.
    void holdOutput();
    // Sends what was gathered and stops gathering; false when that send failed.
    [[nodiscard]] bool releaseOutput();

    // Takes effect with the next write and the next byte read.
    void setCharset(Charset charset) { charset_ = charset; }
    Charset charset() const { return charset_; }

    bool timedOut() const { return timedOut_; }
    uint32_t id() const { return id_; }
    bool isOpen() const { return open_.load(std::memory_order_acquire); }
    bool isNetwork() const { return isNetwork_; }

    // Send and receive time-outs in milliseconds; 0 means no limit.
    [[nodiscard]] virtual bool setTimeouts(uint32_t writeMs, uint32_t readMs) = 0;
    // One line describing the peer, into out (LineBufferSize bytes).
    virtual void describe(char* out) = 0;
    // describe() as it was the first time this was asked (admission, the CONNECT entry): every
    // entry of the connection names the same peer, also after a drop closed the socket.
    void description(char* out);
    virtual bool isModem() = 0;

protected:
    // Makes the transport unusable and wakes a blocked reader (shutdown, hang-up), but keeps
    // the descriptor number: the subclass destructor releases it after disconnect(), so a
    // descriptor is never closed while the owning thread may still use it.
    virtual void closeTransport() = 0;
    virtual bool lastErrorWasTimeout() = 0;
    // All len bytes out, only while open.
    [[nodiscard]] virtual bool writeRaw(const void* buf, uint32_t len) = 0;
    // Between 1 and ConnectionBufferSize bytes; *count untouched on failure.
    [[nodiscard]] virtual bool readRaw(void* buf, uint32_t* count) = 0;
    // For readAvailable: 1 when the transport has something to read (or has ended), 0 when
    // nothing came within ms or `alsoWatch` became readable, -1 on failure. By default the
    // handle is polled.
    virtual int waitReadable(uint32_t ms, int alsoWatch);
    // readRaw once waitReadable said 1; a transport whose handle can carry protocol alone
    // (Telnet commands) returns *count = 0 for that instead of waiting for data.
    [[nodiscard]] virtual bool readRawAvailable(void* buf, uint32_t* count) {
        return readRaw(buf, count);
    }

    int handle() const { return handle_; }

private:
    // Straight to the transport, keeping the time-out flag.
    [[nodiscard]] bool writeNow(const void* buf, uint32_t len);
    // write() without any translation.
    [[nodiscard]] bool writeBytes(const void* buf, uint32_t len);
    bool writeUtf8(const uint8_t* buf, uint32_t len);
    // readByte() without any translation.
    [[nodiscard]] bool takeByte(char* c);
    // The rest of a UTF-8 sequence whose lead byte was just taken, as one code page byte.
    bool finishUtf8(uint8_t lead, char* c);

    const uint32_t id_;
    std::once_flag describedOnce_;
    char description_[LineBufferSize] = {};
    std::atomic<bool> open_{true};
    std::mutex closeLock_; // orders a disconnect from another thread before the destructor's
    char readBuffer_[ConnectionBufferSize];
    uint32_t readPos_ = 0;
    uint32_t readCount_ = 0;
    char pending_[ConnectionBufferSize]; // gathered by holdOutput
    uint32_t pendingCount_ = 0;
    bool holding_ = false;
    bool timedOut_ = false;
    bool echo_ = false;
    bool lastWasCr_ = false; // the byte readByte gave last
    Charset charset_ = Charset::Cp437;
    const bool isNetwork_;
    const int handle_;
};

// Number of connections constructed so far in this process (the next id).
uint32_t connectionsCreated();
