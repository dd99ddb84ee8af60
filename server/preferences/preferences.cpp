#include "server/preferences/preferences.h"

#include "server/base/file_helpers.h"
#include "server/base/record_codec.h"

#include <array>
#include <cstring>
#include <mutex>

namespace {

// Field offsets in the record.
constexpr size_t OffMagic = 0;
constexpr size_t OffParanoidLogging = 17;
constexpr size_t OffUseTcp = 18;
constexpr size_t OffUseTapi = 19;
constexpr size_t OffAllowNewAccounts = 20;
constexpr size_t OffPluginsMayChangeAccess = 21;
constexpr size_t OffUnrevealingLogin = 22;
constexpr size_t OffKeyYes = 23;
constexpr size_t OffKeyNo = 24;
constexpr size_t OffKeyQuit = 25;
constexpr size_t OffKeyBack = 26;
constexpr size_t OffTelnetPort = 28;
constexpr size_t OffMaxUsers = 32;
constexpr size_t OffIdleTimeoutMs = 36;
constexpr size_t OffLoginRetries = 40;
constexpr size_t OffMinimumBps = 44;
constexpr size_t OffTexts = 48;

static_assert(OffTexts + PrefTextCount * PrefTextSize == PreferencesSize);

constexpr const char* DefaultTexts[PrefTextCount] = {
    "The server's connection limit has been reached.  Please try again later.",
    "Login:",
    "Password:",
    "Login incorrect",
    "new",
    "Login as \"new\" to create a new account.",
    "Enter the \"handle\" (login name) that you wish to use:",
    "That name is too short or is already in use.  Please try again.",
    "Enter a new password (it will not be shown on screen):",
    "Type the password again to verify:",
    "The passwords did not match.  Please try again.",
    "Please enter your real name:",
    "Use ANSI escape codes and extended DOS characters (Y/N)?",
    "Log off",
    "An error has occurred on the server; disconnecting...",
};

using Image = std::array<uint8_t, PreferencesSize>;

Image buildDefaults() {
    Image img{};
    std::memcpy(img.data() + OffMagic, "OSVB pref V1\r\n\x1A", 15); // then 0x00
    img[OffParanoidLogging] = 1;
    img[OffUseTcp] = 1;
    img[OffUseTapi] = 1;
    img[OffAllowNewAccounts] = 1;
    img[OffPluginsMayChangeAccess] = 1;
    img[OffUnrevealingLogin] = 0;
    img[OffKeyYes] = 'Y';
    img[OffKeyNo] = 'N';
    img[OffKeyQuit] = 'Q';
    img[OffKeyBack] = '\\';
    storeLe16(img.data() + OffTelnetPort, 23);
    storeLe32(img.data() + OffMaxUsers, 5);
    storeLe32(img.data() + OffIdleTimeoutMs, 300000);
    storeLe32(img.data() + OffLoginRetries, 3);
    storeLe32(img.data() + OffMinimumBps, 9600);
    for (int i = 0; i < PrefTextCount; ++i)
        storeText(img.data() + OffTexts + i * PrefTextSize, PrefTextSize, DefaultTexts[i]);
    return img;
}

const Image defaultImage = buildDefaults();

// The preferences lock guards the live record and loadedFromFile.
std::recursive_mutex prefLock;
Image record = defaultImage;
bool loadedFromFile = false;
bool damagedOnDisk = false; // the file is there but could not be read whole

bool getFlag(size_t off) {
    std::lock_guard g(prefLock);
    return record[off] != 0;
}
char getChar(size_t off) {
    std::lock_guard g(prefLock);
    return static_cast<char>(record[off]);
}
uint32_t getU32(size_t off) {
    std::lock_guard g(prefLock);
    return loadLe32(record.data() + off);
}

bool setByte(size_t off, uint8_t v) {
    std::lock_guard g(prefLock);
    record[off] = v;
    return savePreferences();
}
bool setU32(size_t off, uint32_t v) {
    std::lock_guard g(prefLock);
    storeLe32(record.data() + off, v);
    return savePreferences();
}

size_t textOffset(PrefText which) {
    auto i = static_cast<size_t>(which);
    if (i >= static_cast<size_t>(PrefTextCount)) i = static_cast<size_t>(PrefText::GenericError);
    return OffTexts + i * PrefTextSize;
}

} // namespace

bool loadPreferences() {
    std::lock_guard g(prefLock);
    Image scratch{};
    bool ok = false;
    FileHandle f = openForRead(PreferencesFileName);
    if (f != InvalidFile) {
        ok = readExactly(f, scratch.data(), PreferencesSize);
        closeFile(f);
    }
    if (ok) {
        record = scratch;
    } else {
        record = defaultImage;
    }
    loadedFromFile = ok; // a later load without the file is on defaults again
    // A short or unreadable file still holds the sysop's settings (a read may fail only for a
    // moment): left in place, and moved aside by the first save instead of overwritten.
    damagedOnDisk = !ok && fileExists(PreferencesFileName);
    return ok;
}

