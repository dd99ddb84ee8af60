#include "platform/telephony/serial_port.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace ovtapi {

std::string lockFileName(const std::string& devicePath) {
    std::string rest = devicePath;
    if (rest.rfind("/dev/", 0) == 0) rest = rest.substr(5);
    for (char& c : rest)
        if (c == '/') c = '_';
    return "LCK.." + rest;
}

namespace {

// Both the HDB form (ASCII pid) and the old binary form (a raw int) are understood.
long pidInLockFile(const std::string& path) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -1;
    char buf[32] = {};
    ssize_t n = read(fd, buf, sizeof buf - 1);
    close(fd);
    if (n <= 0) return 0;
    if (n == 4) {
        int32_t binary;
        std::memcpy(&binary, buf, 4);
        bool printable = true;
        for (int i = 0; i < 4; ++i)
            if (buf[i] < ' ' && buf[i] != '\n') printable = false;
        if (!printable) return binary;
    }
    char* end = nullptr;
    long pid = std::strtol(buf, &end, 10);
    return end == buf ? 0 : pid;
}

bool processAlive(long pid) {
    if (pid <= 0) return false;
    return kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

} // namespace

LockResult takeLock(const std::string& lockDir, const std::string& devicePath,
                    std::string& lockPath, std::string& why) {
    lockPath = lockDir + "/" + lockFileName(devicePath);
    for (int attempt = 0; attempt < 3; ++attempt) {
        int fd = open(lockPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd >= 0) {
            char text[16];
            int len = std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(getpid()));
            bool ok = write(fd, text, static_cast<size_t>(len)) == len;
            close(fd);
            if (ok) return LockResult::Taken;
            unlink(lockPath.c_str());
            why = "cannot write lock file " + lockPath;
            return LockResult::Failed;
        }
        if (errno != EEXIST) {
            why = "cannot create lock file " + lockPath + ": " + std::strerror(errno);
            return LockResult::Failed;
        }
        long pid = pidInLockFile(lockPath);
        if (pid == getpid() || processAlive(pid)) {
            why = devicePath + " is locked by process " + std::to_string(pid);
            return LockResult::Busy;
        }
        // Stale: its owner is gone.
        if (unlink(lockPath.c_str()) != 0 && errno != ENOENT) {
            why = "cannot remove stale lock file " + lockPath + ": " + std::strerror(errno);
            return LockResult::Failed;
        }
    }
    why = "lock file " + lockPath + " keeps coming back";
    return LockResult::Busy;
}

void releaseLock(const std::string& lockPath) {
    if (!lockPath.empty() && pidInLockFile(lockPath) == getpid()) unlink(lockPath.c_str());
}

namespace {

speed_t speedConstant(unsigned speed) {
    switch (speed) {
    case 1200:
        return B1200;
    case 2400:
        return B2400;
    case 4800:
        return B4800;
    case 9600:
        return B9600;
    case 19200:
        return B19200;
    case 38400:
        return B38400;
    case 57600:
        return B57600;
    case 230400:
        return B230400;
    default:
        return B115200;
    }
}

} // namespace

OpenResult openTty(const std::string& path, unsigned speed, int& fd, std::string& why) {
    fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        int e = errno;
        why = "cannot open " + path + ": " + std::strerror(e);
        return (e == ENOENT || e == ENXIO || e == ENODEV) ? OpenResult::NoDevice
                                                          : OpenResult::Failed;
    }
    termios t{};
    if (!isatty(fd) || tcgetattr(fd, &t) != 0) {
        why = path + " is not a terminal device";
        close(fd);
        fd = -1;
        return OpenResult::NoDevice;
    }
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD | CRTSCTS | HUPCL;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    cfsetispeed(&t, speedConstant(speed));
    cfsetospeed(&t, speedConstant(speed));
    if (tcsetattr(fd, TCSANOW, &t) != 0) {
        why = "cannot set up " + path + ": " + std::strerror(errno);
        close(fd);
        fd = -1;
        return OpenResult::Failed;
    }
    tcflush(fd, TCIOFLUSH);
    return OpenResult::Opened;
}

namespace {

bool ioctlHasLines(int fd) {
    int bits = 0;
    return ioctl(fd, TIOCMGET, &bits) == 0;
}

bool ioctlCarrier(int fd, bool& on) {
    int bits = 0;
    if (ioctl(fd, TIOCMGET, &bits) != 0) return false;
    on = (bits & TIOCM_CAR) != 0;
    return true;
}

bool ioctlSetDtr(int fd, bool on) {
    int bits = TIOCM_DTR;
    return ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &bits) == 0;
}

const ModemControl kIoctlControl{ioctlHasLines, ioctlCarrier, ioctlSetDtr};

} // namespace

const ModemControl& modemControl() {
    return kIoctlControl;
}

bool writeAll(int fd, const std::string& bytes, int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return false;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        deadline - std::chrono::steady_clock::now())
                        .count();
        if (left <= 0) return false;
        pollfd p{fd, POLLOUT, 0};
        if (poll(&p, 1, static_cast<int>(left)) < 0 && errno != EINTR) return false;
        if (p.revents & (POLLERR | POLLHUP | POLLNVAL)) return false;
    }
    return true;
}

void setNonBlocking(int fd) {
    int flags = fcntl(fd, F_GETFL);
    if (flags >= 0 && !(flags & O_NONBLOCK)) fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

} // namespace ovtapi
