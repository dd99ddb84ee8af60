#include "server/plugins/plugin_dialogs.h"

void initPluginDialogs() {}
void installPluginFromDialog() {}
void uninstallSelectedPlugin() {}
void configureSelectedPlugin() {}
void refreshPluginButtons() {}
