#include "server/sysop/tray.h"

#include <cstdio>
#include <cstring>
#include <mutex>

#include "server/base/product.h"
#include "server/sysop/app_state.h"

namespace {

constexpr UINT TrayIconId = 1;

std::recursive_mutex trayLock;
int shownLevel = 0;
char shownTip[TrayTipSize] = {};

OvNotifyIconData baseRecord(UINT flags) {
    OvNotifyIconData data{};
    data.hwnd = mainWindow.load();
    data.id = TrayIconId;
    data.flags = flags;
    data.callbackMessage = wmToolTray.load();
    data.iconLevel = shownLevel;
    std::memcpy(data.tip, shownTip, sizeof data.tip);
    return data;
}

} // namespace

void addTrayIcon() {
    std::lock_guard lock(trayLock);
    shownLevel = 0;
    std::snprintf(shownTip, sizeof shownTip, "%s", ProductName);
    OvNotifyIconData data = baseRecord(NIF_MESSAGE | NIF_ICON | NIF_TIP);
    (void)ovShellNotifyIcon(NIM_ADD, &data);
}

void removeTrayIcon() {
    std::lock_guard lock(trayLock);
    OvNotifyIconData data = baseRecord(0);
    (void)ovShellNotifyIcon(NIM_DELETE, &data);
}

void setTrayTip(const char* text) {
    std::lock_guard lock(trayLock);
    std::snprintf(shownTip, sizeof shownTip, "%s", text ? text : "");
    OvNotifyIconData data = baseRecord(NIF_TIP);
    (void)ovShellNotifyIcon(NIM_MODIFY, &data);
}

void setTrayIcon(int level) {
    if (level < 0) level = 0;
    if (level >= TrayLevelCount) level = TrayLevelCount - 1;
    std::lock_guard lock(trayLock);
    shownLevel = level;
    OvNotifyIconData data = baseRecord(NIF_ICON);
    (void)ovShellNotifyIcon(NIM_MODIFY, &data);
}

void restoreTrayIcon() {
    std::lock_guard lock(trayLock);
    OvNotifyIconData data = baseRecord(NIF_MESSAGE | NIF_ICON | NIF_TIP);
    (void)ovShellNotifyIcon(NIM_ADD, &data);
}

int trayLevelFor(uint32_t activeUsers, uint32_t maxUsers) {
    // A limit lowered to 0 while callers are on: everyone is over it, so show the full load.
    if (maxUsers == 0) return TrayLevelCount - 1;
    uint64_t level = uint64_t(activeUsers) * 5 / maxUsers;
    return level > 5 ? 5 : int(level);
}

void formatUserCountTip(char out[TrayTipSize], uint32_t activeUsers, uint32_t maxUsers) {
    std::snprintf(out, TrayTipSize, "%d user(s) out of a maximum of %d", int(activeUsers),
                  int(maxUsers));
}

void showUserLoad(uint32_t activeUsers, uint32_t maxUsers) {
    char tip[TrayTipSize];
    formatUserCountTip(tip, activeUsers, maxUsers);
    setTrayIcon(trayLevelFor(activeUsers, maxUsers));
    setTrayTip(tip);
}

int currentTrayLevel() {
    std::lock_guard lock(trayLock);
    return shownLevel;
}

void currentTrayTip(char out[TrayTipSize]) {
    std::lock_guard lock(trayLock);
    std::memcpy(out, shownTip, TrayTipSize);
}
