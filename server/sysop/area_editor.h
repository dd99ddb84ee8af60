// The "Area/Extension Information" group of the main window: the area tree (1020), the selected
// area's fields and its extension list (1027), edited in the window until "Save changes".
// Everything runs on the UI thread and acts on mainWindow's controls.
#pragma once

#include <cstdint>

#include "ovtypes.h"

// Inserts area `id` and, depth first, its sub-areas into the tree; an area already shown is
// not inserted again, so a damaged file with cycles cannot make it loop.
void populateAreaTree(uint32_t id);
void showSelectedArea();
void saveSelectedArea();
void newSubArea();
void deleteSelectedArea();
void editSelectedDescription();
// Starts the text editor on the area's .txt file (created empty when missing) in "area" under
// the working directory; if it cannot be started, tells the sysop in a message box over `owner`.
bool editAreaDescription(uint32_t id, HWND owner);
void addSelectedPluginToArea();
void removeSelectedExtension();
// The instance dialog 122 for the selected extension's display name and arguments.
void editSelectedExtension();
// Forgets every tree item (tests, and a window that is made again).
void resetAreaEditor();
