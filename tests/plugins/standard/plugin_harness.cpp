#include "plugins/standard/plugin_harness.h"

#include <dlfcn.h>
#include <elf.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <iterator>

namespace plugtest {
namespace {

CallerLink* linkOf(void* session) {
    return static_cast<CallerLink*>(session);
}

BOOL getValue(void* session, DWORD code, void* out) {
    CallerLink* link = linkOf(session);
    if (!link || !out) return 0;
    FakeAccount& a = link->account;
    std::lock_guard<std::mutex> hold(a.lock);
    if (a.refuseGets) return 0;
    auto* number = static_cast<DWORD*>(out);
    switch (code) {
    case BBS_VALUE_TIMEOUT:
        *number = 0;
        return 1;
    case BBS_VALUE_LOGIN_NAME:
        std::snprintf(static_cast<char*>(out), 32, "%s", a.loginName.c_str());
        return 1;
    case BBS_VALUE_ANSI_TERMINAL:
        *number = a.ansi;
        return 1;
    case BBS_VALUE_UPLOAD_KB:
        *number = a.uploadKb;
        return 1;
    case BBS_VALUE_DOWNLOAD_KB:
        *number = a.downloadKb;
        return 1;
    case BBS_VALUE_ACCESS_LEVEL:
        *number = a.accessLevel;
        return 1;
    case BBS_VALUE_EXTENSION_ARGS:
        std::snprintf(static_cast<char*>(out), 64, "%s", a.args.c_str());
        return 1;
    case BBS_VALUE_UTF8_TERMINAL:
        *number = a.utf8;
        return 1;
    }
    return 0;
}

BOOL setValue(void* session, DWORD code, const DWORD* value) {
    CallerLink* link = linkOf(session);
    if (!link || !value) return 0;
    FakeAccount& a = link->account;
    std::lock_guard<std::mutex> hold(a.lock);
    if (a.refuseSaves) return 0;
    switch (code) {
    case BBS_VALUE_ANSI_TERMINAL:
        a.ansi = *value != 0;
        break;
    case BBS_VALUE_UTF8_TERMINAL:
        a.utf8 = *value != 0;
        break;
    case BBS_VALUE_UPLOAD_KB:
        a.uploadKb = *value;
        break;
    case BBS_VALUE_DOWNLOAD_KB:
        a.downloadKb = *value;
        break;
    default:
        return 0;
    }
    ++a.saves;
    return 1;
}

BOOL writeBytes(void* session, const void* buffer, DWORD length) {
    CallerLink* link = linkOf(session);
    if (!link || link->serverFd < 0) return 0;
    const auto* at = static_cast<const char*>(buffer);
    while (length > 0) {
        ssize_t n = send(link->serverFd, at, length, MSG_NOSIGNAL);
        if (n <= 0) return 0;
        at += n;
        length -= static_cast<DWORD>(n);
    }
    return 1;
}

BOOL readBytes(void* session, void* buffer, DWORD length) {
    CallerLink* link = linkOf(session);
    if (!link || link->serverFd < 0) return 0;
    auto* at = static_cast<char*>(buffer);
    while (length > 0) {
        ssize_t n = recv(link->serverFd, at, length, 0);
        if (n <= 0) return 0; // hang-up, or the receive time-out below
        at += n;
        length -= static_cast<DWORD>(n);
    }
    return 1;
}

} // namespace

HostServices testServices(DWORD version) {
    return HostServices{version, getValue, setValue, writeBytes, readBytes};
}

PluginLibrary::PluginLibrary(const std::string& fileName)
    : path(ovtest::binDir() + "/" + fileName) {
    handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        ADD_FAILURE() << "dlopen " << path << ": " << dlerror();
        return;
    }
    reg = reinterpret_cast<BBSRegisterProc>(dlsym(handle, "BBSRegister"));
    unreg = reinterpret_cast<BBSUnregisterProc>(dlsym(handle, "BBSUnregister"));
    startup = reinterpret_cast<BBSStartupProc>(dlsym(handle, "BBSStartup"));
    shutdown = reinterpret_cast<BBSShutdownProc>(dlsym(handle, "BBSShutdown"));
    wndProc = reinterpret_cast<BBSWndProcProc>(dlsym(handle, "BBSWndProc"));
    session = reinterpret_cast<BBSSessionProc>(dlsym(handle, "BBSSession"));
    configure = reinterpret_cast<BBSConfigureProc>(dlsym(handle, "BBSConfigure"));
}

PluginLibrary::~PluginLibrary() {
    if (handle) dlclose(handle);
}

bool PluginLibrary::loaded() const {
    return handle && reg && unreg && startup && shutdown && wndProc && session && configure;
}

bool PluginLibrary::start(DWORD version) {
    const HostServices services = testServices(version);
    UINT next = 41000;
    return loaded() && startup(nullptr, nullptr, 0, 1, &next, &services) != 0;
}

CallerLink::CallerLink(BBSSessionProc proc, FakeAccount& acc) : account(acc) {
    int clientFd = -1;
    if (!ovtest::makeTcpPair(serverFd, clientFd)) {
        ADD_FAILURE() << "no loopback pair";
        done = true;
        return;
    }
    caller = ovtest::LoopbackClient(clientFd);
    // A plug-in waiting for a key that never comes still ends: reads time out.
    timeval limit{10, 0};
    setsockopt(serverFd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    setsockopt(serverFd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    thread = std::thread([this, proc] {
        DWORD flag = 99;
        result = proc(this, 7, 42, &flag);
        endSession = flag;
        done = true;
    });
}

CallerLink::~CallerLink() {
    if (thread.joinable()) {
        caller.close(); // a session still waiting for the caller sees a hang-up
        thread.join();
    }
    if (serverFd >= 0) close(serverFd);
}

void CallerLink::finish() {
    if (thread.joinable()) thread.join();
    if (serverFd >= 0) {
        shutdown(serverFd, SHUT_RDWR);
        close(serverFd);
        serverFd = -1;
    }
}

std::string CallerLink::restAfterFinish() {
    finish();
    return caller.readToClose();
}

std::vector<std::string> exportedSymbols(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string image((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::string> names;
    if (image.size() < sizeof(Elf64_Ehdr)) return names;
    Elf64_Ehdr header;
    std::memcpy(&header, image.data(), sizeof header);
    auto section = [&](size_t index) {
        Elf64_Shdr s{};
        size_t at = header.e_shoff + index * header.e_shentsize;
        if (at + sizeof s <= image.size()) std::memcpy(&s, image.data() + at, sizeof s);
        return s;
    };
    for (size_t i = 0; i < header.e_shnum; ++i) {
        Elf64_Shdr symbols = section(i);
        if (symbols.sh_type != SHT_DYNSYM) continue;
        Elf64_Shdr strings = section(symbols.sh_link);
        for (size_t at = symbols.sh_offset;
             at + sizeof(Elf64_Sym) <= symbols.sh_offset + symbols.sh_size;
             at += sizeof(Elf64_Sym)) {
            Elf64_Sym sym;
            std::memcpy(&sym, image.data() + at, sizeof sym);
            bool global = ELF64_ST_BIND(sym.st_info) == STB_GLOBAL ||
                          ELF64_ST_BIND(sym.st_info) == STB_WEAK ||
                          ELF64_ST_BIND(sym.st_info) == STB_GNU_UNIQUE;
            if (sym.st_shndx != SHN_UNDEF && global && sym.st_name < strings.sh_size)
                names.emplace_back(image.data() + strings.sh_offset + sym.st_name);
        }
    }
    return names;
}

} // namespace plugtest
