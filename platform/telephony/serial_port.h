// The operating-system side of a modem line: UUCP lock files, opening the tty raw with hardware
// flow control, and the modem control lines (DCD, DTR), which pseudo-terminals lack.
#pragma once

#include <cstdint>
#include <string>

namespace ovtapi {

enum class LockResult { Taken, Busy, Failed };

// "/dev/ttyS0" -> "LCK..ttyS0"; below /dev the rest of the path with '/' turned into '_'
// ("/dev/pts/3" -> "LCK..pts_3"), elsewhere the whole path so ("/tmp/m0" -> "LCK.._tmp_m0").
std::string lockFileName(const std::string& devicePath);
// Creates lockDir/LCK..name holding our pid ("%10d\n"). A lock of a dead process is taken over;
// one of a live process (this one included) gives Busy. `why` explains Busy and Failed.
[[nodiscard]] LockResult takeLock(const std::string& lockDir, const std::string& devicePath,
                                  std::string& lockPath, std::string& why);
// Removes the lock file if it still holds our pid.
void releaseLock(const std::string& lockPath);

enum class OpenResult { Opened, NoDevice, Failed };
// Opens a tty: O_NONBLOCK, close-on-exec, raw 8N1, CRTSCTS, CLOCAL, HUPCL, the given speed;
// input and output flushed. Anything that is not a tty gives NoDevice.
[[nodiscard]] OpenResult openTty(const std::string& path, unsigned speed, int& fd,
                                 std::string& why);

// Modem control lines. Each call answers false when the device has none (ENOTTY, EINVAL).
struct ModemControl {
    bool (*hasLines)(int fd);
    bool (*carrier)(int fd, bool& on);
    bool (*setDtr)(int fd, bool on);
};
const ModemControl& modemControl();

// Writes all of `bytes` within timeoutMs (poll on a non-blocking descriptor).
[[nodiscard]] bool writeAll(int fd, const std::string& bytes, int timeoutMs);
void setNonBlocking(int fd);

} // namespace ovtapi
