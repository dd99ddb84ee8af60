// The sysop's configuration dialogs, opened from File > Configure: general options (121),
// modems (124), Telnet (120) and response strings (123). Each shows the stored values, changes
// nothing until OK, and then stores every field through its setter (which saves at once).
// All are modal, owned by the main window, and return when closed.
#pragma once

constexpr int GeneralDialogId = 121;
constexpr int ModemDialogId = 124;
constexpr int TelnetDialogId = 120;
constexpr int ResponseStringsDialogId = 123;

void showGeneralDialog();
void showModemDialog();
void showTelnetDialog();
void showResponseStringsDialog();
