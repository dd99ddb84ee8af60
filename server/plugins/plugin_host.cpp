#include "server/plugins/plugin_host.h"

#include "server/connections/connection.h"
#include "server/plugins/plugin_session.h"
#include "server/preferences/preferences.h"

#include <cstring>
#include <functional>
#include <new>

namespace {

PluginSessionContext* usable(void* session) {
    auto* ctx = static_cast<PluginSessionContext*>(session);
    return ctx && ctx->connection ? ctx : nullptr;
}

BOOL putDword(void* out, DWORD v) {
    std::memcpy(out, &v, sizeof v);
    return TRUE;
}

// Copies a string with its terminator and nothing beyond it.
BOOL putText(void* out, const char* text, size_t fieldSize) {
    size_t n = strnlen(text, fieldSize - 1);
    std::memcpy(out, text, n);
    static_cast<char*>(out)[n] = '\0';
    return TRUE;
}

// Saves one change to the caller's account: the account is read again and only that change made
// to it, so that what the sysop or another session changed since the snapshot was taken stays;
// the snapshot then holds the account as written.
BOOL saveChange(PluginSessionContext& ctx, const std::function<void(UserRecord&)>& change) {
    UserRecord written;
    if (!changeUser(ctx.user.loginName, change, written)) return FALSE;
    ctx.user = written;
    return TRUE;
}

uint16_t withFlag(uint16_t flags, uint16_t flag, bool on) {
    return static_cast<uint16_t>((flags & ~flag) | (on ? flag : 0));
}

} // namespace

bool runExtension(uint32_t pluginId, const char* loginName, Connection& c, uint32_t areaId,
                  bool* endSession, const char* args) {
    auto* ctx = new (std::nothrow) PluginSessionContext;
    if (!ctx) return false;
    ctx->connection = &c;
    // A deleted account gives the plug-in nothing to work on.
    if (!loginName || !findUser(ctx->user, loginName)) {
        delete ctx;
        return false;
    }
    if (args) putText(ctx->args, args, sizeof ctx->args);
    BBSSessionProc session = nullptr;
    if (!attachSession(pluginId, *ctx, session)) {
        delete ctx;
        return false;
    }
    DWORD flag = 0; // a plug-in that forgets to answer leaves the caller browsing
    bool result = session(ctx, areaId, ctx->user.id, &flag) != 0;
    if (endSession) *endSession = flag != 0;
    detachSession(*ctx);
    delete ctx;
    return result;
}

BOOL hostGetValue(void* session, DWORD code, void* out) {
    // The one value of the host itself, asked at start-up when there is no session yet.
    if (!session && code == BBS_VALUE_SERVICES_SIZE && out)
        return putDword(out, static_cast<DWORD>(sizeof(HostServicesEx)));
    PluginSessionContext* ctx = usable(session);
    if (!ctx || !out) return FALSE;
    const UserRecord& u = ctx->user;
    switch (code) {
    case BBS_VALUE_TIMEOUT:
        return putDword(out, ctx->connection->timedOut() ? 1 : 0);
    case BBS_VALUE_LOGIN_NAME:
        return putText(out, u.loginName, sizeof u.loginName);
    case BBS_VALUE_ANSI_TERMINAL:
        return putDword(out, (u.userFlags & AnsiTerminalFlag) ? 1 : 0);
    case BBS_VALUE_UPLOAD_KB:
        return putDword(out, u.uploadKb);
    case BBS_VALUE_DOWNLOAD_KB:
        return putDword(out, u.downloadKb);
    case BBS_VALUE_ACCESS_LEVEL:
        return putDword(out, u.accessLevel);
    case BBS_VALUE_EXTENSION_ARGS:
        return putText(out, ctx->args, sizeof ctx->args);
    case BBS_VALUE_UTF8_TERMINAL:
        // What the caller gets now, which for an SSH caller may come from the client's locale.
        return putDword(out, ctx->connection->charset() == Connection::Charset::Utf8 ? 1 : 0);
    case BBS_VALUE_IDLE_TIMEOUT:
        return putDword(out, getIdleTimeoutMs());
    case BBS_VALUE_NODE:
        return putDword(out, ctx->connection->id() + 1);
    case BBS_VALUE_REAL_NAME:
        return putText(out, u.realName, sizeof u.realName);
    default:
        return FALSE;
    }
}

BOOL hostSetValue(void* session, DWORD code, const DWORD* value) {
    PluginSessionContext* ctx = usable(session);
    if (!ctx || !value) return FALSE;
    DWORD v;
    std::memcpy(&v, value, sizeof v);
    switch (code) {
    case BBS_VALUE_TIMEOUT:
        return ctx->connection->setTimeouts(v, v) ? TRUE : FALSE;
    case BBS_VALUE_ANSI_TERMINAL:
        return saveChange(*ctx, [v](UserRecord& u) {
            u.userFlags = withFlag(u.userFlags, AnsiTerminalFlag, v != 0);
        });
    case BBS_VALUE_UTF8_TERMINAL:
        if (!saveChange(*ctx, [v](UserRecord& u) {
                u.userFlags = withFlag(u.userFlags, Utf8TerminalFlag, v != 0);
            }))
            return FALSE;
        // The plug-in's next line already goes out in the new character set.
        ctx->connection->setCharset(v != 0 ? Connection::Charset::Utf8
                                           : Connection::Charset::Cp437);
        return TRUE;
    case BBS_VALUE_UPLOAD_KB:
        return saveChange(*ctx, [v](UserRecord& u) { u.uploadKb = v; });
    case BBS_VALUE_DOWNLOAD_KB:
        return saveChange(*ctx, [v](UserRecord& u) { u.downloadKb = v; });
    case BBS_VALUE_ACCESS_LEVEL:
        if (!getPluginsMayChangeAccess()) return FALSE;
        return saveChange(
            *ctx, [v](UserRecord& u) { u.accessLevel = static_cast<uint16_t>(v & 0xFFFF); });
    default:
        return FALSE; // login name, extension arguments and unknown codes
    }
}

BOOL hostWrite(void* session, const void* buffer, DWORD length) {
    PluginSessionContext* ctx = usable(session);
    if (!ctx || (!buffer && length)) return FALSE;
    return ctx->connection->write(buffer, length) ? TRUE : FALSE;
}

BOOL hostRead(void* session, void* buffer, DWORD length) {
    PluginSessionContext* ctx = usable(session);
    if (!ctx || (!buffer && length)) return FALSE;
    return ctx->connection->readExact(buffer, length) ? TRUE : FALSE;
}

BOOL hostReadAvailable(void* session, void* buffer, DWORD capacity, DWORD waitMs,
                       int wakeDescriptor, DWORD* received) {
    if (received) *received = 0;
    PluginSessionContext* ctx = usable(session);
    if (!ctx || !received || (!buffer && capacity)) return FALSE;
    uint32_t got = 0;
    if (!ctx->connection->readAvailable(buffer, capacity, waitMs, wakeDescriptor, &got))
        return FALSE;
    *received = got;
    return TRUE;
}

HostServicesEx makeHostServices() {
    HostServicesEx s{};
    s.base.version = BBS_HOST_VERSION; // kept: the standard plug-ins start only for exactly it
    s.base.getValue = hostGetValue;
    s.base.setValue = hostSetValue;
    s.base.write = hostWrite;
    s.base.read = hostRead;
    s.readAvailable = hostReadAvailable;
    return s;
}
