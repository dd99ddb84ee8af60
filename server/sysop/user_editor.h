// The "User Information" group of the main window: the account list (1021), the fields of the
// selected account, and dialog 119 for a new login name. The handlers run on the UI thread and
// act on mainWindow's controls; the list follows creations and deletions from any thread.
#pragma once

// Registers the user list sink; call before loadUserList.
void initUserEditor();
// Fills the fields from a fresh read of the selected account, or empties them. Moving away from
// an account with unsaved edits first asks whether to save them, throw them away, or stay.
void showSelectedUser();
bool userHasUnsavedEdits();
// Stores password (30), real name (254) and access level (at most 65535) into the account.
void saveSelectedUser();
// After the sysop confirms it.
void deleteSelectedUser();
// Asks for a login name (dialog 119) and creates the account, then selects it.
void newUserFromEditor();
