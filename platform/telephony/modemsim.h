// A Hayes-compatible modem on a pseudo-terminal, for tests and for trying the provider by hand.
// The provider opens path(); the simulator answers AT commands, rings with a chosen caller ID,
// answers ATA with CONNECT at a chosen rate and then passes data both ways: what the provider
// side writes is received() here (the remote caller's view), and send() reaches the provider.
// A pseudo-terminal has no carrier line, so a remote hang-up closes the pty and opens a fresh
// one; give a link path so the device name stays the same across calls.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace ovsim {

struct ModemSimOptions {
    std::string linkPath;          // symlink kept pointing at the current pty; empty: none
    int guardMs = 100;             // silence needed before and after "+++"
    int ringIntervalMs = 6000;     // between RINGs while nobody answers
    int maxRings = 10;             // then the caller gives up
    bool callerIdSupported = true; // else AT+VCID and AT#CID answer ERROR
    bool mute = false;             // a dead modem: no echo, no replies
    int answerDelayMs = 0;         // ATA to CONNECT; a byte from the line meanwhile aborts
};

class ModemSim {
public:
    explicit ModemSim(ModemSimOptions options = {});
    ~ModemSim();
    ModemSim(const ModemSim&) = delete;
    ModemSim& operator=(const ModemSim&) = delete;

    [[nodiscard]] bool start();
    std::string path() const; // the link path, else the pty's own path

    // Rings until answered or maxRings. number: digits, "P" (private) or "O" (out of area);
    // empty number and name: no caller-ID block. The block follows the first RING.
    void ring(const std::string& number = "", const std::string& name = "");
    void stopRinging();
    // What ATA brings: "CARRIER <carrierRate>" first when nonzero, then "CONNECT <rate>"
    // ("CONNECT" alone for rate 0). fails: "NO CARRIER" instead.
    void setAnswer(uint32_t rate, uint32_t carrierRate = 0, bool fails = false);
    void setMute(bool mute);
    // The remote caller hangs up: NO CARRIER, then the pty closes and a fresh one appears.
    void hangUp();
    // Raw bytes to the provider: caller data when online, modem output otherwise.
    void send(const std::string& bytes);

    bool online() const;
    std::string received() const;              // caller's view of the data sent while online
    std::vector<std::string> commands() const; // AT command lines, upper case, no spaces
    int callsEnded() const;                    // by ATH, DTR or hangUp()
    int ptyGeneration() const;                 // bumps with every fresh pty
    bool waitForCommand(const std::string& command, int timeoutMs, size_t occurrence = 1) const;
    bool waitForReceived(const std::string& needle, int timeoutMs) const;
    // cond runs without the simulator's lock and may call it.
    bool waitFor(const std::function<bool()>& cond, int timeoutMs) const;

private:
    void run();
    bool waitLocked(const std::function<bool()>& cond, int timeoutMs) const;
    [[nodiscard]] bool openPty();
    void closePty();
    void write(const std::string& bytes);
    void result(const char* verbose, int numeric);
    void onCommandByte(char c);
    void execute(const std::string& line);
    void onDataByte(char c, std::chrono::steady_clock::time_point now);
    void sendRing();
    void connect();
    void endCall();
    void wake();
    int timeoutMs(std::chrono::steady_clock::time_point now) const;

    ModemSimOptions options_;
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::thread thread_;
    int master_ = -1;
    int slave_ = -1; // kept open so the line discipline stays raw between openers
    int wake_[2] = {-1, -1};
    bool stop_ = false;
    bool hangUpPending_ = false;
    std::string ptyPath_;
    int generation_ = 0;

    // Modem state.
    bool echo_ = true;
    bool verbose_ = true;
    std::string commandLine_;
    bool online_ = false;
    bool offHook_ = false; // a call is up, online or escaped to command mode
    uint32_t rate_ = 33600, carrierRate_ = 0;
    bool answerFails_ = false;
    bool answering_ = false;
    std::chrono::steady_clock::time_point connectAt_{};
    std::string received_;
    std::vector<std::string> commands_;
    int callsEnded_ = 0;

    bool ringing_ = false;
    int rings_ = 0;
    std::string ringNumber_, ringName_;
    std::chrono::steady_clock::time_point nextRing_{};

    // "+++" detection while online.
    std::chrono::steady_clock::time_point lastDataByte_{};
    int plusCount_ = 0;
    std::chrono::steady_clock::time_point plusDone_{};
};

} // namespace ovsim
