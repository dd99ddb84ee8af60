#include "server/areas/area_tree.h"
#include "server/base/record_codec.h"
#include "support/test_support.h"

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>

using ovtest::fileExists;
using ovtest::fileSizeOf;
using ovtest::readFile;
using ovtest::writeFile;

namespace {

std::string encoded(const AreaRecord& rec) {
    uint8_t bytes[AreaRecordSize];
    encodeAreaRecord(rec, bytes);
    return std::string(reinterpret_cast<char*>(bytes), AreaRecordSize);
}

AreaRecord area(uint32_t id, uint32_t parent, const char* title) {
    AreaRecord rec;
    rec.id = id;
    rec.parentId = parent;
    std::snprintf(rec.title, sizeof rec.title, "%s", title);
    return rec;
}

AreaRecord withChildren(AreaRecord rec, std::initializer_list<uint32_t> children) {
    rec.childCount = 0;
    for (uint32_t c : children)
        rec.childIds[rec.childCount++] = c;
    return rec;
}

class AreaTree : public ovtest::WorkDirTest {
protected:
    void TearDown() override { freeAreaTree(); }
    // The root plus `n` sub-areas under it, ids 1 to n.
    void rootWithChildren(int n) {
        ASSERT_TRUE(loadAreaTree());
        for (int i = 0; i < n; ++i) {
            AreaRecord out;
            ASSERT_TRUE(addSubArea(0, out));
            ASSERT_EQ(static_cast<uint32_t>(i + 1), out.id);
        }
    }
};

} // namespace

TEST_F(AreaTree, FirstStartCreatesTheDirectoryAndTheRoot) {
    ASSERT_TRUE(loadAreaTree());
    EXPECT_TRUE(std::filesystem::is_directory("area"));
    std::string file = readFile(AreaFile);
    ASSERT_EQ(AreaRecordSize, file.size());
    std::string expected(AreaRecordSize, '\0');
    expected[10] = '\xFF';
    expected[11] = '\xFF';
    expected.replace(88, 8, "New area");
    EXPECT_EQ(expected, file);
    EXPECT_FALSE(fileExists(AreaBackupFile));

    AreaRecord root;
    ASSERT_TRUE(getArea(0, root));
    EXPECT_STREQ("New area", root.title);
    EXPECT_EQ(65535, root.maxAccess);
    freeAreaTree();
    EXPECT_FALSE(getArea(0, root));
}

TEST_F(AreaTree, RecordCodecPlacesEveryField) {
    AreaRecord rec = area(0x0A0B0C0D, 7, "T");
    rec.minAccess = 0x1122;
    rec.childCount = 2;
    rec.extensionCount = 1;
    rec.childIds[8] = 0x99;
    rec.extensionPluginIds[0] = 0x55;
    std::strcpy(rec.extensionNames[8], "N");
    std::strcpy(rec.extensionArgs[8], "A");
    std::string b = encoded(rec);
    const auto* p = reinterpret_cast<const uint8_t*>(b.data());
    EXPECT_EQ(0x0A0B0C0Du, loadLe32(p));
    EXPECT_EQ(7u, loadLe32(p + 4));
    EXPECT_EQ(0x1122, loadLe16(p + 8));
    EXPECT_EQ(2, loadLe16(p + 12));
    EXPECT_EQ(1, loadLe16(p + 14));
    EXPECT_EQ(0x99u, loadLe32(p + 16 + 8 * 4));
    EXPECT_EQ(0x55u, loadLe32(p + 52));
    EXPECT_EQ('T', b[88]);
    EXPECT_EQ('N', b[120 + 8 * 32]);
    EXPECT_EQ('A', b[408 + 8 * 64]);
    AreaRecord back;
    decodeAreaRecord(p, back);
    EXPECT_STREQ("A", back.extensionArgs[8]);
    EXPECT_EQ(0x99u, back.childIds[8]);
}

TEST_F(AreaTree, SubAreasStopAtNine) {
    rootWithChildren(9);
    std::string before = readFile(AreaFile);
    EXPECT_EQ(10 * AreaRecordSize, before.size());
    AreaRecord out;
    EXPECT_FALSE(addSubArea(0, out));
    EXPECT_EQ(before, readFile(AreaFile));
    AreaRecord root;
    ASSERT_TRUE(getArea(0, root));
    EXPECT_EQ(9, root.childCount);
    EXPECT_FALSE(getArea(10, out));

    ASSERT_TRUE(addSubArea(3, out)); // a grandchild under area 3
    EXPECT_EQ(10u, out.id);
    EXPECT_EQ(3u, out.parentId);
    EXPECT_STREQ("New area", out.title);
}

