#include "server/sysop/main_window_resources.h"

#include <iterator>

namespace {

constexpr DWORD Tree = OV_HASBUTTONS | OV_HASLINES | OV_LINESATROOT | OV_TABSTOP;

const OvControlTemplate mainControls[] = {
    // Areas, extensions and plug-ins.
    {OV_NOID, OV_GROUPBOX, "Area/Extension Information", 5, 0, 380, 150, 0, 0},
    {IdcAreaTree, OV_TREEVIEW, "", 10, 10, 100, 135, Tree, 0},
    {IdcNewSubArea, OV_BUTTON, "New sub-area", 115, 10, 65, 14, OV_TABSTOP, 0},
    {IdcDeleteArea, OV_BUTTON, "Delete this area", 185, 10, 65, 14, OV_DISABLED | OV_TABSTOP, 0},
    {IdcSaveArea, OV_BUTTON, "Save changes", 115, 30, 65, 14, OV_TABSTOP, 0},
    {IdcCancelArea, OV_BUTTON, "Cancel changes", 185, 30, 65, 14, OV_TABSTOP, 0},
    {OV_NOID, OV_STATIC, "Area ID:", 115, 50, 29, 8, 0, 0},
    {IdcAreaId, OV_STATIC, "", 145, 50, 34, 8, 0, 0},
    {IdcEditDescription, OV_BUTTON, "Edit description...", 115, 60, 65, 14, OV_TABSTOP, 0},
    {OV_NOID, OV_STATIC, "Area title", 115, 77, 65, 8, 0, 0},
    {IdcAreaTitle, OV_EDIT, "", 115, 85, 65, 12, OV_TABSTOP, 0},
    {OV_NOID, OV_STATIC, "Access restrictions", 115, 104, 65, 8, 0, 0},
    {OV_NOID, OV_STATIC, "Min.", 115, 118, 28, 8, 0, 0},
    {IdcAreaMinAccess, OV_EDIT, "", 145, 116, 35, 12, OV_NUMBER | OV_TABSTOP, 0},
    {OV_NOID, OV_STATIC, "Max.", 115, 133, 28, 8, 0, 0},
    {IdcAreaMaxAccess, OV_EDIT, "", 145, 131, 35, 12, OV_NUMBER | OV_TABSTOP, 0},
    {OV_NOID, OV_STATIC, "Area's extensions", 185, 50, 65, 8, 0, 0},
    {IdcExtensionList, OV_LISTBOX, "", 185, 60, 65, 65, OV_NOTIFY | OV_TABSTOP, 0},
    {IdcEditExtension, OV_BUTTON, "Edit...", 185, 130, 30, 14, OV_DISABLED | OV_TABSTOP, 0},
    {IdcRemoveExtension, OV_BUTTON, "Remove", 220, 130, 30, 14, OV_DISABLED | OV_TABSTOP, 0},
    {OV_NOID, OV_STATIC, "Installed plug-ins", 255, 10, 60, 8, 0, 0},
    {IdcConfigurePlugin, OV_BUTTON, "Configure...", 317, 7, 63, 12, OV_DISABLED | OV_TABSTOP, 0},
    {IdcPluginList, OV_LISTBOX, "", 255, 20, 125, 85, OV_SORT | OV_NOTIFY | OV_TABSTOP, 0},
    {IdcAddToArea, OV_BUTTON, "<< Add current selection to area", 255, 110, 125, 14,
     OV_DISABLED | OV_TABSTOP, 0},
    {IdcInstallPlugin, OV_BUTTON, "Install new...", 255, 130, 60, 14, OV_TABSTOP, 0},
    {IdcUninstallPlugin, OV_BUTTON, "Uninstall plug-in", 320, 130, 60, 14, OV_DISABLED | OV_TABSTOP,
     0},
    // Users.
    {OV_NOID, OV_GROUPBOX, "User Information", 5, 155, 380, 90, 0, 0},
    {IdcUserList, OV_LISTBOX, "", 10, 165, 100, 62, OV_SORT | OV_NOTIFY | OV_TABSTOP, 0},
    {IdcNewUser, OV_BUTTON, "New user...", 115, 165, 65, 14, OV_TABSTOP, 0},
    {IdcDeleteUser, OV_BUTTON, "Delete user", 185, 165, 65, 14, OV_DISABLED | OV_TABSTOP, 0},
    {OV_NOID, OV_STATIC, "Login", 115, 187, 24, 8, 0, 0},
    {IdcUserLogin, OV_EDIT, "", 140, 185, 110, 12, OV_READONLY | OV_LOWERCASE | OV_TABSTOP, 0},
    {OV_NOID, OV_STATIC, "Pass", 115, 202, 24, 8, 0, 0},
    {IdcUserPassword, OV_EDIT, "", 140, 200, 40, 12, OV_PASSWORD | OV_TABSTOP, 0},
    {OV_NOID, OV_STATIC, "Access", 190, 202, 28, 8, 0, 0},
    {IdcUserAccess, OV_EDIT, "", 220, 200, 30, 12, OV_NUMBER | OV_TABSTOP, 0},
    {OV_NOID, OV_STATIC, "Real name", 115, 217, 38, 8, 0, 0},
    {IdcUserRealName, OV_EDIT, "", 155, 215, 95, 12, OV_TABSTOP, 0},
    {IdcSaveUser, OV_BUTTON, "Save changes", 255, 165, 60, 14, OV_TABSTOP, 0},
    {IdcCancelUser, OV_BUTTON, "Cancel changes", 320, 165, 60, 14, OV_TABSTOP, 0},
    {OV_NOID, OV_STATIC, "First login", 255, 187, 34, 8, 0, 0},
    {IdcUserFirstLogin, OV_EDIT, "", 290, 185, 90, 12, OV_READONLY | OV_TABSTOP, 0},
    {OV_NOID, OV_STATIC, "Last login", 255, 202, 34, 8, 0, 0},
    {IdcUserLastLogin, OV_EDIT, "", 290, 200, 90, 12, OV_READONLY | OV_TABSTOP, 0},
    {OV_NOID, OV_STATIC, "U/L KB", 255, 217, 28, 8, 0, 0},
    {IdcUserUploadKb, OV_EDIT, "", 285, 215, 30, 12, OV_READONLY | OV_NUMBER | OV_TABSTOP, 0},
    {OV_NOID, OV_STATIC, "D/L KB", 320, 217, 28, 8, 0, 0},
    {IdcUserDownloadKb, OV_EDIT, "", 350, 215, 30, 12, OV_READONLY | OV_NUMBER | OV_TABSTOP, 0},
    {IdcUserUtf8, OV_CHECKBOX, "UTF-8 terminal", 115, 231, 70, 10, OV_TABSTOP, 0},
};

const OvMenuTemplate configureMenu[] = {
    {"&General options...", CmdGeneralOptions, 0, nullptr, 0},
    {"&Modems...", CmdModems, 0, nullptr, 0},
    {"&Telnet...", CmdTelnet, 0, nullptr, 0},
    {"Response &strings...", CmdResponseStrings, 0, nullptr, 0},
};

const OvMenuTemplate fileMenu[] = {
    {"&Configure", 0, MF_POPUP, configureMenu, static_cast<int>(std::size(configureMenu))},
    {nullptr, 0, MF_SEPARATOR, nullptr, 0},
    {"E&xit\tAlt+F4", CmdExit, 0, nullptr, 0},
};

const OvMenuTemplate securityMenu[] = {
    {"&Allow new accounts", CmdAllowNewAccounts, 0, nullptr, 0},
    {"Allow &plug-ins to change access", CmdPluginsChangeAccess, 0, nullptr, 0},
    {"&Paranoid logging", CmdParanoidLogging, 0, nullptr, 0},
    {"&Unrevealing login screen", CmdUnrevealingLogin, 0, nullptr, 0},
};

const OvMenuTemplate windowMenu[] = {
    {"&Hide (tooltray icon only)", CmdHide, 0, nullptr, 0},
    {"&Active connections...", CmdActiveConnections, 0, nullptr, 0},
};

const OvMenuTemplate helpMenu[] = {
    {"&Contents", CmdHelpContents, MF_GRAYED, nullptr, 0},
    {"&About...", CmdAbout, 0, nullptr, 0},
};

const OvMenuTemplate mainMenu[] = {
    {"&File", 0, MF_POPUP, fileMenu, static_cast<int>(std::size(fileMenu))},
    {"&Security", 0, MF_POPUP, securityMenu, static_cast<int>(std::size(securityMenu))},
    {"&Window", 0, MF_POPUP, windowMenu, static_cast<int>(std::size(windowMenu))},
    {"&Help", 0, MF_POPUP, helpMenu, static_cast<int>(std::size(helpMenu))},
};

} // namespace

const OvDialogTemplate mainDialogTemplate = {
    MainDialogId,
    MainWindowTitle,
    390,
    249,
    OV_DS_CAPTION | OV_DS_SYSMENU | OV_DS_MINIMIZEBOX | OV_DS_MODALFRAME | OV_DS_CENTER,
    mainMenu,
    static_cast<int>(std::size(mainMenu)),
    mainControls,
    static_cast<int>(std::size(mainControls)),
};
