// The text colours of the static controls, with the high-contrast theme off and on, through the
// window's own WM_CTLCOLORSTATIC step on a real device context.
#include <gtest/gtest.h>
#include <windows.h>

#include "ui/main_window.h"

namespace orvelo::ui {
namespace {

constexpr COLORREF GREY = RGB(96, 96, 96);

class StaticColours : public ::testing::Test {
  protected:
    void SetUp() override {
        parent_ = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 10, 10, nullptr, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(parent_, nullptr);
        // Only the handles matter to the colour step: it compares the asking control with them.
        ControlSet set;
        set.title_label = make_control(parent_, "STATIC", "title", SS_NOPREFIX, 0);
        set.intro_label = make_control(parent_, "STATIC", "intro", SS_NOPREFIX, 0);
        set.drive_label = make_control(parent_, "STATIC", "label", SS_NOPREFIX, 0);
        set.status_label = make_control(parent_, "STATIC", "status", SS_NOPREFIX, 0);
        const std::lock_guard guard(controls_lock);
        controls = set;
        context_ = CreateCompatibleDC(nullptr);
        ASSERT_NE(context_, nullptr);
    }

    void TearDown() override {
        high_contrast = false;
        DeleteDC(context_);
        DestroyWindow(parent_);
    }

    HWND parent_ = nullptr;
    HDC context_ = nullptr;
};

TEST_F(StaticColours, GreyLinesTakeTheWindowTextColourOnlyUnderHighContrast) {
    const COLORREF window_text = GetSysColor(COLOR_WINDOWTEXT);
    ASSERT_NE(window_text, GREY) << "the two colours must differ for the test to tell them apart";
    struct Case {
        bool high_contrast;
        HWND ControlSet::*control;
        COLORREF expected;
    };
    const Case cases[] = {
        {false, &ControlSet::intro_label, GREY},
        {false, &ControlSet::status_label, GREY},
        {false, &ControlSet::title_label, window_text},
        {false, &ControlSet::drive_label, window_text},
        {true, &ControlSet::intro_label, window_text},
        {true, &ControlSet::status_label, window_text},
        {true, &ControlSet::title_label, window_text},
        {true, &ControlSet::drive_label, window_text},
    };
    const ControlSet set = copy_controls();
    for (const Case& c : cases) {
        high_contrast = c.high_contrast;
        SetTextColor(context_, RGB(1, 2, 3));
        SetBkMode(context_, OPAQUE);
        const HBRUSH brush = static_colours(context_, set.*c.control);
        EXPECT_EQ(GetTextColor(context_), c.expected) << "high contrast " << c.high_contrast;
        EXPECT_EQ(GetBkMode(context_), TRANSPARENT);
        EXPECT_EQ(brush, GetSysColorBrush(COLOR_WINDOW));
    }
}

}  // namespace
}  // namespace orvelo::ui
