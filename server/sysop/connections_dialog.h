// The "Active connections" dialog (111): every listed caller with the time they came, their
// login and their connection; the sysop refreshes the view or drops the selected caller.
#pragma once

constexpr int ConnectionsDialogId = 111;
constexpr int IdcConnectionList = 1006;
constexpr int IdcRefreshConnections = 1005;
constexpr int IdcDisconnectCaller = 1007;
constexpr int ModemIconId = 112;
constexpr int NetworkIconId = 113;

// Modal, owned by the main window; returns when the sysop closes it.
void showConnectionsDialog();
