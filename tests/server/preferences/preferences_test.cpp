#include "server/preferences/preferences.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sys/stat.h>

namespace {

class PreferencesTest : public ovtest::WorkDirTest {
protected:
    void SetUp() override { ASSERT_FALSE(loadPreferences()); } // fresh directory: defaults
};

std::string fileBytes() {
    return ovtest::readFile(PreferencesFileName);
}

std::string defaultsImage() {
    uint8_t img[PreferencesSize];
    copyDefaultPreferences(img);
    return std::string(reinterpret_cast<char*>(img), PreferencesSize);
}

std::string text(PrefText which) {
    char out[PrefTextSize];
    std::memset(out, 'X', sizeof out);
    getPrefText(which, out);
    return out;
}

} // namespace

TEST_F(PreferencesTest, DefaultsWithoutAFileAndNoFileUntilTheFirstSetter) {
    EXPECT_FALSE(wasLoadedFromFile());
    EXPECT_FALSE(ovtest::fileExists(PreferencesFileName));
    EXPECT_TRUE(getParanoidLogging());
    EXPECT_TRUE(getUseTcp());
    EXPECT_TRUE(getUseTapi());
    EXPECT_TRUE(getAllowNewAccounts());
    EXPECT_TRUE(getPluginsMayChangeAccess());
    EXPECT_FALSE(getUnrevealingLogin());
    EXPECT_EQ('Y', getKeyYes());
    EXPECT_EQ('N', getKeyNo());
    EXPECT_EQ('Q', getKeyQuit());
    EXPECT_EQ('\\', getKeyBack());
    EXPECT_EQ(23, getTelnetPort());
    EXPECT_EQ(5u, getMaxUsers());
    EXPECT_EQ(300000u, getIdleTimeoutMs());
    EXPECT_EQ(3, getLoginRetries());
    EXPECT_EQ(9600u, getMinimumBps());
    char out[PrefTextSize];
    getPrefText(PrefText::TooManyUsers, out);
    EXPECT_STREQ("The server's connection limit has been reached.  Please try again later.", out);
    getPrefText(PrefText::LoginPrompt, out);
    EXPECT_STREQ("Login:", out);
    getPrefText(PrefText::PasswordPrompt, out);
    EXPECT_STREQ("Password:", out);
    getPrefText(PrefText::LoginFailure, out);
    EXPECT_STREQ("Login incorrect", out);
    getPrefText(PrefText::NewAccountName, out);
    EXPECT_STREQ("new", out);
    getPrefText(PrefText::HowToCreate, out);
    EXPECT_STREQ("Login as \"new\" to create a new account.", out);
    getPrefText(PrefText::NewHandlePrompt, out);
    EXPECT_STREQ("Enter the \"handle\" (login name) that you wish to use:", out);
    getPrefText(PrefText::NameInUse, out);
    EXPECT_STREQ("That name is too short or is already in use.  Please try again.", out);
    getPrefText(PrefText::NewPasswordPrompt, out);
    EXPECT_STREQ("Enter a new password (it will not be shown on screen):", out);
    getPrefText(PrefText::RepeatPasswordPrompt, out);
    EXPECT_STREQ("Type the password again to verify:", out);
    getPrefText(PrefText::DidNotMatch, out);
    EXPECT_STREQ("The passwords did not match.  Please try again.", out);
    getPrefText(PrefText::RealNamePrompt, out);
    EXPECT_STREQ("Please enter your real name:", out);
    getPrefText(PrefText::UseAnsiPrompt, out);
    EXPECT_STREQ("Use ANSI escape codes and extended DOS characters (Y/N)?", out);
    getPrefText(PrefText::LogoffOptionName, out);
    EXPECT_STREQ("Log off", out);
    getPrefText(PrefText::GenericError, out);
    EXPECT_STREQ("An error has occurred on the server; disconnecting...", out);
    EXPECT_EQ("Log off", text(PrefText::LogoffOptionName));

    EXPECT_TRUE(setMaxUsers(7));
    std::string bytes = fileBytes();
    ASSERT_EQ(PreferencesSize, bytes.size());
    EXPECT_EQ(std::string("OSVB pref V1\r\n\x1A\0", 16), bytes.substr(0, 16));
    EXPECT_FALSE(wasLoadedFromFile());
}

