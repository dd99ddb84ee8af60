// The area and extension editor: the tree, the shown area's fields, its extensions and the
// instance dialog.
#include "editor_fixture.h"

#include "plugin_test_support.h"
#include "server/areas/area_tree.h"
#include "server/plugins/plugin_registry.h"
#include "server/sysop/area_editor.h"
#include "server/sysop/id_map.h"
#include "server/sysop/main_window_resources.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <functional>
#include <thread>
#include <tuple>

namespace {

constexpr int InstanceDialog = 122;
constexpr int NameEdit = 1048;
constexpr int ArgsEdit = 1049;

class AreaEditor : public EditorTest {
protected:
    uint32_t addArea(uint32_t parent, const char* title, uint16_t minAccess = 0,
                     uint16_t maxAccess = 65535) {
        AreaRecord area;
        EXPECT_TRUE(addSubArea(parent, area));
        std::snprintf(area.title, sizeof area.title, "%s", title);
        area.minAccess = minAccess;
        area.maxAccess = maxAccess;
        EXPECT_TRUE(putArea(area.id, area));
        return area.id;
    }

    AreaRecord stored(uint32_t id) {
        AreaRecord area;
        EXPECT_TRUE(getArea(id, area));
        return area;
    }

    void setExtensions(uint32_t id,
                       std::vector<std::tuple<uint32_t, std::string, std::string>> ext) {
        AreaRecord area = stored(id);
        area.extensionCount = uint16_t(ext.size());
        for (size_t i = 0; i < ext.size(); ++i) {
            area.extensionPluginIds[i] = std::get<0>(ext[i]);
            std::snprintf(area.extensionNames[i], 32, "%s", std::get<1>(ext[i]).c_str());
            std::snprintf(area.extensionArgs[i], 64, "%s", std::get<2>(ext[i]).c_str());
        }
        ASSERT_TRUE(putArea(id, area));
    }

    // Installs the recording test plug-in once more; the window lists and selects it.
    uint32_t installRecorder() {
        EXPECT_TRUE(installPlugin(recorder.path().c_str(), &nextMenuCommandId));
        ovuiPumpUntilIdle();
        int index = listSelection(IdcPluginList);
        choose(IdcPluginList, index); // as the sysop would, which sets the buttons
        return uint32_t(ovListGetItemData(main, IdcPluginList, index));
    }

    void showArea(uint32_t id) {
        HTREEITEM item = treeItemOf(id);
        ASSERT_NE(item, 0u);
        selectTree(item);
        ASSERT_EQ(text(IdcAreaId), [&] {
            char t[16];
            std::snprintf(t, sizeof t, "%08x", id);
            return std::string(t);
        }());
    }

    // Opens "Edit..." for extension p and answers the dialog with `answer`.
    void editExtension(int p, const std::function<void(HWND)>& answer) {
        select(IdcExtensionList, p);
        ASSERT_TRUE(clickAndAnswer(IdcEditExtension, InstanceDialog, answer));
    }

    std::string dialogText(HWND dlg, int id) {
        char buf[128] = {};
        ovGetDlgItemText(dlg, id, buf, sizeof buf);
        return buf;
    }

