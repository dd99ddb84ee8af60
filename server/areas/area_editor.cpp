#include "server/areas/area_editor.h"

void populateAreaTree(uint32_t) {}
void showSelectedArea() {}
void saveSelectedArea() {}
void newSubArea() {}
void deleteSelectedArea() {}
void editSelectedDescription() {}
void addSelectedPluginToArea() {}
void removeSelectedExtension() {}
void editSelectedExtension() {}
void resetAreaEditor() {}
