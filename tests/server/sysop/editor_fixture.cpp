#include "editor_fixture.h"

#include "server/areas/area_tree.h"
#include "server/plugins/plugin_registry.h"
#include "server/preferences/preferences.h"
#include "server/sysop/app_state.h"
#include "server/sysop/area_editor.h"
#include "server/sysop/main_window.h"
#include "server/sysop/main_window_resources.h"
#include "server/sysop/plugin_dialogs.h"
#include "server/sysop/user_editor.h"
#include "server/users/user_db.h"
#include "server/users/user_list.h"

#include <atomic>

namespace {

void routeCommand(int id, int code) {
    if (id == IdcUserList) {
        if (code == LBN_SELCHANGE) showSelectedUser();
        return;
    }
    if (id == IdcPluginList) {
        if (code == LBN_SELCHANGE) refreshPluginButtons();
        return;
    }
    if (code != BN_CLICKED) return;
    switch (id) {
    case IdcNewSubArea:
        newSubArea();
        break;
    case IdcDeleteArea:
        deleteSelectedArea();
        break;
    case IdcSaveArea:
        saveSelectedArea();
        break;
    case IdcCancelArea:
        showSelectedArea();
        break;
    case IdcEditDescription:
        editSelectedDescription();
        break;
    case IdcAddToArea:
        addSelectedPluginToArea();
        break;
    case IdcRemoveExtension:
        removeSelectedExtension();
        break;
    case IdcEditExtension:
        editSelectedExtension();
        break;
    case IdcInstallPlugin:
        installPluginFromDialog();
        break;
    case IdcUninstallPlugin:
        uninstallSelectedPlugin();
        break;
    case IdcConfigurePlugin:
        configureSelectedPlugin();
        break;
    case IdcNewUser:
        newUserFromEditor();
        break;
    case IdcDeleteUser:
        deleteSelectedUser();
        break;
    case IdcSaveUser:
        saveSelectedUser();
        break;
    case IdcCancelUser:
        showSelectedUser();
        break;
    default:
        break;
    }
}

// The main window's routing, reduced to the editors.
INT_PTR testMainProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_INITDIALOG:
        publishMainWindow(wnd);
        initUserEditor();
        loadUserList();
        populateAreaTree(0);
        initPluginDialogs();
        loadAllPlugins(&nextMenuCommandId);
        return TRUE;
    case WM_COMMAND:
        routeCommand(LOWORD(wParam), HIWORD(wParam));
        return TRUE;
    case WM_NOTIFY: {
        auto* hdr = reinterpret_cast<const NMHDR*>(lParam);
        if (hdr && hdr->idFrom == UINT_PTR(IdcAreaTree) && hdr->code == TVN_SELCHANGED)
            showSelectedArea();
        return TRUE;
    }
    default:
        return FALSE;
    }
}

} // namespace

bool waitForWindowState(const std::function<bool()>& cond) {
    return ovuiWaitFor(cond, 10000);
}

void EditorTest::SetUp() {
    ASSERT_TRUE(ovInitialize());
    loadPreferences();
    ASSERT_TRUE(loadAreaTree());
    resetAreaEditor();
    boxLog.emplace();
}

void EditorTest::TearDown() {
    unloadAllPlugins();
    ovuiPumpUntilIdle();
    setUserListSink(nullptr);
    setPluginListSink(nullptr);
    boxLog.reset();
    ovuiResetForTests();
    publishMainWindow(nullptr);
    resetAreaEditor();
    freeAreaTree();
}

void EditorTest::openMainWindow(bool real) {
    if (real) {
        ASSERT_TRUE(setUseTcp(false));
        ASSERT_TRUE(setUseTapi(false));
    }
    main = ovCreateDialog(&mainDialogTemplate, nullptr, real ? mainDialogProc : testMainProc, 0);
    ASSERT_NE(main, nullptr);
    ovuiPumpUntilIdle();
}

void EditorTest::click(int id) {
    ASSERT_TRUE(ovuiClick(main, id));
    ovuiPumpUntilIdle();
}

void EditorTest::type(int id, const std::string& t) {
    ASSERT_TRUE(ovuiTypeText(main, id, t));
    ovuiPumpUntilIdle();
}