bool wasDamaged() {
    std::lock_guard g(prefLock);
    return damagedOnDisk;
}

bool savePreferences() {
    std::lock_guard g(prefLock);
    if (damagedOnDisk) {
        if (!replaceFile(PreferencesFileName, DamagedPreferencesFileName)) return false;
        damagedOnDisk = false;
    }
    // Written beside the file and renamed over it, so a failed save never leaves a short file.
    return writeFileAtomically(PreferencesFileName, record.data(), PreferencesSize,
                               FileAccess::Private);
}

bool wasLoadedFromFile() {
    std::lock_guard g(prefLock);
    return loadedFromFile;
}

void copyDefaultPreferences(uint8_t out[PreferencesSize]) {
    std::memcpy(out, defaultImage.data(), PreferencesSize);
}

void copyPreferences(uint8_t out[PreferencesSize]) {
    std::lock_guard g(prefLock);
    std::memcpy(out, record.data(), PreferencesSize);
}

bool getParanoidLogging() {
    return getFlag(OffParanoidLogging);
}
bool getUseTcp() {
    return getFlag(OffUseTcp);
}
bool getUseTapi() {
    return getFlag(OffUseTapi);
}
bool getAllowNewAccounts() {
    return getFlag(OffAllowNewAccounts);
}
bool getPluginsMayChangeAccess() {
    return getFlag(OffPluginsMayChangeAccess);
}
bool getUnrevealingLogin() {
    return getFlag(OffUnrevealingLogin);
}
char getKeyYes() {
    return getChar(OffKeyYes);
}
char getKeyNo() {
    return getChar(OffKeyNo);
}
char getKeyQuit() {
    return getChar(OffKeyQuit);
}
char getKeyBack() {
    return getChar(OffKeyBack);
}

uint16_t getTelnetPort() {
    std::lock_guard g(prefLock);
    return loadLe16(record.data() + OffTelnetPort);
}

uint32_t getMaxUsers() {
    return getU32(OffMaxUsers);
}
uint32_t getIdleTimeoutMs() {
    return getU32(OffIdleTimeoutMs);
}
int32_t getLoginRetries() {
    return static_cast<int32_t>(getU32(OffLoginRetries));
}
uint32_t getMinimumBps() {
    return getU32(OffMinimumBps);
}

void getPrefText(PrefText which, char out[PrefTextSize]) {
    std::lock_guard g(prefLock);
    loadText(record.data() + textOffset(which), PrefTextSize, out);
}

bool setParanoidLogging(bool on) {
    return setByte(OffParanoidLogging, on ? 1 : 0);
}
bool setUseTcp(bool on) {
    return setByte(OffUseTcp, on ? 1 : 0);
}
bool setUseTapi(bool on) {
    return setByte(OffUseTapi, on ? 1 : 0);
}
bool setAllowNewAccounts(bool on) {
    return setByte(OffAllowNewAccounts, on ? 1 : 0);
}
bool setPluginsMayChangeAccess(bool on) {
    return setByte(OffPluginsMayChangeAccess, on ? 1 : 0);
}
bool setUnrevealingLogin(bool on) {
    return setByte(OffUnrevealingLogin, on ? 1 : 0);
}
bool setKeyYes(char c) {
    return setByte(OffKeyYes, static_cast<uint8_t>(c));
}
bool setKeyNo(char c) {
    return setByte(OffKeyNo, static_cast<uint8_t>(c));
}
bool setKeyQuit(char c) {
    return setByte(OffKeyQuit, static_cast<uint8_t>(c));
}
bool setKeyBack(char c) {
    return setByte(OffKeyBack, static_cast<uint8_t>(c));
}

bool setTelnetPort(uint16_t port) {
    std::lock_guard g(prefLock);
    storeLe16(record.data() + OffTelnetPort, port);
    return savePreferences();
}

bool setMaxUsers(uint32_t n) {
    return setU32(OffMaxUsers, n);
}
bool setIdleTimeoutMs(uint32_t ms) {
    return setU32(OffIdleTimeoutMs, ms);
}
bool setMinimumBps(uint32_t bps) {
    return setU32(OffMinimumBps, bps);
}

bool setPrefText(PrefText which, const char* text) {
    std::lock_guard g(prefLock);
    storeText(record.data() + textOffset(which), PrefTextSize, text ? text : "");
    return savePreferences();
}
