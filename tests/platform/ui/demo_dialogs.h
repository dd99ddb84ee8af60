// A small set of demo dialogs exercising every control kind, with a procedure that records
// the messages it receives.
#pragma once

#include "ovui.h"
#include "ovui_driver.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace demo {

enum : int {
    kTemplate = 500,
    kLevel1 = 501,
    kLevel2 = 502,
    kLevel3 = 503,
    kName = 101,
    kNumber = 102,
    kUpper = 103,
    kLower = 104,
    kReadOnly = 105,
    kPassword = 106,
    kCheck = 110,
    kSortedList = 120,
    kPlainList = 121,
    kCombo = 130,
    kTree = 140,
    kListView = 150,
    kBitmap = 160,
    kIcon = 161,
    kApply = 170,
    kDisabledButton = 171,
    kOpenNested = 180,
    kMenuOpen = 200,
    kMenuExit = 201,
    kMenuCheck = 210,
    kMenuGrey = 211,
    kMenuDeep = 220,
};

struct Event {
    HWND wnd = nullptr;
    UINT msg = 0;
    int id = 0;   // WM_COMMAND / WM_NOTIFY: control id; WM_TIMER: timer id
    int code = 0; // notification code
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    uintptr_t oldItem = 0, newItem = 0; // TVN_SELCHANGED items, LVN_ITEMCHANGED row in newItem
    LPARAM oldData = 0, newData = 0;
    UINT action = 0;
};

extern const OvDialogTemplate kDemo;
extern const OvDialogTemplate kNested[3];

INT_PTR demoProc(HWND dlg, UINT msg, WPARAM wParam, LPARAM lParam);
INT_PTR nestedProc(HWND dlg, UINT msg, WPARAM wParam, LPARAM lParam);

std::vector<Event> events();
std::vector<Event> eventsOf(UINT msg);
void clearEvents();
// Results of the nested modal dialogs, innermost first.
std::vector<INT_PTR> nestedResults();

// Every test runs on the process's main thread, which is the UI thread.
class UiTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(ovInitialize());
        ASSERT_TRUE(ovIsUiThread());
        clearEvents();
    }
    void TearDown() override {
        ovuiPumpUntilIdle();
        ovuiResetForTests();
        clearEvents();
    }
};

nlohmann::json snapshot();
nlohmann::json windowJson(HWND wnd);
nlohmann::json controlJson(HWND wnd, int id);

} // namespace demo
