// The three configuration dialogs, worked through the UI runtime's test driver.
#include "plugins/standard/ui_harness.h"

#include <sys/stat.h>

#include <atomic>
#include <thread>

namespace {

using ovtest::fileExists;
using ovtest::readFile;
using ovtest::writeFile;
using plugtest::CallerLink;
using plugtest::configureWith;
using plugtest::dlgText;
using plugtest::postStep;

std::string field(const std::string& text, size_t size) {
    std::string bytes(size, '\0');
    bytes.replace(0, text.size(), text);
    return bytes;
}

class PluginDialog : public plugtest::PluginUiTest {
protected:
    plugtest::FakeAccount account;

    // The whole dialogue of a session where the caller types `typed`.
    std::string sessionSees(BBSSessionProc session, const std::string& typed) {
        CallerLink link(session, account);
        EXPECT_TRUE(link.caller.send(typed));
        return link.restAfterFinish();
    }
};

// ---- jotbox ----

TEST_F(PluginDialog, JotboxOkSavesBothTexts) {
    plugtest::PluginLibrary lib("jotbox.so");
    ASSERT_TRUE(lib.start());
    makeMainWindow({"&File"});
    std::string shown[2];
    configureWith(lib.configure, mainWindow, [&](HWND dlg) {
        char title[64] = {};
        ovGetWindowText(dlg, title, sizeof title);
        EXPECT_STREQ(title, "Configuration");
        shown[0] = dlgText(dlg, 1001);
        shown[1] = dlgText(dlg, 1002);
        ovuiTypeText(dlg, 1001, "Leave a note:" + std::string(90, '!'));
        ovuiTypeText(dlg, 1002, "Thanks.");
        ovuiClick(dlg, IDOK);
    });
    EXPECT_EQ(shown[0], "Enter a one-line memo to the sysop, or Ctrl-C to cancel.");
    EXPECT_EQ(shown[1], "The message has been recorded.");
    const std::string instructions = "Leave a note:" + std::string(65, '!'); // 78 characters
    EXPECT_EQ(readFile("jotbox.dat"), field(instructions, 80) + field("Thanks.", 80));
    EXPECT_EQ(sessionSees(lib.session, "a\r"), "\r\n" + instructions + "\r\na\r\nThanks.\r\n");
    lib.shutdown(mainWindow);
}

TEST_F(PluginDialog, JotboxDefaultsThenCancelChangesNothing) {
    const std::string saved = field("Say:", 80) + field("Done.", 80);
    writeFile("jotbox.dat", saved);
    plugtest::PluginLibrary lib("jotbox.so");
    ASSERT_TRUE(lib.start());
    makeMainWindow({"&File"});
    std::string before, after;
    configureWith(lib.configure, mainWindow, [&](HWND dlg) {
        before = dlgText(dlg, 1001);
        ovuiClick(dlg, 1000);
        postStep([&, dlg] {
            after = dlgText(dlg, 1001) + "|" + dlgText(dlg, 1002);
            ovuiClick(dlg, IDCANCEL);
        });
    });
    EXPECT_EQ(before, "Say:");
    EXPECT_EQ(after,
              "Enter a one-line memo to the sysop, or Ctrl-C to cancel.|The message has been "
              "recorded.");
    EXPECT_EQ(readFile("jotbox.dat"), saved);
    EXPECT_EQ(sessionSees(lib.session, "\x03"), "\r\nSay:\r\n");

    // Defaults, then OK: the defaults are stored.
    configureWith(lib.configure, mainWindow, [&](HWND dlg) {
        ovuiClick(dlg, 1000);
        ovuiClick(dlg, IDOK);
    });
    EXPECT_EQ(readFile("jotbox.dat"),
              field("Enter a one-line memo to the sysop, or Ctrl-C to cancel.", 80) +
                  field("The message has been recorded.", 80));
    lib.shutdown(mainWindow);
}

TEST_F(PluginDialog, JotboxCloseBoxIsCancel) {
    plugtest::PluginLibrary lib("jotbox.so");
    ASSERT_TRUE(lib.start());
    makeMainWindow({"&File"});
    configureWith(lib.configure, mainWindow, [&](HWND dlg) {
        ovuiTypeText(dlg, 1001, "changed");
        ovuiCloseBox(dlg);
    });
    EXPECT_FALSE(fileExists("jotbox.dat"));
    lib.shutdown(mainWindow);
}

TEST_F(PluginDialog, JotboxFailedSaveDeletesTheFileButKeepsTheNewTexts) {
    writeFile("jotbox.dat", field("Old", 80) + field("Old done", 80));
    ASSERT_EQ(mkdir("jotbox.dat.new", 0755), 0); // the file beside cannot be written
    plugtest::PluginLibrary lib("jotbox.so");
    ASSERT_TRUE(lib.start());
    makeMainWindow({"&File"});
    configureWith(lib.configure, mainWindow, [&](HWND dlg) {
        ovuiTypeText(dlg, 1001, "New");
        ovuiClick(dlg, IDOK);
    });
    EXPECT_FALSE(fileExists("jotbox.dat"));
    EXPECT_EQ(sessionSees(lib.session, "\x03"), "\r\nNew\r\n");
    lib.shutdown(mainWindow);
}

// Callers read the texts while the sysop keeps replacing them: every caller sees one
// generation whole, and the file on disk is always complete.
TEST_F(PluginDialog, JotboxTextsAreNeverSeenHalfReplaced) {
    plugtest::PluginLibrary lib("jotbox.so");
    ASSERT_TRUE(lib.start());
    makeMainWindow({"&File"});
    std::atomic<bool> stop{false};
    std::atomic<int> mixed{0}, sessions{0}, shortFiles{0};
    std::thread callers([&] {
        while (!stop) {
            plugtest::FakeAccount caller;
            CallerLink link(lib.session, caller);
            if (!link.caller.send("\r")) break;
            const std::string seen = link.restAfterFinish();
            // "\r\nA1\r\n\r\nA2\r\n" or the same with B; the defaults before the first save.
            const bool whole = seen == "\r\nA1\r\n\r\nA2\r\n" || seen == "\r\nB1\r\n\r\nB2\r\n" ||
                               seen.find("sysop") != std::string::npos;
            if (!whole) ++mixed;
            ++sessions;
        }
    });
    std::thread reader([&] {
        while (!stop)
            if (fileExists("jotbox.dat") && ovtest::fileSizeOf("jotbox.dat") != 160) ++shortFiles;
    });
    for (int round = 0; round < 40 || sessions < 10; ++round) {
        const char* generation = round % 2 ? "B" : "A";
        configureWith(lib.configure, mainWindow, [&](HWND dlg) {
            ovuiTypeText(dlg, 1001, std::string(generation) + "1");
            ovuiTypeText(dlg, 1002, std::string(generation) + "2");
            ovuiClick(dlg, IDOK);
        });
        if (round > 400) break;
    }
    stop = true;
    callers.join();
    reader.join();
    EXPECT_EQ(mixed, 0);
    EXPECT_EQ(shortFiles, 0);
    EXPECT_GT(sessions, 0);
    lib.shutdown(mainWindow);
}

// ---- ttypick ----

const char* const TtyDefaults[7] = {
    "You are currently using",
    "text only",
    "ANSI escapes",
    "Select from these terminal types:",
    "Plain text only",
    "ANSI escapes and DOS extended characters",
    "Which do you wish to use?",
};

TEST_F(PluginDialog, TtypickOkSavesTextsAndUpperCaseKeys) {
    plugtest::PluginLibrary lib("ttypick.so");
    ASSERT_TRUE(lib.start());
    makeMainWindow({"&File"});
    std::vector<std::string> shown;
    configureWith(lib.configure, mainWindow, [&](HWND dlg) {
        for (int id = 1001; id <= 1009; ++id)
            shown.push_back(dlgText(dlg, id));
        for (int id = 1001; id <= 1007; ++id)
            ovuiTypeText(dlg, id, "S" + std::to_string(id));
        ovuiTypeText(dlg, 1008, "px");
        ovuiTypeText(dlg, 1009, "");
        ovuiClick(dlg, IDOK);
    });
    ASSERT_EQ(shown.size(), 9u);
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(shown[i], TtyDefaults[i]);
    EXPECT_EQ(shown[7], "T");
    EXPECT_EQ(shown[8], "A");

    std::string expected;
    for (int id = 1001; id <= 1007; ++id)
        expected += field("S" + std::to_string(id), 80);
    expected += std::string("P\0", 2); // the empty key is stored as 0
    EXPECT_EQ(readFile("ttypick.dat"), expected);

    // The empty key stands for its default.
    EXPECT_EQ(sessionSees(lib.session, "a"),
              "\r\nS1001 S1002.\r\n\r\nS1004\r\n   P) S1005\r\n   A) S1006\r\n\r\nS1007  A\r\n");
}

TEST_F(PluginDialog, TtypickResetDefaultsFillsAllNine) {
    std::string saved;
    for (int i = 0; i < 7; ++i)
        saved += field("x", 80);
    saved += "QW";
    writeFile("ttypick.dat", saved);
    plugtest::PluginLibrary lib("ttypick.so");
    ASSERT_TRUE(lib.start());
    makeMainWindow({"&File"});
    std::vector<std::string> before, after;
    configureWith(lib.configure, mainWindow, [&](HWND dlg) {
        for (int id = 1001; id <= 1009; ++id)
            before.push_back(dlgText(dlg, id));
        ovuiClick(dlg, 1000);
        postStep([&, dlg] {
            for (int id = 1001; id <= 1009; ++id)
                after.push_back(dlgText(dlg, id));
            ovuiClick(dlg, IDCANCEL);
        });
    });
    EXPECT_EQ(before, (std::vector<std::string>{"x", "x", "x", "x", "x", "x", "x", "Q", "W"}));
    ASSERT_EQ(after.size(), 9u);
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(after[i], TtyDefaults[i]);
    EXPECT_EQ(after[7], "T");
    EXPECT_EQ(after[8], "A");
    EXPECT_EQ(readFile("ttypick.dat"), saved);
}

// ---- pagepeek ----

TEST_F(PluginDialog, PagepeekOkSavesTheMoreTextAndCancelKeepsIt) {
    writeFile("one.txt", "1\r\n");
    account.args = "one";
    plugtest::PluginLibrary lib("pagepeek.so");
    ASSERT_TRUE(lib.start());
    makeMainWindow({"&File"});
    std::string shown;
    configureWith(lib.configure, mainWindow, [&](HWND dlg) {
        shown = dlgText(dlg, 1000);
        ovuiTypeText(dlg, 1000, "Press a key" + std::string(70, '.'));
        ovuiClick(dlg, IDOK);
    });
    EXPECT_EQ(shown, "MORE");
    const std::string more = "Press a key" + std::string(51, '.'); // 62 characters
    EXPECT_EQ(readFile("pagepeek.dat"), field(more, 64));
    EXPECT_EQ(sessionSees(lib.session, "x"), "1\r\n\r\n" + more + " (3/3, 100%)\r\n\r\n");

    configureWith(lib.configure, mainWindow, [&](HWND dlg) {
        ovuiTypeText(dlg, 1000, "Other");
        ovuiClick(dlg, IDCANCEL);
    });
    EXPECT_EQ(readFile("pagepeek.dat"), field(more, 64));
    ASSERT_TRUE(lib.start());
    EXPECT_EQ(sessionSees(lib.session, "x"), "1\r\n\r\n" + more + " (3/3, 100%)\r\n\r\n");
}

} // namespace
