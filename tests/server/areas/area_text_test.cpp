#include "server/areas/area_text.h"
#include "server/areas/area_tree.h"
#include "support/test_support.h"

#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>

using ovtest::writeFile;

namespace {

class AreaText : public ovtest::WorkDirTest {
protected:
    void SetUp() override {
        std::filesystem::create_directory("area");
        std::memset(screen, ' ', sizeof screen);
    }
    std::string row(int r, int from = 0, int n = 42) const {
        return std::string(screen + r * 80 + from, static_cast<size_t>(n));
    }
    std::string padded(const std::string& s) const { return s + std::string(42 - s.size(), ' '); }
    char screen[22 * 80];
};

std::string loaded(uint32_t id, AreaTextKind kind) {
    char* text = reinterpret_cast<char*>(1);
    if (!loadAreaText(id, kind, text)) return text == nullptr ? "<absent>" : "<bad pointer>";
    std::string s(text);
    delete[] text;
    return s;
}

} // namespace

TEST_F(AreaText, FilesAreNamedByKindAndHexId) {
    writeFile("area/0000002a.txt", "plain");
    writeFile("area/0000002a.asc", "ascii\x1A");
    writeFile("area/0000002a.ans", "\x1B[1mansi");
    EXPECT_EQ("plain", loaded(42, AreaTextKind::Txt));
    EXPECT_EQ("ascii", loaded(42, AreaTextKind::Asc));
    EXPECT_EQ("\x1B[1mansi", loaded(42, AreaTextKind::Ans));
    EXPECT_EQ("<absent>", loaded(43, AreaTextKind::Txt));

    writeFile("area/0000002b.asc", "");
    EXPECT_EQ("<absent>", loaded(43, AreaTextKind::Asc));
    writeFile("area/0000002b.txt", "\x1A");
    EXPECT_EQ("", loaded(43, AreaTextKind::Txt)); // present, but empty once the mark is gone
    std::filesystem::create_directory("area/0000002b.ans");
    EXPECT_EQ("<absent>", loaded(43, AreaTextKind::Ans));
}

TEST_F(AreaText, OnlyTheFirstPartOfAHugeFileIsRead) {
    writeFile("area/00000001.ans", "Head");
    ASSERT_EQ(0, ::truncate("area/00000001.ans", MaxAreaTextBytes + 1000));
    char* text = nullptr;
    ASSERT_TRUE(loadAreaText(1, AreaTextKind::Ans, text));
    EXPECT_STREQ("Head", text);
    delete[] text;
}

TEST_F(AreaText, LongLineWrapsAtFortyTwoColumns) {
    std::string letters;
    for (int i = 0; i < 100; ++i)
        letters += static_cast<char>('a' + i % 26);
    writeFile("area/00000000.txt", letters);
    layoutAreaDescription(screen, 0);
    EXPECT_EQ(std::string(80, ' '), row(0, 0, 80));
    EXPECT_EQ(letters.substr(0, 42), row(1));
    EXPECT_EQ(letters.substr(42, 42), row(2));
    EXPECT_EQ(padded(letters.substr(84)), row(3));
    EXPECT_EQ(std::string(38, ' '), row(1, 42, 38));
    EXPECT_EQ(std::string(42, ' '), row(4));
}

TEST_F(AreaText, LineEndsControlBytesAndCtrlZ) {
    writeFile("area/00000001.txt", "one\ntwo\n");
    layoutAreaDescription(screen, 1);
    EXPECT_EQ(padded("one"), row(1));
    EXPECT_EQ(padded("two"), row(2));

    std::memset(screen, ' ', sizeof screen);
    writeFile("area/00000002.txt", "ab\x1A"
                                   "cd\tx\x80y\r\nnext\rlast\x1A");
    layoutAreaDescription(screen, 2);
    EXPECT_EQ(padded("ab cd x y"), row(1));
    EXPECT_EQ(padded("next"), row(2));
    EXPECT_EQ(padded("last"), row(3));
}

TEST_F(AreaText, OnlyTwentyLinesAreShown) {
    std::string text;
    for (int i = 1; i <= 30; ++i)
        text += "Line " + std::to_string(i) + "\r\n";
    writeFile("area/00000003.txt", text);
    layoutAreaDescription(screen, 3);
    EXPECT_EQ(padded("Line 1"), row(1));
    EXPECT_EQ(padded("Line 20"), row(20));
    EXPECT_EQ(std::string(80, ' '), row(21, 0, 80));
}

TEST_F(AreaText, AbsentOrEmptyDescriptionLeavesTheScreenAlone) {
    layoutAreaDescription(screen, 4);
    writeFile("area/00000005.txt", "");
    layoutAreaDescription(screen, 5);
    EXPECT_EQ(std::string(sizeof screen, ' '), std::string(screen, sizeof screen));
}
