#include "server/base/record_codec.h"
#include "server/preferences/preferences.h"
#include "server/users/user_db.h"
#include "server/users/user_list.h"
#include "support/test_support.h"
#include "user_file_text.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

#include <string>
#include <utility>
#include <vector>

using ovtest::fileSizeOf;
using ovtest::readFile;
using ovtest::writeFile;
using usertest::header;
using usertest::record;

namespace {

// What the user editor would see.
std::vector<std::pair<std::string, uint32_t>> added;
std::vector<std::string> removed;
void sinkAdd(const char* name, uint32_t id) {
    added.emplace_back(name, id);
}
void sinkRemove(const char* name) {
    removed.emplace_back(name);
}

class UserDb : public ovtest::WorkDirTest {
protected:
    void SetUp() override {
        // The id counter lives for the process; a header of 0 sets it back to a fresh start.
        writeFile("bbsusers.dat", header(0));
        loadUserList();
        ::unlink("bbsusers.dat");
        added.clear();
        removed.clear();
        ListSink sink{sinkAdd, sinkRemove};
        setUserListSink(&sink);
    }
    void TearDown() override { setUserListSink(nullptr); }
};

std::string normalized(const char* in) {
    char out[32];
    std::memset(out, 'X', sizeof out);
    normalizeLoginName(out, in);
    return out;
}

} // namespace

TEST_F(UserDb, FirstAccountWritesHeaderAndRecordByteForByte) {
    UserRecord rec;
    ASSERT_TRUE(addUser(rec, "Alice"));
    EXPECT_EQ(0u, rec.id);
    EXPECT_STREQ("alice", rec.loginName);
    EXPECT_NE(0u, rec.firstLogin);
    EXPECT_EQ(rec.firstLogin, rec.lastLogin);

    std::string file = readFile("bbsusers.dat");
    ASSERT_EQ(UserFileHeaderSize + UserRecordSize, file.size());
    EXPECT_EQ(header(1), file.substr(0, 8));
    std::string expected(UserRecordSize, '\0');
    std::memcpy(&expected[4], "alice", 5);
    storeLe64(reinterpret_cast<uint8_t*>(&expected[352]), rec.firstLogin);
    storeLe64(reinterpret_cast<uint8_t*>(&expected[360]), rec.lastLogin);
    EXPECT_EQ(expected, file.substr(8));

    struct stat st;
    ASSERT_EQ(0, stat("bbsusers.dat", &st));
    EXPECT_EQ(0600u, st.st_mode & 0777);

    UserRecord second;
    ASSERT_TRUE(addUser(second, "bob"));
    EXPECT_EQ(1u, second.id);
    EXPECT_EQ(header(2), readFile("bbsusers.dat").substr(0, 8));
    ASSERT_EQ(2u, added.size());
    EXPECT_EQ(std::make_pair(std::string("alice"), 0u), added[0]);
}

TEST_F(UserDb, RecordCodecPlacesEveryField) {
    UserRecord rec;
    rec.id = 0x01020304;
    std::strcpy(rec.loginName, "n");
    std::strcpy(rec.password, "Pw");
    std::strcpy(rec.realName, "Real Name");
    rec.accessLevel = 0xA1A2;
    rec.userFlags = AnsiTerminalFlag;
    rec.loginCount = 5;
    rec.uploadKb = 6;
    rec.downloadKb = 7;
    rec.secondLoginCount = 8;
    rec.reserved1 = 9;
    rec.reserved2 = 10;
    rec.firstLogin = 0x1112131415161718ull;
    rec.lastLogin = 0x2122232425262728ull;
    uint8_t b[UserRecordSize];
    encodeUserRecord(rec, b);
    EXPECT_EQ(0x01020304u, loadLe32(b));
    EXPECT_EQ('n', b[4]);
    EXPECT_EQ('P', b[36]);
    EXPECT_EQ('R', b[68]);
    EXPECT_EQ(0xA1A2, loadLe16(b + 324));
    EXPECT_EQ(1, loadLe16(b + 326));
    EXPECT_EQ(5u, loadLe32(b + 328));
    EXPECT_EQ(8u, loadLe32(b + 340));
    EXPECT_EQ(10u, loadLe32(b + 348));
    EXPECT_EQ(0x1112131415161718ull, loadLe64(b + 352));
    EXPECT_EQ(0x2122232425262728ull, loadLe64(b + 360));
    UserRecord back;
    decodeUserRecord(b, back);
    EXPECT_STREQ("Real Name", back.realName);
    EXPECT_EQ(rec.lastLogin, back.lastLogin);
    EXPECT_EQ(9u, back.reserved1);
}

