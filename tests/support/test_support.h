// Helpers shared by the test folders: a private working directory per test, waiting for
// conditions with a bound, and a plain loopback client for talking to the server.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace ovtest {

// Makes a fresh temporary directory, changes into it, and on destruction changes back
// and removes it with everything inside.
class TempWorkDir {
public:
    TempWorkDir();
    ~TempWorkDir();
    TempWorkDir(const TempWorkDir&) = delete;
    TempWorkDir& operator=(const TempWorkDir&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
    std::string previous_;
};

// Fixture form of TempWorkDir.
class WorkDirTest : public ::testing::Test {
protected:
    TempWorkDir workDir;
};

std::string readFile(const std::string& name);
bool fileExists(const std::string& name);
void writeFile(const std::string& name, const std::string& content);
uint64_t fileSizeOf(const std::string& name);

// Polls cond every few milliseconds until it holds or the bound passes.
bool waitUntil(const std::function<bool()>& cond,
               std::chrono::milliseconds bound = std::chrono::seconds(10));

// Directory of the built binaries (plug-ins, runtime libraries, ovhost).
std::string binDir();
std::string sourceDir();

// Number of open descriptors of this process.
int openDescriptorCount();

// A blocking TCP client on 127.0.0.1 for driving callers.
class LoopbackClient {
public:
    LoopbackClient() = default;
    explicit LoopbackClient(int fd) : fd_(fd) {}
    ~LoopbackClient();
    LoopbackClient(LoopbackClient&& other) noexcept;
    LoopbackClient& operator=(LoopbackClient&& other) noexcept;

    bool connectTo(uint16_t port);
    bool send(const std::string& bytes);
    // Reads until `needle` has arrived (kept in the returned text) or the bound passes.
    std::string readUntil(const std::string& needle,
                          std::chrono::milliseconds bound = std::chrono::seconds(10));
    // Reads exactly n bytes or until the bound passes.
    std::string readBytes(size_t n, std::chrono::milliseconds bound = std::chrono::seconds(10));
    // Reads whatever arrives until the peer closes or the bound passes.
    std::string readToClose(std::chrono::milliseconds bound = std::chrono::seconds(10));
    // True once the peer has closed (reads 0) within the bound; data read meanwhile is dropped.
    bool waitForClose(std::chrono::milliseconds bound = std::chrono::seconds(10));
    void close();
    int fd() const { return fd_; }
    // Gives up ownership of the descriptor.
    int release() {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }
    // Everything received so far that readUntil did not hand out yet.
    std::string pending;

private:
    int fd_ = -1;
};

// A connected pair of loopback TCP sockets (server side, client side).
bool makeTcpPair(int& serverSide, int& clientSide);

// A listening socket on 127.0.0.1 with a free port.
int listenOnFreePort(uint16_t& port);

} // namespace ovtest