void EditorTest::select(int id, int index) {
    ASSERT_TRUE(ovuiSelect(main, id, index));
    ovuiPumpUntilIdle();
}

void EditorTest::choose(int id, int index) {
    ovListSetCurSel(main, id, -1);
    select(id, index);
}

void EditorTest::selectTree(HTREEITEM item) {
    ASSERT_TRUE(ovuiTreeSelect(main, IdcAreaTree, item));
    ovuiPumpUntilIdle();
}

std::string EditorTest::text(int id) {
    char buf[1024] = {};
    ovGetDlgItemText(main, id, buf, sizeof buf);
    return buf;
}

bool EditorTest::enabled(int id) {
    return ovIsDlgItemEnabled(main, id) != FALSE;
}

std::vector<std::string> EditorTest::listTexts(int id) {
    std::vector<std::string> out;
    int n = ovListGetCount(main, id);
    for (int i = 0; i < n; ++i) {
        char buf[300] = {};
        ovListGetText(main, id, i, buf, sizeof buf);
        out.emplace_back(buf);
    }
    return out;
}

int EditorTest::listSelection(int id) {
    return ovListGetCurSel(main, id);
}

HTREEITEM EditorTest::treeItemOf(uint32_t id) {
    std::vector<HTREEITEM> pending{0};
    while (!pending.empty()) {
        HTREEITEM item = pending.back();
        pending.pop_back();
        if (item != 0 && uint32_t(ovTreeGetItemData(main, IdcAreaTree, item)) == id) return item;
        for (HTREEITEM c = ovTreeGetChild(main, IdcAreaTree, item); c != 0;
             c = ovTreeGetNextSibling(main, IdcAreaTree, c))
            pending.push_back(c);
    }
    return 0;
}

nlohmann::json EditorTest::windowJson(HWND wnd) {
    nlohmann::json all = nlohmann::json::parse(ovuiSnapshotJson());
    for (auto& w : all["windows"])
        if (w["id"].get<uint64_t>() == reinterpret_cast<uintptr_t>(wnd)) return w;
    return nullptr;
}

bool EditorTest::clickAndAnswer(int id, int templateId, const std::function<void(HWND)>& answer) {
    return clickAndAnswer(id, {{templateId, answer}});
}

bool EditorTest::clickAndAnswer(int id, const std::vector<ovtest::ModalAnswer>& answers) {
    return ovtest::answerModals([&] { EXPECT_TRUE(ovuiClick(main, id)); }, answers);
}

std::string EditorTest::answerBox(const std::function<bool()>& input, int answer) {
    std::string text;
    bool shown = ovtest::answerModal([&] { EXPECT_TRUE(input()); }, OVUI_TEMPLATE_MESSAGEBOX,
                                     [&](HWND box) {
                                         text = windowJson(box)["messageBox"]["text"];
                                         ovuiMessageBoxAnswer(box, answer);
                                     });
    return shown ? text : std::string();
}

std::vector<std::string> EditorTest::answerBoxes(const std::function<bool()>& input,
                                                 const std::vector<int>& answers) {
    std::vector<std::string> texts(answers.size());
    std::vector<ovtest::ModalAnswer> steps;
    for (size_t i = 0; i < answers.size(); ++i)
        steps.push_back({OVUI_TEMPLATE_MESSAGEBOX, [&texts, &answers, i, this](HWND box) {
                             texts[i] = windowJson(box)["messageBox"]["text"];
                             ovuiMessageBoxAnswer(box, answers[i]);
                         }});
    EXPECT_TRUE(ovtest::answerModals([&] { EXPECT_TRUE(input()); }, steps));
    return texts;
}

std::vector<std::string> EditorTest::clickAnswering(int id, const std::vector<int>& answers) {
    return answerBoxes([&] { return ovuiClick(main, id); }, answers);
}

std::vector<std::pair<std::string, std::string>> EditorTest::messageBoxes() {
    std::vector<std::pair<std::string, std::string>> shown;
    for (const auto& box : boxLog->all())
        shown.emplace_back(box.caption, box.text);
    return shown;
}