TEST_F(UserDb, NormalizationKeepsLowerCaseLettersDigitsUnderscoreAndDot) {
    EXPECT_EQ("johnsmith", normalized("John Smith!"));
    EXPECT_EQ("a_b.cd9", normalized("A_b.C-d\t9"));
    EXPECT_EQ("caf", normalized("Caf\xC3\xA9"));
    EXPECT_EQ(std::string(31, 'x'), normalized(std::string(40, 'X').c_str()));
    EXPECT_EQ("", normalized("@@ !!"));
    EXPECT_EQ("", normalized(nullptr));
}

TEST_F(UserDb, ShortKeywordAndTakenNamesAreRefused) {
    UserRecord rec;
    EXPECT_FALSE(addUser(rec, "a"));
    EXPECT_FALSE(addUser(rec, "x !"));
    char keyword[256];
    getPrefText(PrefText::NewAccountName, keyword);
    std::string upper(keyword);
    for (char& c : upper)
        c = static_cast<char>(toupper(c));
    EXPECT_FALSE(addUser(rec, upper.c_str()));
    EXPECT_FALSE(ovtest::fileExists("bbsusers.dat"));

    ASSERT_TRUE(addUser(rec, "Bob"));
    uint64_t size = fileSizeOf("bbsusers.dat");
    EXPECT_FALSE(addUser(rec, "BOB"));
    EXPECT_FALSE(addUser(rec, "b o b"));
    EXPECT_EQ(size, fileSizeOf("bbsusers.dat"));
    EXPECT_EQ(1u, added.size());

    UserRecord found;
    ASSERT_TRUE(findUser(found, "BoB"));
    EXPECT_STREQ("bob", found.loginName);
    EXPECT_FALSE(findUser(found, "b ob")); // lookups are not normalized
}

TEST_F(UserDb, ForbiddenNamesFollowTheLineRules) {
    EXPECT_FALSE(isForbiddenName("sysop")); // no file forbids nothing
    std::string longLine = std::string(31, 'l') + "tail";
    writeFile("badnames.txt", "Sysop\r\n" + longLine + "\r\nabc\rxyz\r\n\r\nlast");
    EXPECT_TRUE(isForbiddenName("SYSOP"));
    EXPECT_TRUE(isForbiddenName(std::string(31, 'L').c_str()));
    EXPECT_FALSE(isForbiddenName("tail"));
    EXPECT_TRUE(isForbiddenName("abc"));
    EXPECT_FALSE(isForbiddenName("xyz")); // the rest of a line after a lone CR is skipped
    EXPECT_TRUE(isForbiddenName(""));     // the empty line
    EXPECT_TRUE(isForbiddenName("LAST")); // the end of the file ends the last line
    EXPECT_FALSE(isForbiddenName("sys"));

    UserRecord rec;
    EXPECT_FALSE(addUser(rec, "Sys Op"));
    EXPECT_FALSE(addUser(rec, (std::string(35, 'l')).c_str()));
    EXPECT_EQ("", normalized("SYSOP"));
    EXPECT_TRUE(addUser(rec, "operator"));

    // A list that is there but cannot be read forbids every name.
    std::filesystem::remove("badnames.txt");
    std::filesystem::create_directory("badnames.txt");
    EXPECT_TRUE(isForbiddenName("newcomer"));
    EXPECT_FALSE(addUser(rec, "newcomer"));
}

