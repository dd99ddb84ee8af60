// The server's settings: one 3888-byte record mirrored byte for byte in "osvbpref.dat".
// Readers ask a getter at each use; every setter stores its field and saves the whole file.
// Getters are safe from any thread; the record is guarded by one process-wide recursive lock.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr size_t PreferencesSize = 3888;
constexpr size_t PrefTextSize = 256;
constexpr const char* PreferencesFileName = "osvbpref.dat";
// Where a settings file that exists but cannot be read whole is kept, so no save overwrites it.
constexpr const char* DamagedPreferencesFileName = "osvbpref.dat.bad";

// The fifteen texts sent to callers, in file order.
enum class PrefText {
    TooManyUsers,
    LoginPrompt,
    PasswordPrompt,
    LoginFailure,
    NewAccountName,
    HowToCreate,
    NewHandlePrompt,
    NameInUse,
    NewPasswordPrompt,
    RepeatPasswordPrompt,
    DidNotMatch,
    RealNamePrompt,
    UseAnsiPrompt,
    LogoffOptionName,
    GenericError,
};
constexpr int PrefTextCount = 15;

// Takes the record from the file (true) or falls back to the defaults (false).
bool loadPreferences();
// Writes the whole record; the old file stays intact if the write fails.
[[nodiscard]] bool savePreferences();
bool wasLoadedFromFile();
// The last load found a file it could not read whole; the first save moves it to
// DamagedPreferencesFileName instead of overwriting it.
bool wasDamaged();
// The built-in defaults and the live record as byte images (copies).
void copyDefaultPreferences(uint8_t out[PreferencesSize]);
void copyPreferences(uint8_t out[PreferencesSize]);

bool getParanoidLogging();
bool getUseTcp();
bool getUseTapi();
bool getAllowNewAccounts();
bool getPluginsMayChangeAccess();
bool getUnrevealingLogin();
char getKeyYes();
char getKeyNo();
char getKeyQuit();
char getKeyBack();
uint16_t getTelnetPort();
uint32_t getMaxUsers();
uint32_t getIdleTimeoutMs();
int32_t getLoginRetries();
uint32_t getMinimumBps();

// The texts copy at most 255 characters and a NUL into `out` (256 bytes).
void getPrefText(PrefText which, char out[PrefTextSize]);

// Setters store the value (kept in memory even if the save fails) and return the save's result.
[[nodiscard]] bool setParanoidLogging(bool on);
[[nodiscard]] bool setUseTcp(bool on);
[[nodiscard]] bool setUseTapi(bool on);
[[nodiscard]] bool setAllowNewAccounts(bool on);
[[nodiscard]] bool setPluginsMayChangeAccess(bool on);
[[nodiscard]] bool setUnrevealingLogin(bool on);
[[nodiscard]] bool setKeyYes(char c);
[[nodiscard]] bool setKeyNo(char c);
[[nodiscard]] bool setKeyQuit(char c);
[[nodiscard]] bool setKeyBack(char c);
[[nodiscard]] bool setTelnetPort(uint16_t port);
[[nodiscard]] bool setMaxUsers(uint32_t n);
[[nodiscard]] bool setIdleTimeoutMs(uint32_t ms);
[[nodiscard]] bool setMinimumBps(uint32_t bps);

// Stores at most 255 characters of `text` (nullptr stores an empty text).
[[nodiscard]] bool setPrefText(PrefText which, const char* text);
