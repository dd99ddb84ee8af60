// Built-in windows: message boxes, the open-file dialog, the text editor; and the tray.
#include "demo_dialogs.h"
#include "support/test_support.h"

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <thread>

using namespace demo;
namespace fs = std::filesystem;

namespace {

class Builtin : public UiTest {
protected:
    ovtest::TempWorkDir workDir;
};

struct Shown {
    std::mutex m;
    int changes = 0;
    std::vector<std::pair<std::string, std::string>> boxes;
};

} // namespace

TEST_F(Builtin, MessageBoxAnsweredFromAnotherThreadUnblocksTheModalLoop) {
    Shown shown;
    ovuiSetObserver([&](const OvuiEvent& e) {
        std::lock_guard lk(shown.m);
        if (e.kind == OvuiEvent::Kind::MessageBox)
            shown.boxes.emplace_back(e.caption, e.text);
        else
            ++shown.changes;
    });
    HWND owner = ovCreateDialog(&kDemo, nullptr, demoProc, 0);
    std::thread answerer([&] {
        ASSERT_TRUE(ovuiWaitFor(
            [] {
                HWND box = ovuiTopModal();
                return box && ovuiFindWindowByTemplate(OVUI_TEMPLATE_MESSAGEBOX) == box;
            },
            10000));
        HWND box = ovuiTopModal();
        auto j = windowJson(box);
        EXPECT_EQ(j["kind"], "messagebox");
        EXPECT_EQ(j["messageBox"]["icon"], "question");
        EXPECT_EQ(j["messageBox"]["buttons"].size(), 2u);
        EXPECT_FALSE(j["closeBox"].get<bool>());
        EXPECT_FALSE(ovIsWindowEnabled(owner));
        ovuiMessageBoxAnswer(box, IDCANCEL); // not one of its buttons: ignored
        ovuiMessageBoxAnswer(box, IDNO);
    });
    int r = ovMessageBox(owner, "Really?", "Question", MB_YESNO | MB_ICONQUESTION);
    answerer.join();
    EXPECT_EQ(r, IDNO);
    EXPECT_TRUE(ovIsWindowEnabled(owner));
    ovuiSetObserver(nullptr);
    std::lock_guard lk(shown.m);
    ASSERT_EQ(shown.boxes.size(), 1u);
    EXPECT_EQ(shown.boxes[0].first, "Question");
    EXPECT_EQ(shown.boxes[0].second, "Really?");
    EXPECT_GT(shown.changes, 0);
}

TEST_F(Builtin, MessageBoxFromASessionThreadWaitsForItsAnswer) {
    std::atomic<int> result{0};
    std::thread session([&] { result = ovMessageBox(nullptr, "Note text", "Note", MB_OK); });
    // The box's modal loop runs inside this thread's pump, so a third thread answers it.
    std::thread sysop([] {
        ASSERT_TRUE(
            ovuiWaitFor([] { return ovuiFindWindowByTemplate(OVUI_TEMPLATE_MESSAGEBOX); }, 10000));
        ovuiKey(ovuiFindWindowByTemplate(OVUI_TEMPLATE_MESSAGEBOX), "escape"); // Escape is OK
    });
    EXPECT_TRUE(ovuiPumpUntil([&] { return result != 0; }, 10000));
    session.join();
    sysop.join();
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(ovuiFindWindowByTemplate(OVUI_TEMPLATE_MESSAGEBOX), nullptr);
}