TEST_F(AreaTree, DeletingTheMiddleChildKeepsOrderAndBlanksTheSlot) {
    rootWithChildren(3);
    ASSERT_TRUE(deleteArea(2));
    AreaRecord root, gone;
    ASSERT_TRUE(getArea(0, root));
    EXPECT_EQ(2, root.childCount);
    EXPECT_EQ(1u, root.childIds[0]);
    EXPECT_EQ(3u, root.childIds[1]);
    ASSERT_TRUE(getArea(2, gone));
    EXPECT_EQ(encoded(AreaRecord{}).size(), AreaRecordSize);
    std::string blank(AreaRecordSize, '\0');
    blank[0] = 2;
    EXPECT_EQ(blank, encoded(gone));
    EXPECT_EQ(blank, readFile(AreaFile).substr(2 * AreaRecordSize, AreaRecordSize));
    EXPECT_FALSE(deleteArea(2)); // no longer anybody's sub-area

    AreaRecord fresh;
    ASSERT_TRUE(addSubArea(0, fresh));
    EXPECT_EQ(4u, fresh.id);
}

TEST_F(AreaTree, DeletedIdsAreNotHandedOutAgain) {
    rootWithChildren(6);
    ASSERT_TRUE(deleteArea(5));
    AreaRecord fresh;
    ASSERT_TRUE(addSubArea(0, fresh));
    EXPECT_EQ(7u, fresh.id);

    // Also not after a restart.
    ASSERT_TRUE(loadAreaTree());
    ASSERT_TRUE(addSubArea(1, fresh));
    EXPECT_EQ(8u, fresh.id);
}

TEST_F(AreaTree, BadIdsAreRefused) {
    rootWithChildren(1);
    AreaRecord rec;
    EXPECT_FALSE(deleteArea(0));
    EXPECT_FALSE(getArea(20000, rec));
    EXPECT_FALSE(getArea(MaxAreas, rec));
    EXPECT_FALSE(putArea(20000, rec));
    EXPECT_FALSE(putArea(9, rec)); // empty slot
    EXPECT_FALSE(addSubArea(9, rec));
    EXPECT_FALSE(addSubArea(MaxAreas, rec));
    EXPECT_FALSE(deleteArea(9));
    EXPECT_FALSE(deleteArea(70000));
    EXPECT_FALSE(getArea(9, rec));
}

TEST_F(AreaTree, PutAreaSavesKeepsTheIdAndClampsCounts) {
    rootWithChildren(1);
    AreaRecord rec = area(55, 0, "Files");
    rec.minAccess = 10;
    rec.childCount = 40;
    rec.extensionCount = 12;
    std::memset(rec.extensionNames[3], 'x', sizeof rec.extensionNames[3]); // no terminator
    ASSERT_TRUE(putArea(1, rec));
    AreaRecord back;
    ASSERT_TRUE(getArea(1, back));
    EXPECT_EQ(1u, back.id);
    EXPECT_EQ(9, back.childCount);
    EXPECT_EQ(9, back.extensionCount);
    EXPECT_EQ(31u, std::strlen(back.extensionNames[3]));
    ASSERT_TRUE(loadAreaTree());
    ASSERT_TRUE(getArea(1, back));
    EXPECT_STREQ("Files", back.title);
    EXPECT_EQ(10, back.minAccess);
}

TEST_F(AreaTree, DamagedFilesLoadWhatCanBeUsed) {
    std::filesystem::create_directory("area");
    AreaRecord big = area(4, 0, "Overfull");
    std::string bigBytes = encoded(big);
    bigBytes[12] = 50; // childCount
    bigBytes[14] = static_cast<char>(0xFF);
    bigBytes[15] = static_cast<char>(0xFF); // extensionCount
    bigBytes.replace(88, 32, std::string(32, 'T'));
    writeFile(AreaFile, encoded(withChildren(area(0, 0, "Root"), {3, 4, 99999})) +
                            encoded(area(3, 0, "first")) + encoded(area(3, 0, "second")) +
                            encoded(area(20000, 0, "out of range")) + bigBytes +
                            std::string(500, 'p'));
    ASSERT_TRUE(loadAreaTree());
    AreaRecord rec;
    ASSERT_TRUE(getArea(3, rec));
    EXPECT_STREQ("first", rec.title);
    ASSERT_TRUE(getArea(4, rec));
    EXPECT_EQ(9, rec.childCount);
    EXPECT_EQ(9, rec.extensionCount);
    EXPECT_EQ(std::string(31, 'T'), rec.title);
    EXPECT_FALSE(getArea(20000, rec));
    ASSERT_TRUE(getArea(0, rec));
    EXPECT_EQ(99999u, rec.childIds[2]); // kept as found; readers skip what getArea refuses
    ASSERT_TRUE(deleteArea(3));
    ASSERT_TRUE(getArea(0, rec));
    EXPECT_EQ(2, rec.childCount);
    EXPECT_EQ(4u, rec.childIds[0]);
    EXPECT_EQ(3 * AreaRecordSize, fileSizeOf(AreaFile)); // rewritten without the bad records
}