TEST_F(PreferencesTest, DefaultImageHasEveryFieldAtItsOffset) {
    std::string img = defaultsImage();
    ASSERT_EQ(PreferencesSize, img.size());
    const std::string head("OSVB pref V1\r\n\x1A\0"
                           "\0\1\1\1\1\1\0YNQ\\\0"
                           "\x17\0\0\0"
                           "\5\0\0\0"
                           "\xE0\x93\x04\0"
                           "\3\0\0\0"
                           "\x80\x25\0\0",
                           48);
    EXPECT_EQ(head, img.substr(0, 48));
    EXPECT_EQ(std::string("Login:") + std::string(250, '\0'), img.substr(304, 256));
    EXPECT_EQ(std::string("Log off") + std::string(249, '\0'), img.substr(3376, 256));
    EXPECT_EQ(0, img.compare(3632, 6, "An err"));
}

TEST_F(PreferencesTest, FileOfExactlyTheRecordSizeOrLongerIsUsedShorterIsNot) {
    std::string custom = defaultsImage();
    custom[32] = 42; // maxUsers
    ovtest::writeFile(PreferencesFileName, custom.substr(0, PreferencesSize - 1));
    EXPECT_FALSE(loadPreferences());
    EXPECT_FALSE(wasLoadedFromFile());
    EXPECT_EQ(5u, getMaxUsers());
    // The damaged file is kept aside, so the defaults' first save cannot destroy it.
    EXPECT_TRUE(wasDamaged());
    EXPECT_EQ(custom.substr(0, PreferencesSize - 1), ovtest::readFile(PreferencesFileName));
    EXPECT_TRUE(setMaxUsers(7));
    EXPECT_EQ(custom.substr(0, PreferencesSize - 1), ovtest::readFile(DamagedPreferencesFileName));
    EXPECT_EQ(PreferencesSize, ovtest::readFile(PreferencesFileName).size());

    ovtest::writeFile(PreferencesFileName, custom + std::string(4000 - PreferencesSize, 'T'));
    EXPECT_TRUE(loadPreferences());
    EXPECT_TRUE(wasLoadedFromFile());
    EXPECT_EQ(42u, getMaxUsers());

    ovtest::writeFile(PreferencesFileName, custom);
    EXPECT_TRUE(loadPreferences());
    EXPECT_EQ(42u, getMaxUsers());
    // A later failed load falls back to the defaults.
    ovtest::writeFile(PreferencesFileName, "short");
    EXPECT_FALSE(loadPreferences());
    EXPECT_EQ(5u, getMaxUsers());
}

TEST_F(PreferencesTest, ForeignSignaturePaddingAndReservedBytesSurviveSaves) {
    std::string custom = defaultsImage();
    custom.replace(0, 16, "NOT A SIGNATURE!");
    custom[16] = 0x5A; // reservedFlag
    custom[27] = 0x11; // padding
    custom[30] = 0x22;
    custom[31] = 0x33;
    custom[40] = 0; // loginRetries 0: one prompt only
    ovtest::writeFile(PreferencesFileName, custom);
    ASSERT_TRUE(loadPreferences());
    EXPECT_EQ(0, getLoginRetries());

    EXPECT_TRUE(setTelnetPort(0x1F90)); // 8080
    std::string after = fileBytes();
    ASSERT_EQ(PreferencesSize, after.size());
    std::string expect = custom;
    expect[28] = static_cast<char>(0x90);
    expect[29] = 0x1F;
    EXPECT_EQ(expect, after); // bytes 28-29 and nothing else
    EXPECT_EQ(0x1F90, getTelnetPort());

    EXPECT_TRUE(setAllowNewAccounts(false));
    EXPECT_TRUE(setPrefText(PrefText::LoginPrompt, "Who?"));
    after = fileBytes();
    EXPECT_EQ("NOT A SIGNATURE!", after.substr(0, 16));
    EXPECT_EQ(0x5A, after[16]);
    EXPECT_EQ(0, after[20]);
    EXPECT_EQ(std::string("\x11\x90\x1F\x22\x33", 5), after.substr(27, 5));
    EXPECT_EQ(0, after[40]);
    EXPECT_EQ("Who?", text(PrefText::LoginPrompt));
}