TEST_F(UserDb, UpdateAndDeleteWorkOnTheNamedAccount) {
    UserRecord rec;
    EXPECT_FALSE(updateUser(rec)); // no file: created empty, nothing to update
    EXPECT_TRUE(ovtest::fileExists("bbsusers.dat"));
    EXPECT_FALSE(deleteUser("a"));

    ASSERT_TRUE(addUser(rec, "carol"));
    std::strcpy(rec.password, "Secret");
    rec.userFlags = AnsiTerminalFlag;
    std::strcpy(rec.loginName, "CAROL");
    ASSERT_TRUE(updateUser(rec));
    UserRecord found;
    ASSERT_TRUE(findUser(found, "carol"));
    EXPECT_STREQ("Secret", found.password);
    EXPECT_EQ(AnsiTerminalFlag, found.userFlags);

    UserRecord stranger;
    std::strcpy(stranger.loginName, "dave");
    EXPECT_FALSE(updateUser(stranger));
}

TEST_F(UserDb, DeleteLeavesAFreeSlotAndTheNameCanBeTakenAgain) {
    UserRecord a, b;
    ASSERT_TRUE(addUser(a, "ann"));
    ASSERT_TRUE(addUser(b, "ben"));
    uint64_t size = fileSizeOf("bbsusers.dat");
    ASSERT_TRUE(deleteUser("ANN"));
    EXPECT_EQ(size, fileSizeOf("bbsusers.dat"));
    ASSERT_EQ(1u, removed.size());
    EXPECT_EQ("ANN", removed[0]);
    std::string freeSlot(UserRecordSize, '\0');
    freeSlot.replace(0, 4, "\xFF\xFF\xFF\xFF");
    EXPECT_EQ(freeSlot, readFile("bbsusers.dat").substr(8, UserRecordSize));

    UserRecord found;
    EXPECT_FALSE(findUser(found, "ann"));
    EXPECT_FALSE(findUser(found, "")); // a free slot is nobody's account
    EXPECT_FALSE(deleteUser("ann"));

    UserRecord again;
    ASSERT_TRUE(addUser(again, "Ann"));
    EXPECT_EQ(2u, again.id); // ids are never reused
    EXPECT_EQ(size + UserRecordSize, fileSizeOf("bbsusers.dat"));
    ASSERT_TRUE(findUser(found, "ann"));
    EXPECT_EQ(2u, found.id);
}

TEST_F(UserDb, DamagedFilesNeitherCrashNorHideNewAccounts) {
    // A partial last record: ignored, and the next account takes its place.
    writeFile("bbsusers.dat", header(7) + record(3, "old") + std::string(100, 'Z'));
    UserRecord rec;
    ASSERT_TRUE(findUser(rec, "OLD"));
    EXPECT_EQ(3u, rec.id);
    ASSERT_TRUE(addUser(rec, "fresh"));
    EXPECT_EQ(7u, rec.id); // the header's counter wins over the stale one in memory
    EXPECT_EQ(8 + 2 * UserRecordSize, fileSizeOf("bbsusers.dat"));
    ASSERT_TRUE(findUser(rec, "fresh"));

    // Shorter than a header.
    writeFile("bbsusers.dat", "\x01\x02\x03");
    EXPECT_FALSE(findUser(rec, "old"));
    ASSERT_TRUE(addUser(rec, "first"));
    EXPECT_EQ(8 + UserRecordSize, fileSizeOf("bbsusers.dat"));
    ASSERT_TRUE(findUser(rec, "first"));

    // A name field without terminator reads as its first 31 bytes; garbage elsewhere is fine.
    std::string garbage = record(1, "x");
    garbage.replace(4, 32, std::string(32, 'q'));
    garbage.replace(36, 300, std::string(300, '\xEE'));
    writeFile("bbsusers.dat", header(2) + garbage);
    ASSERT_TRUE(findUser(rec, std::string(31, 'Q').c_str()));
    EXPECT_EQ(31u, std::strlen(rec.loginName));
    EXPECT_EQ(31u, std::strlen(rec.password));
    EXPECT_FALSE(findUser(rec, std::string(32, 'q').c_str()));
}

