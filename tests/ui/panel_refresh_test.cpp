// The panel after a change of the system's colours or of the window's DPI, through the window's
// own steps on real windows: every child control is told of new colours, and the painted icon
// is loaded again at its new size instead of being stretched.
#include <gtest/gtest.h>
#include <windows.h>

#include <vector>

#include "icon_width.h"
#include "ui/main_window.h"

namespace orvelo::ui {
namespace {

// The messages each child of the test's parent received, by child.
std::vector<std::pair<HWND, UINT>> received;

LRESULT CALLBACK recording_procedure(HWND window, UINT message, WPARAM w_param, LPARAM l_param) {
    if (message == WM_SYSCOLORCHANGE) {
        received.emplace_back(window, message);
    }
    return DefWindowProcW(window, message, w_param, l_param);
}

class PanelRefresh : public ::testing::Test {
  protected:
    void SetUp() override {
        WNDCLASSEXW recording{};
        recording.cbSize = sizeof recording;
        recording.lpfnWndProc = recording_procedure;
        recording.hInstance = GetModuleHandleW(nullptr);
        recording.lpszClassName = L"OrveloRecordingChild";
        RegisterClassExW(&recording);
        parent_ = CreateWindowExW(0, L"STATIC", L"", WS_CAPTION, 0, 0, 300, 200, nullptr, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(parent_, nullptr);
        received.clear();
    }
    void TearDown() override { DestroyWindow(parent_); }

    HWND parent_ = nullptr;
};

TEST_F(PanelRefresh, ASystemColourChangeReachesEveryChildControl) {
    std::vector<HWND> children;
    for (int i = 0; i < 3; ++i) {
        children.push_back(make_control(parent_, "OrveloRecordingChild", "", 0, 0));
        ASSERT_NE(children.back(), nullptr);
    }
    forward_to_children(parent_, WM_SYSCOLORCHANGE, 0, 0);
    ASSERT_EQ(received.size(), children.size());
    for (std::size_t i = 0; i < children.size(); ++i) {
        EXPECT_EQ(received[i].first, children[i]);
    }
}

TEST_F(PanelRefresh, ADpiChangeLoadsThePaintedIconAtItsNewSize) {
    create_controls(parent_);
    const u32 created_dpi = window_dpi;
    EXPECT_EQ(icon_width(copy_controls().app_icon), scaled(created_dpi, APP_ICON_SIZE));
    for (const u32 dpi : {144u, 120u, 96u}) {
        RECT frame{};
        GetWindowRect(parent_, &frame);
        dpi_changed(parent_, dpi, frame);
        EXPECT_EQ(window_dpi, dpi);
        EXPECT_EQ(icon_width(copy_controls().app_icon), scaled(dpi, APP_ICON_SIZE)) << dpi;
    }
}

}  // namespace
}  // namespace orvelo::ui
