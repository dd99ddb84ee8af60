// The server's settings: one 3888-byte record mirrored byte for byte in "osvbpref.dat".
// Readers ask a getter at each use; every setter stores its field and saves the whole file.
// Getters are safe from any thread; the record is guarded by one process-wide recursive lock.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr size_t PreferencesSize = 3888;
constexpr size_t PrefTextSize = 256;
constexpr const char* PreferencesFileName = "osvbpref.dat";

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

// String getters copy at most 255 characters and a NUL into `out` (256 bytes).
void getPrefText(PrefText which, char out[PrefTextSize]);
void getTooManyUsersText(char out[PrefTextSize]);
void getLoginPrompt(char out[PrefTextSize]);
void getPasswordPrompt(char out[PrefTextSize]);
void getLoginFailureText(char out[PrefTextSize]);
void getNewAccountName(char out[PrefTextSize]);
void getHowToCreateText(char out[PrefTextSize]);
void getNewHandlePrompt(char out[PrefTextSize]);
void getNameInUseText(char out[PrefTextSize]);
void getNewPasswordPrompt(char out[PrefTextSize]);
void getRepeatPasswordPrompt(char out[PrefTextSize]);
void getDidNotMatchText(char out[PrefTextSize]);
void getRealNamePrompt(char out[PrefTextSize]);
void getUseAnsiPrompt(char out[PrefTextSize]);
void getLogoffOptionName(char out[PrefTextSize]);
void getGenericErrorText(char out[PrefTextSize]);

// Setters store the value (kept in memory even if the save fails) and return the save's result.
bool setParanoidLogging(bool on);
bool setUseTcp(bool on);
bool setUseTapi(bool on);
bool setAllowNewAccounts(bool on);
bool setPluginsMayChangeAccess(bool on);
bool setUnrevealingLogin(bool on);
bool setKeyYes(char c);
bool setKeyNo(char c);
bool setKeyQuit(char c);
bool setKeyBack(char c);
bool setTelnetPort(uint16_t port);
bool setMaxUsers(uint32_t n);
bool setIdleTimeoutMs(uint32_t ms);
bool setMinimumBps(uint32_t bps);

// String setters store at most 255 characters of `text` (nullptr stores an empty text).
bool setPrefText(PrefText which, const char* text);
bool setTooManyUsersText(const char* text);
bool setLoginPrompt(const char* text);
bool setPasswordPrompt(const char* text);
bool setLoginFailureText(const char* text);
bool setNewAccountName(const char* text);
bool setHowToCreateText(const char* text);
bool setNewHandlePrompt(const char* text);
bool setNameInUseText(const char* text);
bool setNewPasswordPrompt(const char* text);
bool setRepeatPasswordPrompt(const char* text);
bool setDidNotMatchText(const char* text);
bool setRealNamePrompt(const char* text);
bool setUseAnsiPrompt(const char* text);
bool setLogoffOptionName(const char* text);
bool setGenericErrorText(const char* text);
