// Who still holds each comm descriptor: the telephony side until the call is cleared, the
// session from the thread start until its connection is destroyed.
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "server/modems/modem_state.h"

namespace modems {

namespace {

struct CommHold {
    int fd;
    int wakeFd; // the attached connection's, -1 when none
    bool telephonyHolds;
    bool sessionHolds;
    bool sessionAttached;
};

// Never destroyed: session threads may let go during process exit.
std::vector<CommHold>& holds() {
    static auto* all = new std::vector<CommHold>;
    return *all;
}

CommHold* findHold(int fd) {
    for (CommHold& h : holds())
        if (h.fd == fd) return &h;
    return nullptr;
}

void wake(int wakeFd) {
    if (wakeFd < 0) return;
    uint64_t one = 1;
    (void)!::write(wakeFd, &one, sizeof one);
}

void dropIfUnheld(int fd) {
    CommHold* h = findHold(fd);
    if (!h || h->telephonyHolds || h->sessionHolds) return;
    ::close(fd);
    std::erase_if(holds(), [fd](const CommHold& x) { return x.fd == fd; });
}

} // namespace

void takeComm(int fd) {
    std::lock_guard g(modemLineLock());
    if (CommHold* h = findHold(fd)) {
        h->telephonyHolds = true;
        return;
    }
    holds().push_back({fd, -1, true, false, false});
}

void reserveCommForSession(int fd) {
    std::lock_guard g(modemLineLock());
    if (CommHold* h = findHold(fd)) h->sessionHolds = true;
}

void releaseCommFromTelephony(int fd) {
    std::lock_guard g(modemLineLock());
    CommHold* h = findHold(fd);
    if (!h) {
        ::close(fd);
        return;
    }
    h->telephonyHolds = false;
    wake(h->wakeFd);
    dropIfUnheld(fd);
}

void closeLineComm(ModemLine& line) {
    if (line.commHandle == InvalidComm) return;
    releaseCommFromTelephony(line.commHandle);
    line.commHandle = InvalidComm;
}

} // namespace modems

using namespace modems;

bool attachModemComm(int commHandle, int wakeFd) {
    std::lock_guard g(modemLineLock());
    CommHold* h = findHold(commHandle);
    if (!h || !h->sessionHolds || h->sessionAttached) return false;
    h->sessionAttached = true;
    h->wakeFd = wakeFd;
    if (!h->telephonyHolds) wake(wakeFd); // the call was cleared before the session began
    return true;
}

void releaseModemComm(int commHandle) {
    std::lock_guard g(modemLineLock());
    CommHold* h = findHold(commHandle);
    if (!h || !h->sessionHolds) return;
    h->sessionHolds = false;
    h->sessionAttached = false;
    h->wakeFd = -1;
    dropIfUnheld(commHandle);
}