TEST_F(PreferencesTest, SettersStoreTheirFieldsLittleEndianAndReloadTheSame) {
    EXPECT_TRUE(setParanoidLogging(false));
    EXPECT_TRUE(setUseTcp(false));
    EXPECT_TRUE(setUseTapi(false));
    EXPECT_TRUE(setPluginsMayChangeAccess(false));
    EXPECT_TRUE(setUnrevealingLogin(true));
    EXPECT_TRUE(setKeyYes('J'));
    EXPECT_TRUE(setKeyNo('n'));
    EXPECT_TRUE(setKeyQuit('X'));
    EXPECT_TRUE(setKeyBack('<'));
    EXPECT_TRUE(setMaxUsers(0x01020304));
    EXPECT_TRUE(setIdleTimeoutMs(60000));
    EXPECT_TRUE(setMinimumBps(2400));
    EXPECT_TRUE(setPrefText(PrefText::GenericError, "Oops"));
    EXPECT_TRUE(setPrefText(PrefText::TooManyUsers, "Full"));
    std::string f = fileBytes();
    EXPECT_EQ(std::string("\0\0\0\1\0\1JnX<", 10), f.substr(17, 10));
    EXPECT_EQ(std::string("\x04\x03\x02\x01\x60\xEA\0\0", 8), f.substr(32, 8));
    EXPECT_EQ(std::string("\x60\x09\0\0", 4), f.substr(44, 4));
    EXPECT_EQ(std::string("Full\0\0", 6), f.substr(48, 6));
    EXPECT_EQ(std::string("Oops\0", 5), f.substr(3632, 5));

    ASSERT_TRUE(loadPreferences());
    EXPECT_FALSE(getParanoidLogging());
    EXPECT_FALSE(getUseTcp());
    EXPECT_FALSE(getUseTapi());
    EXPECT_FALSE(getPluginsMayChangeAccess());
    EXPECT_TRUE(getUnrevealingLogin());
    EXPECT_EQ('J', getKeyYes());
    EXPECT_EQ('<', getKeyBack());
    EXPECT_EQ(0x01020304u, getMaxUsers());
    EXPECT_EQ(60000u, getIdleTimeoutMs());
    EXPECT_EQ(2400u, getMinimumBps());
    EXPECT_EQ("Oops", text(PrefText::GenericError));
}

TEST_F(PreferencesTest, LongTextsAreCutAt255AndUnterminatedFieldsReadSafely) {
    std::string longText(300, 'a');
    longText[254] = 'E';
    EXPECT_TRUE(setPrefText(PrefText::NewHandlePrompt, longText.c_str()));
    EXPECT_EQ(longText.substr(0, 255), text(PrefText::NewHandlePrompt));
    std::string f = fileBytes();
    EXPECT_EQ(longText.substr(0, 255) + std::string(1, '\0'), f.substr(1584, 256));
    EXPECT_EQ(0, f.compare(1840, 5, "That ")); // the next field is untouched

    EXPECT_TRUE(setPrefText(PrefText::RealNamePrompt, nullptr));
    EXPECT_EQ("", text(PrefText::RealNamePrompt));

    // A field without any NUL reads as its first 255 bytes.
    std::string custom = defaultsImage();
    custom.replace(304, 256, std::string(256, 'L'));
    ovtest::writeFile(PreferencesFileName, custom);
    ASSERT_TRUE(loadPreferences());
    EXPECT_EQ(std::string(255, 'L'), text(PrefText::LoginPrompt));
    EXPECT_EQ("Password:", text(PrefText::PasswordPrompt));
}

TEST_F(PreferencesTest, FailedSaveKeepsTheOldFileAndTheValueInMemory) {
    ASSERT_TRUE(setMaxUsers(9));
    std::string before = fileBytes();
    // The new image is written beside the file first; a directory in its way fails the save.
    ASSERT_EQ(0, mkdir("osvbpref.dat.new", 0755));
    EXPECT_FALSE(setMaxUsers(10));
    EXPECT_FALSE(savePreferences());
    EXPECT_EQ(10u, getMaxUsers());
    EXPECT_EQ(before, fileBytes());
    ASSERT_EQ(0, rmdir("osvbpref.dat.new"));
    EXPECT_TRUE(savePreferences());
    ASSERT_TRUE(loadPreferences());
    EXPECT_EQ(10u, getMaxUsers());
}

TEST_F(PreferencesTest, SavedFileIsPrivateToTheServer) {
    ASSERT_TRUE(setKeyYes('O'));
    struct stat st {};
    ASSERT_EQ(0, stat(PreferencesFileName, &st));
    EXPECT_EQ(0600u, st.st_mode & 0777);
}