TEST_F(Builtin, OpenFileDialogBrowsesFiltersAndReturnsAnAbsolutePath) {
    namespace fs = std::filesystem;
    fs::create_directories("plugins/sub");
    ovtest::writeFile("plugins/memo.SO", "x");
    ovtest::writeFile("plugins/readme.txt", "x");
    ovtest::writeFile("plugins/sub/deep.so", "x");
    char file[256] = "";
    OvOpenFileName ofn{};
    ofn.title = "Install which plug-in?";
    ofn.filterDescription = "Plug-ins";
    ofn.filterPattern = "*.so";
    ofn.defaultExtension = "so";
    ofn.file = file;
    ofn.fileSize = sizeof file;
    ofn.flags = OV_OFN_FILEMUSTEXIST | OV_OFN_PATHMUSTEXIST | OV_OFN_NOCHANGEDIR;
    std::thread chooser([&] {
        ASSERT_TRUE(
            ovuiWaitFor([] { return ovuiFindWindowByTemplate(OVUI_TEMPLATE_OPENFILE); }, 10000));
        HWND dlg = ovuiFindWindowByTemplate(OVUI_TEMPLATE_OPENFILE);
        ovuiOpenFileBrowse(dlg, "plugins");
        ASSERT_TRUE(
            ovuiWaitFor([&] { return windowJson(dlg)["openFile"]["entries"].size() == 3; }, 10000));
        auto of = windowJson(dlg)["openFile"];
        EXPECT_EQ(of["entries"][0]["name"], "..");
        EXPECT_EQ(of["entries"][1]["name"], "sub");
        EXPECT_EQ(of["entries"][2]["name"], "memo.SO");
        EXPECT_EQ(windowJson(dlg)["title"], "Install which plug-in?");
        ovuiOpenFileChoose(dlg, "missing");
        ASSERT_TRUE(ovuiWaitFor(
            [&] { return !windowJson(dlg)["openFile"]["error"].get<std::string>().empty(); },
            10000));
        ovuiOpenFileChoose(dlg, "memo"); // the default extension does not make it exist
        ovuiOpenFileChoose(dlg, "memo.SO");
    });
    BOOL ok = ovGetOpenFileName(&ofn);
    chooser.join();
    ASSERT_TRUE(ok);
    EXPECT_EQ(std::string(file), (fs::current_path() / "plugins/memo.SO").string());

    // Cancel gives FALSE.
    std::thread canceller([&] {
        ASSERT_TRUE(
            ovuiWaitFor([] { return ovuiFindWindowByTemplate(OVUI_TEMPLATE_OPENFILE); }, 10000));
        ovuiOpenFileCancel(ovuiFindWindowByTemplate(OVUI_TEMPLATE_OPENFILE));
    });
    EXPECT_FALSE(ovGetOpenFileName(&ofn));
    canceller.join();
}

TEST_F(Builtin, NotepadOpensAnEditorThatSavesAndCloses) {
    ovtest::writeFile("jotbox.txt", "first line\n");
    EXPECT_FALSE(ovStartProcess("notepad missing.txt", workDir.path().c_str()));
    EXPECT_FALSE(ovStartProcess("calc jotbox.txt", workDir.path().c_str()));
    ASSERT_TRUE(ovStartProcess("notepad jotbox.txt", workDir.path().c_str()));
    ovuiPumpUntilIdle();
    HWND ed = ovuiFindWindowByTemplate(OVUI_TEMPLATE_EDITOR);
    ASSERT_NE(ed, nullptr);
    auto j = windowJson(ed);
    EXPECT_EQ(j["kind"], "editor");
    EXPECT_TRUE(j["visible"].get<bool>());
    EXPECT_EQ(j["editor"]["text"], "first line\n");
    EXPECT_FALSE(j["editor"]["dirty"].get<bool>());
    // A reader that opened the file before the save keeps the old text: it is replaced whole.
    fs::permissions("jotbox.txt", fs::perms(0640));
    std::ifstream reader("jotbox.txt", std::ios::binary);
    // A browser's text area gives LF; the file gets CR LF, and CR LF stays as it was.
    ovuiEditorSave(ed, "first line\nsecond line\rthird\r\n");
    ovuiPumpUntilIdle();
    EXPECT_EQ(ovtest::readFile("jotbox.txt"), "first line\r\nsecond line\r\nthird\r\n");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(reader), {}), "first line\n");
    EXPECT_EQ(fs::status("jotbox.txt").permissions(), fs::perms(0640));
    EXPECT_EQ(std::distance(fs::directory_iterator("."), fs::directory_iterator()), 1);
    EXPECT_FALSE(windowJson(ed)["editor"]["dirty"].get<bool>());
    ovuiEditorClose(ed);
    ovuiPumpUntilIdle();
    EXPECT_FALSE(ovIsWindow(ed));
}

