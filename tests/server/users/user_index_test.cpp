// The user file's index of positions must never show stale data, whether or not the file
// system's time stamps reveal a change: each case runs on the real clock and again with a coarse
// one, under which a write by another program leaves the file's stamp as it was.
#include "server/users/user_db.h"
#include "support/test_support.h"
#include "user_file_text.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <string>

using ovtest::readFile;
using ovtest::writeFile;
using usertest::header;
using usertest::record;

namespace {

std::atomic<bool> coarseClock{false};

} // namespace

// Stands in for the C library's fstat in this test program: with the coarse clock on, every
// file seems last changed at one fixed moment. A file system with a slow clock does the same
// for changes within one tick.
extern "C" int fstat(int fd, struct stat* st) {
    using Real = int (*)(int, struct stat*);
    static Real real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "fstat"));
    int result = real ? real(fd, st) : -1;
    if (result == 0 && coarseClock) {
        st->st_mtim = timespec{1000000000, 0};
        st->st_ctim = timespec{1000000000, 0};
    }
    return result;
}

namespace {

// Writes over part of the file in place, as another program would: same file, same size.
void writeInPlace(uint64_t offset, const std::string& bytes) {
    int fd = ::open("bbsusers.dat", O_WRONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ssize_t(bytes.size()), ::pwrite(fd, bytes.data(), bytes.size(), off_t(offset)));
    ::close(fd);
}

uint64_t slot(int i) {
    return UserFileHeaderSize + uint64_t(i) * UserRecordSize;
}

class UserIndex : public ovtest::WorkDirTest, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override {
        ovtest::WorkDirTest::SetUp();
        // The id counter lives for the process; a header of 0 sets it back to a fresh start.
        writeFile("bbsusers.dat", header(0));
        loadUserList();
        ::unlink("bbsusers.dat");
        coarseClock = GetParam();
    }
    void TearDown() override {
        coarseClock = false;
        ovtest::WorkDirTest::TearDown();
    }
};

} // namespace

TEST_P(UserIndex, LookupsSeeEveryChangeMadeBehindTheirBack) {
    UserRecord rec;
    for (const char* name : {"ann", "ben", "cid"})
        ASSERT_TRUE(addUser(rec, name));
    ASSERT_TRUE(findUser(rec, "ben")); // the positions are known now

    // Another program changes a password in place: the next lookup reads it, whatever the stamp.
    writeInPlace(slot(1), record(1, "ben", "outside"));
    ASSERT_TRUE(findUser(rec, "ben"));
    EXPECT_STREQ("outside", rec.password);

    // Reordered in place, with new passwords: every account is found where it now is.
    writeInPlace(slot(0),
                 record(2, "cid", "pw-c") + record(0, "ann", "pw-a") + record(1, "ben", "pw-b"));
    for (const char* name : {"ann", "ben", "cid"}) {
        ASSERT_TRUE(findUser(rec, name)) << name;
        EXPECT_EQ(std::string("pw-") + name[0], rec.password);
    }

    // Renamed in place: the old name is gone, the new one is found and can be updated.
    writeInPlace(slot(2), record(1, "bob", "pw-b"));
    EXPECT_FALSE(findUser(rec, "ben"));
    ASSERT_TRUE(findUser(rec, "bob"));
    std::strcpy(rec.realName, "Bob B.");
    ASSERT_TRUE(updateUser(rec));
    EXPECT_EQ(record(1, "bob", "pw-b").substr(0, 68), // id, name, password
              readFile("bbsusers.dat").substr(slot(2), 68));
    ASSERT_TRUE(findUser(rec, "bob"));
    EXPECT_STREQ("Bob B.", rec.realName);
    UserRecord ben;
    std::strcpy(ben.loginName, "ben");
    EXPECT_FALSE(updateUser(ben));

    // Replaced by another file holding the names elsewhere.
    writeFile("other.dat", header(9) + record(7, "zed") + record(8, "ann", "moved"));
    ASSERT_EQ(0, ::rename("other.dat", "bbsusers.dat"));
    ASSERT_TRUE(findUser(rec, "ANN"));
    EXPECT_EQ(8u, rec.id);
    EXPECT_STREQ("moved", rec.password);
    EXPECT_FALSE(findUser(rec, "cid"));
    ASSERT_TRUE(addUser(rec, "cid"));
    EXPECT_EQ(9u, rec.id);
    ASSERT_TRUE(findUser(rec, "cid"));
    EXPECT_EQ(9u, rec.id);
}

TEST_P(UserIndex, TheFirstOfTwoRecordsWithOneNameIsTheAccount) {
    writeFile("bbsusers.dat",
              header(3) + record(0, "dup", "first") + record(1, "other") + record(2, "DUP", "2nd"));
    UserRecord rec;
    ASSERT_TRUE(findUser(rec, "dup"));
    EXPECT_STREQ("first", rec.password);
    std::strcpy(rec.password, "changed");
    ASSERT_TRUE(updateUser(rec));
    EXPECT_EQ(record(2, "DUP", "2nd"), readFile("bbsusers.dat").substr(slot(2)));
    ASSERT_TRUE(findUser(rec, "dup"));
    EXPECT_STREQ("changed", rec.password);

    // Once the first is deleted, the second one is the account.
    ASSERT_TRUE(deleteUser("dup"));
    ASSERT_TRUE(findUser(rec, "dup"));
    EXPECT_EQ(2u, rec.id);
    ASSERT_TRUE(deleteUser("dup"));
    EXPECT_FALSE(findUser(rec, "dup"));
    ASSERT_TRUE(findUser(rec, "other"));
    EXPECT_EQ(1u, rec.id);
}

TEST_P(UserIndex, AnAccountWrittenIntoAFreeSlotIsFound) {
    UserRecord rec;
    for (const char* name : {"ann", "ben"})
        ASSERT_TRUE(addUser(rec, name));
    ASSERT_TRUE(deleteUser("ann"));
    ASSERT_TRUE(findUser(rec, "ben"));
    EXPECT_FALSE(findUser(rec, "eve"));
    writeInPlace(slot(0), record(5, "eve", "pw-e"));
    ASSERT_TRUE(findUser(rec, "eve"));
    EXPECT_EQ(5u, rec.id);
    ASSERT_TRUE(findUser(rec, "ben"));
    EXPECT_FALSE(addUser(rec, "Eve")); // taken
}

INSTANTIATE_TEST_SUITE_P(Clocks, UserIndex, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "CoarseClock" : "RealClock";
                         });
