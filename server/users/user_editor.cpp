#include "server/users/user_editor.h"

void initUserEditor() {}
void showSelectedUser() {}
void saveSelectedUser() {}
void deleteSelectedUser() {}
void newUserFromEditor() {}
