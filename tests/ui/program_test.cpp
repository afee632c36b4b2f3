// Program entry's fitting of the frame to the window's DPI, on a window of its own. Under Wine a
// window's DPI is always the system's, so the difference that calls for the fitting is made by
// naming another system DPI than the window has.
#include "ui/program.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "ui/main_window.h"

namespace orvelo::ui {
namespace {

constexpr DWORD WINDOW_STYLE = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;

class FitToWindowDpi : public ::testing::Test {
  protected:
    void SetUp() override {
        // Placed and sized as if for another DPI: centred on (300, 230).
        window = CreateWindowExW(0, L"STATIC", L"", WINDOW_STYLE, 100, 80, 400, 300, nullptr,
                                 nullptr, GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(window, nullptr);
        dpi = std::max<u32>(GetDpiForWindow(window), 96);
    }
    void TearDown() override { DestroyWindow(window); }

    RECT frame() {
        RECT rect{};
        GetWindowRect(window, &rect);
        return rect;
    }

    HWND window = nullptr;
    u32 dpi = 0;
};

TEST_F(FitToWindowDpi, SizesTheFrameForTheClientAreaAtTheWindowsDpiAroundTheSameCentre) {
    fit_to_window_dpi(window, dpi == 96 ? 144 : 96);
    RECT client{};
    GetClientRect(window, &client);
    EXPECT_EQ(client.right, scaled(dpi, CLIENT_WIDTH));
    EXPECT_EQ(client.bottom, scaled(dpi, CLIENT_HEIGHT));
    const RECT after = frame();
    // The centre moves by less than a pixel: the halves of odd sizes are truncated.
    EXPECT_LE(std::abs((after.left + after.right) - 600), 1);
    EXPECT_LE(std::abs((after.top + after.bottom) - 460), 1);
    EXPECT_EQ(window_dpi, dpi);
}

TEST_F(FitToWindowDpi, LeavesAWindowAtTheSystemDpiAlone) {
    fit_to_window_dpi(window, dpi);
    const RECT after = frame();
    EXPECT_EQ(after.left, 100);
    EXPECT_EQ(after.top, 80);
    EXPECT_EQ(after.right - after.left, 400);
    EXPECT_EQ(after.bottom - after.top, 300);
}

}  // namespace
}  // namespace orvelo::ui
