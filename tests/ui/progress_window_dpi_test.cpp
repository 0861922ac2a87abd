// The progress window at a system DPI other than 96, set through the registry of the prefix this
// program runs in (run_at_dpi.sh), with the real GetDpiForSystem: no seam. That prefix is this
// program's alone, so it may also change the system's colours to show a high-contrast theme.
#include <gtest/gtest.h>

#include <cstdlib>
#include <iterator>
#include <string>

#include "harness/test_support.h"
#include "ui/progress_layout_check.h"
#include "ui/progress_window.h"
#include "ui/window_probe.h"

namespace {

// The window mid-download, painted; gives the folder its pictures go to, for review.
std::wstring ShowMidDownloadForReview(ProgressWindow& progress) {
    progress.ShowProgress(52428800, 104857600);
    for (int i = 0; i < 10; ++i) {
        progress.PumpMessages();
        ::Sleep(30);
    }
    const std::wstring folder = test_support::HarnessPath("screenshots");
    ::CreateDirectoryW(folder.c_str(), nullptr);
    return folder;
}

TEST(ProgressWindowAtSystemDpi, WindowControlsAndFontsFollowTheSystemDpi) {
    const char* expected = std::getenv("WEBSETUP_EXPECTED_DPI");
    ASSERT_NE(expected, nullptr) << "run through run_at_dpi.sh";
    const int dpi = std::atoi(expected);
    ASSERT_EQ(static_cast<int>(::GetDpiForSystem()), dpi);

    ProgressWindow progress;
    ASSERT_TRUE(progress.Create(L"2.3.1"));
    RECT frame{};
    ::GetWindowRect(progress.Handle(), &frame);
    EXPECT_EQ(frame.right - frame.left, ::MulDiv(600, dpi, 96));
    EXPECT_EQ(frame.bottom - frame.top, ::MulDiv(340, dpi, 96));
    ExpectLaidOut(progress.Handle(), L"Version 2.3.1  \u2022  Secure online setup", dpi);

    // For review, not a check: the window mid-download at this DPI.
    const std::wstring folder = ShowMidDownloadForReview(progress);
    window_probe::SaveWindowImage(progress.Handle(),
                                  folder + L"\\progress_window_system_" + std::to_wstring(dpi) + L".bmp");
    progress.Destroy();
}

// Wine keeps no high-contrast flag: the window is told the theme is on, and the system's colours are a
// high-contrast black theme's. For review, not a check beyond the colours the labels are given.
BOOL WINAPI HighContrastOn(UINT action, UINT size, PVOID value, UINT flags) {
    if (action != SPI_GETHIGHCONTRAST) {
        return ::SystemParametersInfoW(action, size, value, flags);
    }
    static_cast<HIGHCONTRASTW*>(value)->dwFlags = HCF_HIGHCONTRASTON | HCF_AVAILABLE;
    return TRUE;
}

TEST(ProgressWindowAtSystemDpi, InAHighContrastThemeItDrawsInTheUsersColours) {
    const int elements[] = {COLOR_WINDOW, COLOR_WINDOWTEXT, COLOR_BTNFACE, COLOR_BTNTEXT, COLOR_HIGHLIGHT,
                            COLOR_3DSHADOW, COLOR_3DHILIGHT};
    const COLORREF black[] = {RGB(0, 0, 0),       RGB(255, 255, 255), RGB(0, 0, 0),     RGB(255, 255, 0),
                              RGB(26, 235, 255), RGB(255, 255, 255), RGB(255, 255, 255)};
    ASSERT_TRUE(::SetSysColors(static_cast<int>(std::size(elements)), elements, black));
    ProgressWindow progress;
    ASSERT_TRUE(progress.Create(L"2.3.1", WindowCalls{.systemParametersInfoW = HighContrastOn}));
    const HWND label = ::GetDlgItem(progress.Handle(), kStatusLabelId);
    const HDC dc = ::GetDC(label);
    ::SendMessageW(progress.Handle(), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(label));
    EXPECT_EQ(::GetTextColor(dc), RGB(255, 255, 255));
    ::ReleaseDC(label, dc);
    const std::wstring folder = ShowMidDownloadForReview(progress);
    const std::wstring dpi = std::to_wstring(::GetDpiForSystem());
    EXPECT_TRUE(window_probe::SaveWindowImage(progress.Handle(),
                                              folder + L"\\progress_window_high_contrast_" + dpi + L".bmp"));
    progress.Destroy();
}

}  // namespace
