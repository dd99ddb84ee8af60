// The main window (template 118) on this thread, with a procedure that routes its commands to
// the editors as the real window does, and helpers to drive it and answer its modal dialogs.
#pragma once

#include "support/test_support.h"
#include "support/ui_driver.h"

#include "ovui.h"
#include "ovui_driver.h"

#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

class EditorTest : public ovtest::WorkDirTest {
protected:
    void SetUp() override;
    void TearDown() override;

    // Opens the main window; tests prepare files first. With `real`, the server's own window
    // procedure runs it (without listener and telephony), else a procedure that routes only
    // the editors' controls.
    void openMainWindow(bool real = false);

    // Input to the main window, run to completion.
    void click(int id);
    void type(int id, const std::string& text);
    void select(int id, int index);
    // As select, also when the entry is already selected (the runtime reports only changes).
    void choose(int id, int index);
    void selectTree(HTREEITEM item);

    std::string text(int id);
    bool enabled(int id);
    std::vector<std::string> listTexts(int id);
    int listSelection(int id);
    // The tree item that shows area `id`, or 0.
    HTREEITEM treeItemOf(uint32_t id);
    nlohmann::json windowJson(HWND wnd);

    // Clicks `id` and answers the modal window made from `templateId` (ovtest::answerModal).
    bool clickAndAnswer(int id, int templateId, const std::function<void(HWND)>& answer);
    bool clickAndAnswer(int id, const std::vector<ovtest::ModalAnswer>& answers);

    // Queues `input` (ovuiClick, ovuiSelect, ovuiTreeSelect... on the main window) and answers
    // the message box it shows with `answer` (IDYES, IDNO, IDCANCEL); the box's text, or ""
    // when none came.
    std::string answerBox(const std::function<bool()>& input, int answer);
    std::string clickAnswering(int id, int answer) {
        return answerBox([&] { return ovuiClick(main, id); }, answer);
    }
    // The same for several boxes shown one after the other; their texts, as far as they came.
    // The same for several message boxes in a row, answered in order; their texts.
    std::vector<std::string> answerBoxes(const std::function<bool()>& input,
                                         const std::vector<int>& answers);
    std::vector<std::string> clickAnswering(int id, const std::vector<int>& answers);

    // Message boxes shown so far: (caption, text).
    std::vector<std::pair<std::string, std::string>> messageBoxes();

    HWND main = nullptr;

private:
    std::optional<ovtest::MessageBoxLog> boxLog;
};

// Waits on a non-UI thread until the snapshot says so (bounded).
bool waitForWindowState(const std::function<bool()>& cond);
