// The sysop's main window (dialog 118): its procedure, which routes every message, and the
// about box. The editors that live in the window (server/users/user_editor.h,
// server/areas/area_editor.h, server/plugins/plugin_dialogs.h) own their controls; the window
// only routes their commands.
#pragma once

#include "ovui.h"

// The procedure of dialog 118 (mainDialogTemplate). Messages other than WM_INITDIALOG,
// WM_CLOSE, WM_SOCKET and WM_TOOLTRAY go to the plug-ins first (offerToPlugins).
INT_PTR mainDialogProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam);

// About box 107, owned by `owner`.
void showAboutBox(HWND owner);
