// The notification-area icon: its picture shows the load (levels 0 to 5), its tip the user
// count. The last icon and tip are remembered so a restarted taskbar gets them back.
// Safe from any thread; session threads show the load under the admission lock.
#pragma once

#include <cstdint>

constexpr int TrayLevelCount = 6;
constexpr unsigned TrayTipSize = 64;

void addTrayIcon();
void removeTrayIcon();
void setTrayTip(const char* text);
void setTrayIcon(int level);
void restoreTrayIcon();

// activeUsers * 5 / maxUsers capped at 5; a limit of 0 shows the full picture.
int trayLevelFor(uint32_t activeUsers, uint32_t maxUsers);
// "%d user(s) out of a maximum of %d".
void formatUserCountTip(char out[TrayTipSize], uint32_t activeUsers, uint32_t maxUsers);
// The load in picture and tip: the admission's load observer (setLoadObserver).
void showUserLoad(uint32_t activeUsers, uint32_t maxUsers);

// What the icon shows now (remembered state).
int currentTrayLevel();
void currentTrayTip(char out[TrayTipSize]);