TEST_F(Builtin, ClosingAnEditorWithUnsavedTextAsksSaveDiscardOrCancel) {
    ovtest::writeFile("rules.txt", "old\r\n");
    // Answers the close question with `answer` and reports the box's buttons.
    auto closeAnswering = [](HWND ed, int answer) {
        std::vector<std::string> buttons;
        std::atomic<bool> answered{false};
        std::thread answerer([&] {
            ASSERT_TRUE(ovuiWaitFor(
                [] { return ovuiTopModal() == ovuiFindWindowByTemplate(OVUI_TEMPLATE_MESSAGEBOX); },
                10000));
            auto j = windowJson(ovuiTopModal());
            EXPECT_EQ(j["messageBox"]["text"], "Save the changes to rules.txt?");
            for (auto& b : j["messageBox"]["buttons"])
                buttons.push_back(b["text"]);
            ovuiMessageBoxAnswer(ovuiTopModal(), answer);
            answered = true;
        });
        ovuiEditorClose(ed);
        ovuiPumpUntil([&] { return answered.load() && ovuiModalDepth() == 0; }, 10000);
        answerer.join();
        ovuiPumpUntilIdle();
        return buttons;
    };
    ASSERT_TRUE(ovStartProcess("notepad rules.txt", workDir.path().c_str()));
    ovuiPumpUntilIdle();
    HWND ed = ovuiFindWindowByTemplate(OVUI_TEMPLATE_EDITOR);
    ASSERT_NE(ed, nullptr);
    ovuiEditorText(ed, "new\n");
    EXPECT_EQ(closeAnswering(ed, IDCANCEL), (std::vector<std::string>{"&Yes", "&No", "Cancel"}));
    ASSERT_TRUE(ovIsWindow(ed));
    EXPECT_EQ(windowJson(ed)["editor"]["text"], "new\n");
    (void)closeAnswering(ed, IDYES);
    EXPECT_FALSE(ovIsWindow(ed));
    EXPECT_EQ(ovtest::readFile("rules.txt"), "new\r\n");

    ASSERT_TRUE(ovStartProcess("notepad rules.txt", workDir.path().c_str()));
    ovuiPumpUntilIdle();
    ed = ovuiFindWindowByTemplate(OVUI_TEMPLATE_EDITOR);
    ovuiEditorText(ed, "thrown away");
    (void)closeAnswering(ed, IDNO);
    EXPECT_FALSE(ovIsWindow(ed));
    EXPECT_EQ(ovtest::readFile("rules.txt"), "new\r\n");
}

TEST_F(Builtin, TrayIconStateDoubleClickAndTaskbarCreated) {
    HWND dlg = ovCreateDialog(&kDemo, nullptr, demoProc, 0);
    const UINT tooltray = ovRegisterWindowMessage("WM_TOOLTRAY");
    OvNotifyIconData nid{};
    nid.hwnd = dlg;
    nid.id = 1;
    nid.flags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    nid.callbackMessage = tooltray;
    nid.iconLevel = 0;
    std::snprintf(nid.tip, sizeof nid.tip, "Ossivane BBS");
    EXPECT_FALSE(ovShellNotifyIcon(NIM_MODIFY, &nid));
    ASSERT_TRUE(ovShellNotifyIcon(NIM_ADD, &nid));
    std::thread session([&] {
        OvNotifyIconData m = nid;
        m.flags = NIF_ICON;
        m.iconLevel = 3;
        EXPECT_TRUE(ovShellNotifyIcon(NIM_MODIFY, &m));
    });
    session.join();
    auto tray = snapshot()["tray"];
    EXPECT_TRUE(tray["present"].get<bool>());
    EXPECT_EQ(tray["level"], 3);
    EXPECT_EQ(tray["tip"], "Ossivane BBS");
    ovShowWindow(dlg, SW_HIDE);
    ovuiTrayDoubleClick();
    ovuiPageOpened();
    ovuiPumpUntilIdle();
    auto tray1 = eventsOf(tooltray);
    ASSERT_EQ(tray1.size(), 1u);
    EXPECT_EQ(tray1[0].wParam, 1u);
    EXPECT_EQ(tray1[0].lParam, WM_LBUTTONDBLCLK);
    EXPECT_EQ(eventsOf(ovRegisterWindowMessage("TaskbarCreated")).size(), 1u);
    ASSERT_TRUE(ovShellNotifyIcon(NIM_ADD, &nid)); // re-adding after a restart replaces it
    ASSERT_TRUE(ovShellNotifyIcon(NIM_DELETE, &nid));
    EXPECT_FALSE(snapshot()["tray"]["present"].get<bool>());
    clearEvents();
    ovuiTrayDoubleClick();
    ovuiPumpUntilIdle();
    EXPECT_TRUE(eventsOf(tooltray).empty());
}
