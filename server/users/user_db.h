// The account file "bbsusers.dat" and the forbidden names in "badnames.txt". Every operation
// reads the file under the user database lock, so each lookup sees every change already written;
// only where each name's record lies is remembered, so a lookup reads one record, not the file.
// Names are compared ignoring ASCII case; passwords are never compared here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

struct UserRecord {
    uint32_t id = 0; // FreeUserId marks a deleted account's slot
    char loginName[32] = {};
    char password[32] = {};
    char realName[256] = {};
    uint16_t accessLevel = 0;
    uint16_t userFlags = 0; // AnsiTerminalFlag, Utf8TerminalFlag
    uint32_t loginCount = 0;
    uint32_t uploadKb = 0;
    uint32_t downloadKb = 0;
    uint32_t secondLoginCount = 0;
    uint32_t reserved1 = 0;
    uint32_t reserved2 = 0;
    uint64_t firstLogin = 0; // FILETIME count of local time
    uint64_t lastLogin = 0;
};

constexpr size_t UserRecordSize = 368;
constexpr size_t UserFileHeaderSize = 8;
constexpr uint32_t FreeUserId = 0xFFFFFFFFu;
constexpr uint16_t AnsiTerminalFlag = 1;
// The caller's terminal shows UTF-8 rather than the DOS code page (the connection translates).
constexpr uint16_t Utf8TerminalFlag = 2;
// Set while the new-account dialogue has written the account but not yet its password: such an
// account is never logged in to, and loadUserList removes it when nobody is still making it.
constexpr uint16_t AccountIncompleteFlag = 0x8000;

void encodeUserRecord(const UserRecord& rec, uint8_t out[UserRecordSize]);
void decodeUserRecord(const uint8_t in[UserRecordSize], UserRecord& rec);

// Creates an account from a requested name (normalized first); false when the name is too short,
// forbidden, the new-account keyword, taken, or the file cannot be written.
[[nodiscard]] bool addUser(UserRecord& rec, const char* requestedName);
// As addUser, and keeps the new name reserved until releaseUserReservation, so that nobody logs
// in to the account while its creator is still giving it a password. The account is written
// with AccountIncompleteFlag; the creator's final updateUser clears it.
[[nodiscard]] bool addUserReserved(UserRecord& rec, const char* requestedName);
void releaseUserReservation(const char* name);
[[nodiscard]] bool isUserReserved(const char* name);

[[nodiscard]] bool findUser(UserRecord& out, const char* name);
// Overwrites the account whose loginName equals rec.loginName.
[[nodiscard]] bool updateUser(const UserRecord& rec);
// Reads the account named `name`, lets `change` alter that fresh copy and writes it back, all
// under the user database lock, so that what others changed meanwhile in the other fields
// survives. `written` receives the record as written. The login name stays as it is.
[[nodiscard]] bool changeUser(const char* name, const std::function<void(UserRecord&)>& change,
                              UserRecord& written);
// Turns the account into a free slot; the file keeps its length.
[[nodiscard]] bool deleteUser(const char* name);

// Lower case, only letters, digits, '_' and '.', at most 31 characters; forbidden names come
// out empty.
void normalizeLoginName(char out[32], const char* in);
[[nodiscard]] bool isForbiddenName(const char* name);
// Reads the id counter from the file and announces every account to the user editor's list.
// Accounts left half-made (AccountIncompleteFlag, not reserved) become free slots first.
void loadUserList();