TEST_F(UserDb, LoadUserListAnnouncesLiveAccountsAndTakesTheCounter) {
    writeFile("bbsusers.dat",
              header(12) + record(4, "dora") + record(FreeUserId, "") + record(9, "emil"));
    loadUserList();
    ASSERT_EQ(2u, added.size());
    EXPECT_EQ(std::make_pair(std::string("dora"), 4u), added[0]);
    EXPECT_EQ(std::make_pair(std::string("emil"), 9u), added[1]);
    UserRecord rec;
    ASSERT_TRUE(addUser(rec, "fritz"));
    EXPECT_EQ(12u, rec.id);

    setUserListSink(nullptr); // without an editor the database works the same
    ASSERT_TRUE(addUser(rec, "gina"));
    EXPECT_EQ(3u, added.size());
}

TEST_F(UserDb, ReservationCoversTheAccountUntilReleased) {
    UserRecord rec;
    ASSERT_TRUE(addUserReserved(rec, "Hanna"));
    EXPECT_TRUE(isUserReserved("HANNA"));
    EXPECT_FALSE(isUserReserved("hann"));
    UserRecord found;
    EXPECT_TRUE(findUser(found, "hanna")); // the account itself is there, empty password
    releaseUserReservation("hanna");
    EXPECT_FALSE(isUserReserved("hanna"));
    releaseUserReservation("hanna"); // a second release is harmless

    EXPECT_FALSE(addUserReserved(rec, "HANNA"));
    EXPECT_FALSE(isUserReserved("hanna"));
    ASSERT_TRUE(addUser(rec, "ida"));
    EXPECT_FALSE(isUserReserved("ida"));

    // Loading the list at start frees a half-made account that nobody is still making.
    EXPECT_EQ(found.userFlags, AccountIncompleteFlag);
    EXPECT_EQ(rec.userFlags, 0);
    UserRecord making;
    ASSERT_TRUE(addUserReserved(making, "jana"));
    loadUserList();
    EXPECT_FALSE(findUser(found, "hanna"));
    EXPECT_TRUE(findUser(found, "jana"));
    EXPECT_TRUE(findUser(found, "ida"));
    releaseUserReservation("jana");
}

TEST_F(UserDb, FailedWritesReportFailureAndAnnounceNothing) {
    // The file cannot be opened at all.
    ASSERT_EQ(0, ::mkdir("bbsusers.dat", 0700));
    UserRecord rec;
    EXPECT_FALSE(addUser(rec, "jack"));
    EXPECT_FALSE(addUserReserved(rec, "jack"));
    EXPECT_FALSE(isUserReserved("jack"));
    ASSERT_EQ(0, ::rmdir("bbsusers.dat"));

    // The file opens but every write fails (no space left).
    ASSERT_EQ(0, ::symlink("/dev/full", "bbsusers.dat"));
    EXPECT_FALSE(addUser(rec, "jack"));
    EXPECT_FALSE(addUserReserved(rec, "kate"));
    EXPECT_FALSE(isUserReserved("kate"));
    EXPECT_TRUE(added.empty());
}

TEST_F(UserDb, LoadUserListAnnouncesInNameOrder) {
    std::string content = header(5);
    const char* names[] = {"mike", "Alfa", "zulu", "", "bravo"};
    for (uint32_t i = 0; i < 5; ++i)
        content += record(names[i][0] ? i : FreeUserId, names[i]);
    writeFile("bbsusers.dat", content);
    loadUserList();
    std::vector<std::pair<std::string, uint32_t>> expected = {
        {"Alfa", 1}, {"bravo", 4}, {"mike", 0}, {"zulu", 2}};
    EXPECT_EQ(expected, added);
}