TEST_F(AreaTree, CyclesAndStrayParentsDoNotTrapOperations) {
    std::filesystem::create_directory("area");
    // 1 and 2 list each other; the root claims to be a sub-area of 1 as well.
    writeFile(AreaFile, encoded(withChildren(area(0, 1, "Root"), {1})) +
                            encoded(withChildren(area(1, 2, "A"), {2, 0})) +
                            encoded(withChildren(area(2, 1, "B"), {1, 2})) +
                            encoded(area(5, 77777, "stray")));
    ASSERT_TRUE(loadAreaTree());
    EXPECT_FALSE(deleteArea(0));
    EXPECT_FALSE(deleteArea(5)); // its parent does not exist
    ASSERT_TRUE(deleteArea(2));  // unlinked from its parent 1 only
    AreaRecord rec;
    ASSERT_TRUE(getArea(1, rec));
    EXPECT_EQ(1, rec.childCount);
    EXPECT_EQ(0u, rec.childIds[0]);
    ASSERT_TRUE(getArea(0, rec));
    EXPECT_STREQ("Root", rec.title);
}

TEST_F(AreaTree, AFileWithoutRootLeavesTheTreeWithoutRoot) {
    std::filesystem::create_directory("area");
    writeFile(AreaFile, encoded(area(2, 0, "orphan")));
    ASSERT_TRUE(loadAreaTree());
    AreaRecord rec;
    EXPECT_FALSE(getArea(0, rec));
    EXPECT_TRUE(getArea(2, rec));
    EXPECT_EQ(AreaRecordSize, fileSizeOf(AreaFile));
}

TEST_F(AreaTree, SaveThatCannotMoveTheOldFileAsideChangesNothingOnDisk) {
    rootWithChildren(2);
    std::string before = readFile(AreaFile);
    std::filesystem::create_directories(std::string(AreaBackupFile) + "/occupied");
    AreaRecord out;
    EXPECT_FALSE(addSubArea(0, out));
    EXPECT_EQ(before, readFile(AreaFile));
    EXPECT_TRUE(getArea(3, out)); // memory keeps the change for the next save
    std::filesystem::remove_all(AreaBackupFile);
    ASSERT_TRUE(saveAreaTree());
    EXPECT_EQ(4 * AreaRecordSize, fileSizeOf(AreaFile));
    EXPECT_FALSE(fileExists(AreaBackupFile));
}

TEST_F(AreaTree, SaveFailingHalfwayLeavesThePreviousTreeAndNoBackup) {
    rootWithChildren(3);
    std::string before = readFile(AreaFile);
    pid_t child = fork();
    ASSERT_NE(-1, child);
    if (child == 0) {
        // Writes past 2.5 records fail: the save breaks off in the middle of its data.
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit{2 * AreaRecordSize + 500, 2 * AreaRecordSize + 500};
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(2);
        AreaRecord out;
        _exit(addSubArea(0, out) ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(0, WEXITSTATUS(status));
    EXPECT_EQ(before, readFile(AreaFile));
    EXPECT_FALSE(fileExists(AreaBackupFile));
}

TEST_F(AreaTree, FirstSaveFailingLeavesNoPartialFile) {
    std::filesystem::create_directory("area");
    pid_t child = fork();
    ASSERT_NE(-1, child);
    if (child == 0) {
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit{100, 100};
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(2);
        _exit(loadAreaTree() ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(0, WEXITSTATUS(status));
    EXPECT_FALSE(fileExists(AreaFile));
    EXPECT_FALSE(fileExists(AreaBackupFile));
}

TEST_F(AreaTree, ABackupLeftByAnInterruptedSaveIsTakenBack) {
    std::filesystem::create_directory("area");
    writeFile(AreaBackupFile,
              encoded(withChildren(area(0, 0, "Root"), {1})) + encoded(area(1, 0, "Kept")));
    writeFile(AreaFile, encoded(area(0, 0, "Root")).substr(0, 300));
    ASSERT_TRUE(loadAreaTree());
    AreaRecord rec;
    ASSERT_TRUE(getArea(1, rec));
    EXPECT_STREQ("Kept", rec.title);
    EXPECT_FALSE(fileExists(AreaBackupFile));
    EXPECT_EQ(2 * AreaRecordSize, fileSizeOf(AreaFile));
}

TEST_F(AreaTree, AFullTreeSavesAndLoads) {
    ASSERT_TRUE(loadAreaTree());
    // Fill every slot straight through the file, then load it back and save it again.
    std::string all;
    for (uint32_t id = 0; id < MaxAreas; ++id)
        all += encoded(area(id, 0, "x"));
    writeFile(AreaFile, all);
    ASSERT_TRUE(loadAreaTree());
    AreaRecord rec;
    ASSERT_TRUE(getArea(MaxAreas - 1, rec));
    EXPECT_FALSE(addSubArea(1, rec)); // no free slot left
    ASSERT_TRUE(saveAreaTree());
    EXPECT_EQ(all, readFile(AreaFile));
}
