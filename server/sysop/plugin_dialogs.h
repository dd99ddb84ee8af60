// The window side of the plug-in host in the main window: the "Installed plug-ins" list (1041)
// and its buttons, the open-file dialog for an installation, and the failure messages.
// Everything runs on the UI thread and acts on mainWindow's controls.
#pragma once

// Registers the plug-in list sink; call before loadAllPlugins.
void initPluginDialogs();
void installPluginFromDialog();
void uninstallSelectedPlugin();
void configureSelectedPlugin();
// Enables "Configure...", "Uninstall plug-in" and "<< Add current selection to area" for the
// selected entry.
void refreshPluginButtons();
