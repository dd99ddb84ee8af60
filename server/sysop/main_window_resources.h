// The main window's dialog template (118), its menu (101), and the ids the editors and the
// configuration dialogs share with it.
#pragma once

#include "ovui.h"
#include "server/base/product.h"

constexpr int MainDialogId = 118;
constexpr int MainMenuId = 101;
constexpr const char* MainWindowTitle = ProductName;
constexpr int AboutDialogId = 107;
constexpr int SplashBitmapId = 106;

// Menu commands.
enum MainMenuCommand : UINT {
    CmdExit = 40001,
    CmdHelpContents = 40003,
    CmdAbout = 40004,
    CmdAllowNewAccounts = 40007,
    CmdParanoidLogging = 40008,
    CmdHide = 40014,
    CmdActiveConnections = 40018,
    CmdModems = 40019,
    CmdTelnet = 40020,
    CmdResponseStrings = 40021,
    CmdGeneralOptions = 40022,
    CmdPluginsChangeAccess = 40023,
    CmdUnrevealingLogin = 40024,
};

// Controls of dialog 118.
enum MainControl : int {
    IdcAreaTree = 1020,
    IdcUserList = 1021,
    IdcAreaTitle = 1022,
    IdcAreaId = 1023,
    IdcAreaMinAccess = 1024,
    IdcAreaMaxAccess = 1025,
    IdcUserAccess = 1026,
    IdcExtensionList = 1027,
    IdcAddToArea = 1028,
    IdcRemoveExtension = 1029,
    IdcNewSubArea = 1030,
    IdcDeleteArea = 1031,
    IdcUserLogin = 1032,
    IdcUserFirstLogin = 1033,
    IdcUserLastLogin = 1034,
    IdcUserPassword = 1035,
    IdcUserRealName = 1036,
    IdcUserUploadKb = 1037,
    IdcSaveArea = 1038,
    IdcCancelArea = 1039,
    IdcUserDownloadKb = 1040,
    IdcPluginList = 1041,
    IdcInstallPlugin = 1042,
    IdcUninstallPlugin = 1043,
    IdcNewUser = 1044,
    IdcDeleteUser = 1045,
    IdcSaveUser = 1046,
    IdcCancelUser = 1047,
    IdcEditExtension = 1048,
    IdcConfigurePlugin = 1049,
    IdcEditDescription = 1050,
    IdcUserUtf8 = 1051,
};

extern const OvDialogTemplate mainDialogTemplate; // 118, with menu 101
