#include "server/sysop/area_editor.h"
#include "support/test_support.h"
#include "support/ui_driver.h"

#include <filesystem>
#include <string>

using ovtest::readFile;

namespace {

class AreaEdit : public ovtest::WorkDirTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(ovInitialize());
        std::filesystem::create_directory("area");
    }
    void TearDown() override { ovuiResetForTests(); }
};

} // namespace

TEST_F(AreaEdit, OpensTheEditorOnTheDescriptionCreatingItWhenMissing) {
    ASSERT_TRUE(editAreaDescription(0, nullptr));
    EXPECT_TRUE(ovtest::fileExists("area/00000000.txt"));
    EXPECT_EQ(0u, ovtest::fileSizeOf("area/00000000.txt"));
    EXPECT_NE(nullptr, ovuiFindWindowByTemplate(OVUI_TEMPLATE_EDITOR));

    ovtest::writeFile("area/0000002a.txt", "Kept text");
    ASSERT_TRUE(editAreaDescription(42, nullptr));
    EXPECT_EQ("Kept text", readFile("area/0000002a.txt"));
    EXPECT_NE(std::string::npos, ovuiSnapshotJson().find("0000002a.txt"));
}

TEST_F(AreaEdit, AnEditorThatCannotStartIsReportedToTheSysop) {
    std::filesystem::create_directory("area/00000007.txt"); // nothing can open this
    ovtest::MessageBoxLog boxes;
    EXPECT_TRUE(ovtest::answerModal([] { EXPECT_FALSE(editAreaDescription(7, nullptr)); },
                                    OVUI_TEMPLATE_MESSAGEBOX,
                                    [](HWND box) { ovuiMessageBoxAnswer(box, IDOK); }));
    const auto box = boxes.next();
    EXPECT_EQ("Ossivane BBS", box.caption);
    EXPECT_EQ("Unable to perform action:  notepad 00000007.txt", box.text);
}
