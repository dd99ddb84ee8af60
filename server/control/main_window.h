// The sysop's main window (dialog 118): its procedure, which routes every message, and the
// about box. The editors that live in the window are reached through the calls listed below,
// one per command; each module owns its half of the window.
#pragma once

#include <cstdint>

#include "ovui.h"

// The procedure of dialog 118 (mainDialogTemplate). Messages other than WM_INITDIALOG,
// WM_CLOSE, WM_SOCKET and WM_TOOLTRAY go to the plug-ins first (offerToPlugins).
INT_PTR mainDialogProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam);

// About box 107, owned by `owner`.
void showAboutBox(HWND owner);

// Called by the main window, implemented by the editors (server/users/user_editor.h,
// server/areas/area_editor.h, server/plugins/plugin_dialogs.h). All run on the UI thread and
// act on mainWindow's controls.
void initUserEditor();     // registers the user list sink (before loadUserList)
void showSelectedUser();   // 1021 LBN_SELCHANGE, 1047
void saveSelectedUser();   // 1046
void deleteSelectedUser(); // 1045
void newUserFromEditor();  // 1044

void populateAreaTree(uint32_t id); // fills 1020 from area `id` (0: the root)
void showSelectedArea();            // TVN_SELCHANGED from 1020, 1039
void saveSelectedArea();            // 1038
void newSubArea();                  // 1030
void deleteSelectedArea();          // 1031
void editSelectedDescription();     // 1050
void addSelectedPluginToArea();     // 1028
void removeSelectedExtension();     // 1029
void editSelectedExtension();       // 1048

void initPluginDialogs();       // registers the plug-in list sink (before loadAllPlugins)
void installPluginFromDialog(); // 1042
void uninstallSelectedPlugin(); // 1043
void configureSelectedPlugin(); // 1049
void refreshPluginButtons();    // 1041 LBN_SELCHANGE
