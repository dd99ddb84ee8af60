// The "Area/Extension Information" group of the main window: the area tree (1020), the selected
// area's fields and its extension list (1027), edited in the window until "Save changes".
// Everything runs on the UI thread and acts on mainWindow's controls.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ovtypes.h"

// Inserts area `id` and, depth first, its sub-areas into the tree; an area already shown is
// not inserted again, so a damaged file with cycles cannot make it loop.
void populateAreaTree(uint32_t id);
// Shows the selected area. Moving away from an area with unsaved edits first asks whether to
// save them, throw them away, or stay on that area.
void showSelectedArea();
bool areaHasUnsavedEdits();
void saveSelectedArea();
void newSubArea();
void deleteSelectedArea();
void editSelectedDescription();
// Starts the text editor on the area's .txt file (created empty when missing) in "area" under
// the working directory; if it cannot be started, tells the sysop in a message box over `owner`.
bool editAreaDescription(uint32_t id, HWND owner);
void addSelectedPluginToArea();
void removeSelectedExtension();
// The titles of the areas (reachable from the root) with an entry for plug-in `pluginId`.
std::vector<std::string> areasUsingPlugin(uint32_t pluginId);
// After plug-in `pluginId` was uninstalled: its entries in the shown area are marked missing,
// or taken out when `detached` (they were taken out of the stored areas).
void showPluginGone(uint32_t pluginId, bool detached);
// The instance dialog 122 for the selected extension's display name and arguments.
void editSelectedExtension();
// Forgets every tree item (tests, and a window that is made again).
void resetAreaEditor();
