// A caller's own account, made in a short dialogue: name, password twice, real name, ANSI or
// not; then the board's rules. The name is reserved while it is being made, and a dialogue
// broken off on the way leaves no account behind.
#pragma once

class Connection;

constexpr const char* RulesAnsiFileName = "rules.ans";
constexpr const char* RulesTextFileName = "rules.txt";
constexpr unsigned RulesPageBytes = 1678;
constexpr unsigned RulesPageLines = 21;

// True: the account is saved and loginName (256 bytes) holds its name as stored.
[[nodiscard]] bool createNewAccount(Connection& c, char loginName[256]);
// Waits for keyYes or keyNo (either case); true for keyYes. A failed read gives false.
[[nodiscard]] bool askYesNo(Connection& c);
// Pages rules.ans (ansi) or rules.txt, 21 lines at a time, a key after each page.
[[nodiscard]] bool showRules(Connection& c, bool ansi);
// In place: every byte outside 0x20..0x7E becomes '*'.
void maskControlChars(char* text);