    TestPlugin recorder{"ovtest_recorder.so"};
};

TEST_F(AreaEditor, TreeShowsEveryAreaUnderItsParentDepthFirst) {
    uint32_t a = addArea(0, "Games");
    uint32_t b = addArea(0, "Files");
    uint32_t c = addArea(a, "Chess");
    openMainWindow();
    HTREEITEM root = ovTreeGetChild(main, IdcAreaTree, 0);
    ASSERT_NE(root, 0u);
    EXPECT_EQ(ovTreeGetNextSibling(main, IdcAreaTree, root), 0u);
    char title[64];
    ovTreeGetItemText(main, IdcAreaTree, root, title, sizeof title);
    EXPECT_STREQ(title, "New area");
    HTREEITEM games = ovTreeGetChild(main, IdcAreaTree, root);
    EXPECT_EQ(ovTreeGetItemData(main, IdcAreaTree, games), LPARAM(a));
    HTREEITEM files = ovTreeGetNextSibling(main, IdcAreaTree, games);
    EXPECT_EQ(ovTreeGetItemData(main, IdcAreaTree, files), LPARAM(b));
    HTREEITEM chess = ovTreeGetChild(main, IdcAreaTree, games);
    EXPECT_EQ(ovTreeGetItemData(main, IdcAreaTree, chess), LPARAM(c));
    // Items are inserted in depth-first order.
    EXPECT_LT(games, chess);
    EXPECT_LT(chess, files);
    EXPECT_EQ(ovTreeGetCount(main, IdcAreaTree), 4);

    // Nothing is shown yet, so a new sub-area has no parent.
    click(IdcNewSubArea);
    AreaRecord none;
    EXPECT_FALSE(getArea(c + 1, none));
    EXPECT_EQ(ovTreeGetCount(main, IdcAreaTree), 4);
}

TEST_F(AreaEditor, CyclesAndSharedSubAreasInADamagedFileAreShownOnce) {
    freeAreaTree();
    // Root lists 1; 1 lists the root, 2 and itself; 2 lists 1 and 3; 3 is also listed by 1.
    auto rec = [](uint32_t id, uint32_t parent, std::vector<uint32_t> children) {
        AreaRecord area;
        area.id = id;
        area.parentId = parent;
        area.childCount = uint16_t(children.size());
        for (size_t i = 0; i < children.size(); ++i)
            area.childIds[i] = children[i];
        std::snprintf(area.title, sizeof area.title, "Area %u", id);
        uint8_t bytes[AreaRecordSize];
        encodeAreaRecord(area, bytes);
        return std::string(reinterpret_cast<char*>(bytes), AreaRecordSize);
    };
    ovtest::writeFile(AreaFile, rec(0, 0, {1}) + rec(1, 0, {0, 2, 1, 3, 77}) + rec(2, 1, {1, 3}) +
                                    rec(3, 1, {}));
    ASSERT_TRUE(loadAreaTree());
    openMainWindow();
    EXPECT_EQ(ovTreeGetCount(main, IdcAreaTree), 4);
    for (uint32_t id = 0; id < 4; ++id)
        EXPECT_NE(treeItemOf(id), 0u) << id;
    EXPECT_EQ(ovTreeGetParent(main, IdcAreaTree, treeItemOf(3)), treeItemOf(1));
}

TEST_F(AreaEditor, ALongChainOfAreasIsFilledWithoutRecursion) {
    uint32_t parent = 0;
    freeAreaTree();
    std::string file;
    constexpr uint32_t Depth = 3000;
    for (uint32_t id = 0; id < Depth; ++id) {
        AreaRecord area;
        area.id = id;
        area.parentId = parent;
        if (id + 1 < Depth) {
            area.childCount = 1;
            area.childIds[0] = id + 1;
        }
        parent = id;
        uint8_t bytes[AreaRecordSize];
        encodeAreaRecord(area, bytes);
        file.append(reinterpret_cast<char*>(bytes), AreaRecordSize);
    }
    ovtest::writeFile(AreaFile, file);
    ASSERT_TRUE(loadAreaTree());
    openMainWindow();
    EXPECT_EQ(ovTreeGetCount(main, IdcAreaTree), int(Depth));
    EXPECT_EQ(ovTreeGetParent(main, IdcAreaTree, treeItemOf(Depth - 1)), treeItemOf(Depth - 2));
}

TEST_F(AreaEditor, WithoutMapPagesSubAreasGoToTheRootLevel) {
    uint32_t a = addArea(0, "Games");
    uint32_t c = addArea(a, "Chess");
    failIdMapAllocationsForTests(1000);
    openMainWindow();
    failIdMapAllocationsForTests(0);
    HTREEITEM root = treeItemOf(0);
    EXPECT_EQ(ovTreeGetParent(main, IdcAreaTree, root), 0u);
    EXPECT_EQ(ovTreeGetParent(main, IdcAreaTree, treeItemOf(a)), 0u);
    EXPECT_EQ(ovTreeGetParent(main, IdcAreaTree, treeItemOf(c)), 0u);
    EXPECT_EQ(ovTreeGetCount(main, IdcAreaTree), 3);
}

TEST_F(AreaEditor, SelectingAnAreaShowsItsFields) {
    uint32_t a = addArea(0, "Games", 10, 200);
    openMainWindow();
    selectTree(treeItemOf(0));
    EXPECT_EQ(text(IdcAreaId), "00000000");
    EXPECT_EQ(text(IdcAreaTitle), "New area");
    EXPECT_EQ(text(IdcAreaMinAccess), "0");
    EXPECT_EQ(text(IdcAreaMaxAccess), "65535");
    EXPECT_FALSE(enabled(IdcDeleteArea));
    click(IdcDeleteArea); // disabled: ignored
    EXPECT_EQ(ovTreeGetCount(main, IdcAreaTree), 2);

    showArea(a);
    EXPECT_EQ(text(IdcAreaTitle), "Games");
    EXPECT_EQ(text(IdcAreaMinAccess), "10");
    EXPECT_EQ(text(IdcAreaMaxAccess), "200");
    EXPECT_TRUE(enabled(IdcDeleteArea));
}

TEST_F(AreaEditor, SaveRefusesAccessOutOfRangeAndKeepsThirtyTitleCharacters) {
    uint32_t a = addArea(0, "Games", 10, 200);
    AreaRecord area = stored(a);
    std::memset(area.title, 'T', 31);
    ASSERT_TRUE(putArea(a, area));
    openMainWindow();
    showArea(a);
    EXPECT_EQ(text(IdcAreaTitle), std::string(31, 'T'));
    auto refused = [&](const char* min, const char* max) {
        type(IdcAreaMinAccess, min);
        type(IdcAreaMaxAccess, max);
        EXPECT_TRUE(clickAndAnswer(IdcSaveArea, OVUI_TEMPLATE_MESSAGEBOX,
                                   [](HWND box) { ovuiMessageBoxAnswer(box, IDOK); }));
        EXPECT_EQ(stored(a).minAccess, 10);
        EXPECT_EQ(stored(a).maxAccess, 200);
        return messageBoxes().empty() ? std::string() : messageBoxes().back().second;
    };
    EXPECT_EQ(refused("", "70000"), "Max. must be a number from 0 to 65535.");
    EXPECT_EQ(refused("99999", "5"), "Min. must be a number from 0 to 65535.");
    EXPECT_EQ(refused("500", "5"), "Min. must be a number from 0 to 5."); // Min. above Max.
    EXPECT_EQ(text(IdcAreaMinAccess), "500"); // the edits stay for the sysop to correct
    type(IdcAreaMaxAccess, "65535");
    type(IdcAreaMinAccess, "");
    click(IdcSaveArea);
    area = stored(a);
    EXPECT_EQ(area.maxAccess, 65535);
    EXPECT_EQ(area.minAccess, 0);
    EXPECT_EQ(std::string(area.title), std::string(30, 'T'));
    char title[64];
    ovTreeGetItemText(main, IdcAreaTree, treeItemOf(a), title, sizeof title);
    EXPECT_EQ(std::string(title), std::string(30, 'T'));

    // Cancel shows what is stored.
    type(IdcAreaMinAccess, "5");
    type(IdcAreaMaxAccess, "5");
    type(IdcAreaTitle, "Renamed");
    click(IdcSaveArea);
    type(IdcAreaTitle, "Not saved");
    click(IdcCancelArea);
    EXPECT_EQ(text(IdcAreaTitle), "Renamed");
    EXPECT_EQ(stored(a).minAccess, 5);
    EXPECT_EQ(stored(a).maxAccess, 5);
}

TEST_F(AreaEditor, NewSubAreaIsInsertedSelectedAndFocused) {
    uint32_t a = addArea(0, "Games");
    openMainWindow();
    showArea(a);
    click(IdcNewSubArea);
    AreaRecord added;
    uint32_t id = a + 1;
    ASSERT_TRUE(getArea(id, added));
    EXPECT_EQ(added.parentId, a);
    HTREEITEM item = treeItemOf(id);
    ASSERT_NE(item, 0u);
    EXPECT_EQ(ovTreeGetParent(main, IdcAreaTree, item), treeItemOf(a));
    EXPECT_EQ(ovTreeGetSelection(main, IdcAreaTree), item);
    EXPECT_EQ(text(IdcAreaId), "00000002");
    EXPECT_EQ(text(IdcAreaTitle), "New area");
    EXPECT_EQ(ovGetFocus(main), IdcAreaTree);

    // A full parent takes no tenth sub-area.
    showArea(a);
    for (int i = 1; i < 9; ++i) {
        click(IdcNewSubArea);
        showArea(a);
    }
    EXPECT_EQ(stored(a).childCount, 9);
    int before = ovTreeGetCount(main, IdcAreaTree);
    click(IdcNewSubArea);
    EXPECT_EQ(ovTreeGetCount(main, IdcAreaTree), before);
    EXPECT_EQ(stored(a).childCount, 9);
}

TEST_F(AreaEditor, DeleteAsksNamingTheSubAreasThenRemovesTheSubtree) {
    uint32_t a = addArea(0, "Games");
    uint32_t b = addArea(0, "Files");
    uint32_t c = addArea(a, "Chess");
    uint32_t d = addArea(c, "Openings");
    openMainWindow();
    showArea(a);
    const std::string question = "Delete the area \"Games\" and its 2 sub-areas?";
    EXPECT_EQ(clickAnswering(IdcDeleteArea, IDNO), question);
    EXPECT_NE(treeItemOf(d), 0u);
    EXPECT_EQ(stored(0).childCount, 2);
    EXPECT_EQ(clickAnswering(IdcDeleteArea, IDYES), question);
    EXPECT_EQ(treeItemOf(a), 0u);
    EXPECT_EQ(treeItemOf(c), 0u);
    EXPECT_EQ(treeItemOf(d), 0u);
    EXPECT_EQ(stored(0).childCount, 1);
    EXPECT_EQ(stored(a).title[0], '\0'); // a blank record keeps the slot
    // The selection moved to the next sibling, which is shown.
    EXPECT_EQ(ovTreeGetSelection(main, IdcAreaTree), treeItemOf(b));
    EXPECT_EQ(text(IdcAreaTitle), "Files");
    EXPECT_EQ(clickAnswering(IdcDeleteArea, IDYES), "Delete the area \"Files\"?");
    EXPECT_EQ(messageBoxes().size(), 3u);
}

TEST_F(AreaEditor, UnsavedEditsAskBeforeAnotherAreaIsShown) {
    uint32_t a = addArea(0, "Games");
    uint32_t b = addArea(0, "Files");
    openMainWindow();
    showArea(a);
    const std::string question = "Save the changes to this area?";
    auto pick = [&](uint32_t id, int answer) {
        HTREEITEM item = treeItemOf(id);
        return answerBox([&] { return ovuiTreeSelect(main, IdcAreaTree, item); }, answer);
    };
    type(IdcAreaTitle, "Arcade");
    // Cancel stays on the area with the edits.
    EXPECT_EQ(pick(b, IDCANCEL), question);
    EXPECT_EQ(ovTreeGetSelection(main, IdcAreaTree), treeItemOf(a));
    EXPECT_EQ(text(IdcAreaTitle), "Arcade");
    EXPECT_EQ(text(IdcAreaId), "00000001");
    // Save with a refused number stays too.
    type(IdcAreaMaxAccess, "99999");
    HTREEITEM files = treeItemOf(b);
    std::vector<std::string> texts =
        answerBoxes([&] { return ovuiTreeSelect(main, IdcAreaTree, files); }, {IDYES, IDOK});
    EXPECT_EQ(texts,
              (std::vector<std::string>{question, "Max. must be a number from 0 to 65535."}));
    EXPECT_EQ(ovTreeGetSelection(main, IdcAreaTree), treeItemOf(a));
    EXPECT_STREQ(stored(a).title, "Games");
    // Save stores them, then shows the other area.
    type(IdcAreaMaxAccess, "500");
    EXPECT_EQ(pick(b, IDYES), question);
    EXPECT_STREQ(stored(a).title, "Arcade");
    EXPECT_EQ(stored(a).maxAccess, 500);
    EXPECT_EQ(text(IdcAreaTitle), "Files");
    // Discard throws them away.
    type(IdcAreaTitle, "Not kept");
    EXPECT_EQ(pick(a, IDNO), question);
    EXPECT_EQ(text(IdcAreaTitle), "Arcade");
    EXPECT_STREQ(stored(b).title, "Files");
    // Without edits nothing is asked.
    showArea(b);
    EXPECT_EQ(messageBoxes().size(), 5u);
}

TEST_F(AreaEditor, DeletingAnAreaWhileCallersReadItIsSafe) {
    uint32_t a = addArea(0, "Games");
    openMainWindow();
    showArea(a);
    std::atomic<bool> stop{false};
    std::atomic<int> reads{0};
    std::thread caller([&] {
        while (!stop) {
            AreaRecord area;
            if (getArea(a, area)) {
                // Each copy is whole: the old area or the blank one.
                EXPECT_TRUE(std::string(area.title) == "Games" || area.title[0] == '\0');
                ++reads;
            }
        }
    });
    ASSERT_TRUE(ovtest::waitUntil([&] { return reads.load() > 10; }));
    EXPECT_EQ(clickAnswering(IdcDeleteArea, IDYES), "Delete the area \"Games\"?");
    stop = true;
    caller.join();
    EXPECT_EQ(stored(a).title[0], '\0');
    EXPECT_EQ(treeItemOf(a), 0u);
}

TEST_F(AreaEditor, EditDescriptionOpensTheEditorOnTheAreasFile) {
    uint32_t a = addArea(0, "Games");
    openMainWindow();
    click(IdcEditDescription); // nothing selected: nothing happens
    EXPECT_EQ(ovuiFindWindowByTemplate(OVUI_TEMPLATE_EDITOR), nullptr);
    showArea(a);
    click(IdcEditDescription);
    HWND editor = ovuiFindWindowByTemplate(OVUI_TEMPLATE_EDITOR);
    ASSERT_NE(editor, nullptr);
    EXPECT_TRUE(ovtest::fileExists("area/00000001.txt"));
    EXPECT_NE(windowJson(editor)["editor"]["file"].get<std::string>().find("area/00000001.txt"),
              std::string::npos);
}

TEST_F(AreaEditor, AddedExtensionsAreSavedAndATenthIsNot) {
    ASSERT_TRUE(recorder.ok());
    uint32_t a = addArea(0, "Games");
    openMainWindow();
    uint32_t pid = installRecorder();
    showArea(a);
    EXPECT_FALSE(enabled(IdcEditExtension));
    EXPECT_FALSE(enabled(IdcRemoveExtension));
    EXPECT_TRUE(enabled(IdcAddToArea));
    for (int i = 0; i < 10; ++i)
        click(IdcAddToArea);
    EXPECT_EQ(listTexts(IdcExtensionList).size(), 10u);
    EXPECT_TRUE(enabled(IdcEditExtension));
    EXPECT_TRUE(enabled(IdcRemoveExtension));
    EXPECT_EQ(stored(a).extensionCount, 0); // nothing is stored before "Save changes"
    click(IdcSaveArea);
    AreaRecord area = stored(a);
    ASSERT_EQ(area.extensionCount, 9);
    for (int k = 0; k < 9; ++k) {
        EXPECT_EQ(area.extensionPluginIds[k], pid);
        EXPECT_STREQ(area.extensionNames[k], "Recorder");
        EXPECT_STREQ(area.extensionArgs[k], "");
    }
    // The tenth entry has no values: "Edit..." does nothing for it.
    select(IdcExtensionList, 9);
    click(IdcEditExtension);
    EXPECT_EQ(ovuiFindWindowByTemplate(InstanceDialog), nullptr);
}

TEST_F(AreaEditor, ExtensionsOfUninstalledPluginsShowAsMissingAndCanBeRemoved) {
    uint32_t a = addArea(0, "Games");
    openMainWindow();
    uint32_t pid = installRecorder();
    setExtensions(a, {{pid + 40, "Gone", "old"}, {pid, "Second", "two"}});
    showArea(a);
    EXPECT_EQ(listTexts(IdcExtensionList),
              (std::vector<std::string>{"Gone (missing)", "Second (Recorder)"}));
    EXPECT_EQ(ovListGetItemData(main, IdcExtensionList, 1), LPARAM(pid));
    std::string name, args;
    editExtension(1, [&](HWND dlg) {
        name = dialogText(dlg, NameEdit);
        args = dialogText(dlg, ArgsEdit);
        ovuiClick(dlg, IDCANCEL);
    });
    EXPECT_EQ(name, "Second");
    EXPECT_EQ(args, "two");
    click(IdcSaveArea);
    EXPECT_EQ(stored(a).extensionCount, 2); // kept until the sysop removes it
    select(IdcExtensionList, 0);
    click(IdcRemoveExtension);
    click(IdcSaveArea);
    AreaRecord area = stored(a);
    EXPECT_EQ(area.extensionCount, 1);
    EXPECT_EQ(area.extensionPluginIds[0], pid);
    EXPECT_STREQ(area.extensionNames[0], "Second");
    EXPECT_STREQ(area.extensionArgs[0], "two");
}

TEST_F(AreaEditor, UninstallKeepingTheEntriesMarksThemMissing) {
    uint32_t a = addArea(0, "Games");
    uint32_t b = addArea(0, "Files");
    openMainWindow();
    uint32_t pid = installRecorder();
    setExtensions(a, {{pid, "Read the rules", "rules.txt"}, {pid, "Recorder", ""}});
    setExtensions(b, {{pid, "Memo", ""}});
    showArea(a);
    EXPECT_EQ(listTexts(IdcExtensionList),
              (std::vector<std::string>{"Read the rules (Recorder)", "Recorder"}));
    // A display name changed in the dialog shows at once.
    editExtension(1, [&](HWND dlg) {
        ovuiTypeText(dlg, NameEdit, "Second one");
        ovuiClick(dlg, IDOK);
    });
    EXPECT_EQ(listTexts(IdcExtensionList),
              (std::vector<std::string>{"Read the rules (Recorder)", "Second one (Recorder)"}));
    EXPECT_EQ(listSelection(IdcExtensionList), 1);
    click(IdcCancelArea);
    choose(IdcPluginList, 0);
    // Cancel keeps the plug-in; No uninstalls it and leaves the entries.
    std::string question = clickAnswering(IdcUninstallPlugin, IDCANCEL);
    EXPECT_EQ(question.substr(0, question.find("\n\n")),
              "Uninstall the plug-in \"Recorder\"?\nIt is still used in: Games, Files.");
    EXPECT_EQ(listTexts(IdcPluginList).size(), 1u);
    EXPECT_EQ(clickAnswering(IdcUninstallPlugin, IDNO), question);
    EXPECT_TRUE(listTexts(IdcPluginList).empty());
    EXPECT_EQ(listTexts(IdcExtensionList),
              (std::vector<std::string>{"Read the rules (missing)", "Recorder (missing)"}));
    EXPECT_EQ(stored(a).extensionCount, 2);
    EXPECT_EQ(stored(b).extensionCount, 1);
    showArea(b);
    EXPECT_EQ(listTexts(IdcExtensionList), (std::vector<std::string>{"Memo (missing)"}));
}

TEST_F(AreaEditor, RemovingTheSecondUseOfAPluginKeepsTheFirst) {
    uint32_t a = addArea(0, "Games");
    openMainWindow();
    uint32_t pid = installRecorder();
    setExtensions(a, {{pid, "First", "one"}, {pid, "Second", "two"}, {pid, "Third", "three"}});
    showArea(a);
    select(IdcExtensionList, 1);
    click(IdcRemoveExtension);
    EXPECT_EQ(listTexts(IdcExtensionList).size(), 2u);
    click(IdcSaveArea);
    AreaRecord area = stored(a);
    ASSERT_EQ(area.extensionCount, 2);
    EXPECT_STREQ(area.extensionNames[0], "First");
    EXPECT_STREQ(area.extensionArgs[0], "one");
    EXPECT_STREQ(area.extensionNames[1], "Third");
    EXPECT_STREQ(area.extensionArgs[1], "three");

    // Removing everything disables "Edit..." and "Remove"; without a selection nothing happens.
    click(IdcRemoveExtension);
    EXPECT_EQ(listTexts(IdcExtensionList).size(), 2u);
    select(IdcExtensionList, 0);
    click(IdcRemoveExtension);
    select(IdcExtensionList, 0);
    click(IdcRemoveExtension);
    EXPECT_FALSE(enabled(IdcEditExtension));
    EXPECT_FALSE(enabled(IdcRemoveExtension));
}

TEST_F(AreaEditor, CancelAfterAddingAndRemovingShowsTheStoredExtensions) {
    uint32_t a = addArea(0, "Games");
    openMainWindow();
    uint32_t pid = installRecorder();
    setExtensions(a, {{pid, "First", "one"}});
    showArea(a);
    click(IdcAddToArea);
    select(IdcExtensionList, 0);
    click(IdcRemoveExtension);
    EXPECT_EQ(listTexts(IdcExtensionList).size(), 1u);
    click(IdcCancelArea);
    EXPECT_EQ(listTexts(IdcExtensionList), (std::vector<std::string>{"First (Recorder)"}));
    std::string name;
    editExtension(0, [&](HWND dlg) {
        name = dialogText(dlg, NameEdit);
        ovuiCloseBox(dlg);
    });
    EXPECT_EQ(name, "First");
    EXPECT_EQ(stored(a).extensionCount, 1);
}

TEST_F(AreaEditor, InstanceDialogCutsOnOkAndKeepsValuesOnCancel) {
    uint32_t a = addArea(0, "Games");
    openMainWindow();
    uint32_t pid = installRecorder();
    setExtensions(a, {{pid, "First", "one"}, {pid, "Second", "two"}});
    showArea(a);
    editExtension(1, [&](HWND dlg) {
        auto j = windowJson(dlg);
        EXPECT_EQ(j["title"], "Edit plug-in properties");
        EXPECT_EQ(j["owner"].get<uint64_t>(), reinterpret_cast<uintptr_t>(main));
        std::vector<std::string> texts;
        for (auto& c : j["controls"])
            texts.push_back(c["text"].get<std::string>());
        for (const char* expected :
             {"Display name (seen by users)", "Arguments to plug-in (may be blank)", "Information",
              "These values only apply to the selected instance of the plug-in, in this area "
              "only.  If the plug-in is used in other areas, or more than once in this area, each "
              "instance is configured independently.",
              "OK", "Cancel"})
            EXPECT_NE(std::find(texts.begin(), texts.end(), expected), texts.end()) << expected;
        ovuiTypeText(dlg, NameEdit, std::string(40, 'n'));
        ovuiTypeText(dlg, ArgsEdit, std::string(80, 'a'));
        ovuiClick(dlg, IDOK);
    });
    editExtension(0, [&](HWND dlg) {
        ovuiTypeText(dlg, NameEdit, "Changed");
        ovuiClick(dlg, IDCANCEL);
    });
    editExtension(0, [&](HWND dlg) {
        ovuiTypeText(dlg, NameEdit, "Changed");
        ovuiKey(dlg, "escape");
    });
    EXPECT_EQ(stored(a).extensionNames[1], std::string("Second")); // not before the save
    click(IdcSaveArea);
    AreaRecord area = stored(a);
    EXPECT_STREQ(area.extensionNames[0], "First");
    EXPECT_STREQ(area.extensionArgs[0], "one");
    EXPECT_EQ(std::string(area.extensionNames[1]), std::string(31, 'n'));
    EXPECT_EQ(std::string(area.extensionArgs[1]), std::string(63, 'a'));

    // Without a selected extension "Edit..." does nothing.
    click(IdcCancelArea);
    click(IdcEditExtension);
    EXPECT_EQ(ovuiFindWindowByTemplate(InstanceDialog), nullptr);
}

} // namespace
