#include "server/modems/tapi_binding.h"

#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <mutex>

namespace tapi {

namespace {

// An entry or the library: null before the first look-up, Missing once it failed for good.
void* const Missing = reinterpret_cast<void*>(~uintptr_t{0});

std::mutex loadLock;
const char* libraryName = "libovtapi.so";
std::atomic<void*> library{nullptr};

void* openBesideExecutable(const char* name) {
    char path[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return nullptr;
    path[n] = '\0';
    char* slash = std::strrchr(path, '/');
    if (!slash || static_cast<size_t>(slash + 1 - path) + std::strlen(name) >= sizeof path)
        return nullptr;
    std::strcpy(slash + 1, name);
    return dlopen(path, RTLD_NOW | RTLD_LOCAL);
}

void* loadLibrary() {
    void* lib = library.load(std::memory_order_acquire);
    if (lib) return lib;
    std::lock_guard g(loadLock);
    lib = library.load(std::memory_order_relaxed);
    if (!lib) {
        // By name: the executable's RUNPATH ($ORIGIN) finds the provider beside it.
        lib = dlopen(libraryName, RTLD_NOW | RTLD_LOCAL);
        // A sanitizer's dlopen interceptor hides the executable's RUNPATH: look beside it.
        if (!lib && !std::strchr(libraryName, '/')) lib = openBesideExecutable(libraryName);
        if (!lib) lib = Missing; // the library is never looked for again, nor unloaded
        library.store(lib, std::memory_order_release);
    }
    return lib;
}

template <class Fn> Fn bind(std::atomic<void*>& slot, const char* name) {
    void* fn = slot.load(std::memory_order_acquire);
    if (!fn) {
        void* lib = loadLibrary();
        fn = lib == Missing ? nullptr : dlsym(lib, name);
        if (!fn) fn = Missing;
        slot.store(fn, std::memory_order_release);
    }
    return fn == Missing ? nullptr : reinterpret_cast<Fn>(fn);
}

#define OV_TAPI_CALL(name, ...)                                                                    \
    static std::atomic<void*> slot{nullptr};                                                       \
    auto fn = bind<decltype(&::name)>(slot, #name);                                                \
    return fn ? fn(__VA_ARGS__) : LINEERR_OPERATIONUNAVAIL

} // namespace

LONG lineAccept(HCALL hCall, LPCSTR lpsUserUserInfo, DWORD dwSize) {
    OV_TAPI_CALL(lineAccept, hCall, lpsUserUserInfo, dwSize);
}

LONG lineAnswer(HCALL hCall, LPCSTR lpsUserUserInfo, DWORD dwSize) {
    OV_TAPI_CALL(lineAnswer, hCall, lpsUserUserInfo, dwSize);
}

LONG lineClose(HLINE hLine) {
    OV_TAPI_CALL(lineClose, hLine);
}

LONG lineDeallocateCall(HCALL hCall) {
    OV_TAPI_CALL(lineDeallocateCall, hCall);
}

LONG lineDrop(HCALL hCall, LPCSTR lpsUserUserInfo, DWORD dwSize) {
    OV_TAPI_CALL(lineDrop, hCall, lpsUserUserInfo, dwSize);
}

LONG lineGetCallInfo(HCALL hCall, LPLINECALLINFO lpCallInfo) {
    OV_TAPI_CALL(lineGetCallInfo, hCall, lpCallInfo);
}

LONG lineGetDevCaps(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPIVersion, DWORD dwExtVersion,
                    LPLINEDEVCAPS lpLineDevCaps) {
    OV_TAPI_CALL(lineGetDevCaps, hLineApp, dwDeviceID, dwAPIVersion, dwExtVersion, lpLineDevCaps);
}

LONG lineGetID(HLINE hLine, DWORD dwAddressID, HCALL hCall, DWORD dwSelect, LPVARSTRING lpDeviceID,
               LPCSTR lpszDeviceClass) {
    OV_TAPI_CALL(lineGetID, hLine, dwAddressID, hCall, dwSelect, lpDeviceID, lpszDeviceClass);
}

LONG lineInitialize(LPHLINEAPP lphLineApp, HINSTANCE hInstance, LINECALLBACK lpfnCallback,
                    LPCSTR lpszAppName, LPDWORD lpdwNumDevs) {
    OV_TAPI_CALL(lineInitialize, lphLineApp, hInstance, lpfnCallback, lpszAppName, lpdwNumDevs);
}

LONG lineNegotiateAPIVersion(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPILowVersion,
                             DWORD dwAPIHighVersion, LPDWORD lpdwAPIVersion,
                             LPLINEEXTENSIONID lpExtensionID) {
    OV_TAPI_CALL(lineNegotiateAPIVersion, hLineApp, dwDeviceID, dwAPILowVersion, dwAPIHighVersion,
                 lpdwAPIVersion, lpExtensionID);
}

LONG lineOpen(HLINEAPP hLineApp, DWORD dwDeviceID, LPHLINE lphLine, DWORD dwAPIVersion,
              DWORD dwExtVersion, DWORD dwCallbackInstance, DWORD dwPrivileges, DWORD dwMediaModes,
              const LINECALLPARAMS* lpCallParams) {
    OV_TAPI_CALL(lineOpen, hLineApp, dwDeviceID, lphLine, dwAPIVersion, dwExtVersion,
                 dwCallbackInstance, dwPrivileges, dwMediaModes, lpCallParams);
}

LONG lineShutdown(HLINEAPP hLineApp) {
    OV_TAPI_CALL(lineShutdown, hLineApp);
}

void setTelephonyLibraryName(const char* name) {
    std::lock_guard g(loadLock);
    libraryName = name;
}

bool telephonyLibraryMissing() {
    return library.load(std::memory_order_acquire) == Missing;
}

} // namespace tapi
