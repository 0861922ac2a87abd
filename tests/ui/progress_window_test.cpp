// The progress window as a user meets it: real windows on the virtual display, real controls, fonts and
// messages. Only the system DPI and the tick counter are stood in, through the window's own seams.
#include <commctrl.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "harness/test_support.h"
#include "ui/progress.h"
#include "ui/progress_window.h"
#include "ui/progress_layout_check.h"
#include "ui/window_probe.h"

namespace {

using window_probe::ChildrenOf;
using window_probe::Control;
using window_probe::TextOf;

constexpr wchar_t kCancellingButton[] = L"Cancelling\u2026";
constexpr wchar_t kCancellingStatus[] = L"Cancelling download\u2026";
constexpr wchar_t kCancellingDetail[] = L"Removing the partial file safely.";

UINT dpiForTest = 96;
UINT WINAPI DpiForTest() { return dpiForTest; }
const WindowCalls kDpiStandIn = {DpiForTest};

DWORD registrationError = 0;
ATOM WINAPI RefuseClass(const WNDCLASSEXW*) {
    ::SetLastError(registrationError);
    return 0;
}
HWND WINAPI RefuseWindow(DWORD, LPCWSTR, LPCWSTR, DWORD, int, int, int, int, HWND, HMENU, HINSTANCE, LPVOID) {
    ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
}

ULONGLONG tickForTest = 0;
int tickReads = 0;
ULONGLONG WINAPI TickForTest() {
    ++tickReads;
    return tickForTest;
}
const ProgressCalls kTickStandIn = {TickForTest};

// Owns one progress window for a test and always tears it down.
class ShownWindow {
public:
    explicit ShownWindow(const std::wstring& version = L"2.3.1", const WindowCalls& calls = {}) {
        created_ = progress.Create(version, calls);
    }
    ~ShownWindow() { progress.Destroy(); }
    ShownWindow(const ShownWindow&) = delete;
    ShownWindow& operator=(const ShownWindow&) = delete;
    bool created() const { return created_; }
    ProgressWindow progress;

private:
    bool created_ = false;
};

bool QueueHolds(UINT message) {
    MSG msg{};
    return ::PeekMessageW(&msg, nullptr, message, message, PM_NOREMOVE) != FALSE;
}

TEST(ProgressWindow, OpensCentredAt96DpiWithEveryControlInPlace) {
    ASSERT_EQ(::GetDpiForSystem(), 96u) << "the harness prefix runs at the default DPI";
    ShownWindow shown;
    ASSERT_TRUE(shown.created());
    ExpectLaidOut(shown.progress, L"Version 2.3.1  \u2022  Secure online setup", 96);
    EXPECT_FALSE(shown.progress.cancelRequested);
    EXPECT_EQ(shown.progress.lastProgressTick, 0u);
}

TEST(ProgressWindow, ScalesWindowControlsFontsAndIconAt144Dpi) {
    dpiForTest = 144;
    ShownWindow shown(L"2.3.1", kDpiStandIn);
    ASSERT_TRUE(shown.created());
    RECT frame{};
    ::GetWindowRect(shown.progress.window.Get(), &frame);
    EXPECT_EQ(frame.right - frame.left, 900);
    EXPECT_EQ(frame.bottom - frame.top, 510);
    ExpectLaidOut(shown.progress, L"Version 2.3.1  \u2022  Secure online setup", 144);
}

TEST(ProgressWindow, EmptyVersionAndSecondWindowInOneProcess) {
    // The class is registered by the first window of the process; later windows reuse it.
    ShownWindow first(L"");
    ASSERT_TRUE(first.created());
    ShownWindow second(L"10.0.0-beta.1");
    ASSERT_TRUE(second.created());
    EXPECT_EQ(TextOf(ChildrenOf(first.progress.window.Get())[2].handle), L"Version   \u2022  Secure online setup");
    EXPECT_EQ(TextOf(ChildrenOf(second.progress.window.Get())[2].handle),
              L"Version 10.0.0-beta.1  \u2022  Secure online setup");
}

TEST(ProgressWindow, AVersionWithAnAmpersandIsShownAsItIs) {
    // Without SS_NOPREFIX the "&" would vanish and underline the "D" after it.
    ShownWindow shown(L"2.3.1 R&D");
    ASSERT_TRUE(shown.created());
    const HWND label = ChildrenOf(shown.progress.window.Get())[2].handle;
    EXPECT_EQ(TextOf(label), L"Version 2.3.1 R&D  \u2022  Secure online setup");
    EXPECT_TRUE(::GetWindowLongW(label, GWL_STYLE) & SS_NOPREFIX);
}

TEST(ProgressWindow, AClassOrWindowThatCannotBeMadeLeavesTheRecordEmpty) {
    {
        ShownWindow registersTheClass;
        ASSERT_TRUE(registersTheClass.created());
    }
    const struct {
        const char* what;
        WindowCalls calls;
        DWORD error;
        bool created;
    } cases[] = {
        {"class refused", {::GetDpiForSystem, RefuseClass, ::CreateWindowExW}, ERROR_NOT_ENOUGH_MEMORY, false},
        {"class already there", {::GetDpiForSystem, RefuseClass, ::CreateWindowExW}, ERROR_CLASS_ALREADY_EXISTS, true},
        {"window refused", {::GetDpiForSystem, ::RegisterClassExW, RefuseWindow}, 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        registrationError = c.error;
        ShownWindow shown(L"2.3.1", c.calls);
        EXPECT_EQ(shown.created(), c.created);
        if (c.created) {
            continue;
        }
        const ProgressWindow& p = shown.progress;
        EXPECT_EQ(p.window.Get(), nullptr);
        for (HWND child : {p.progressBar, p.statusLabel, p.detailLabel, p.percentLabel, p.bytesLabel, p.cancelButton}) {
            EXPECT_EQ(child, nullptr);
        }
        for (HFONT font : {p.bodyFont.Get(), p.titleFont.Get(), p.headingFont.Get(), p.emphasisFont.Get()}) {
            EXPECT_EQ(font, nullptr);
        }
        EXPECT_EQ(p.icon.Get(), nullptr);
        EXPECT_EQ(::FindWindowW(kProgressWindowClass, nullptr), nullptr);
    }
}

TEST(ProgressWindow, StaticsDrawDarkGreyOnWhite) {
    ShownWindow shown;
    ASSERT_TRUE(shown.created());
    for (HWND label : {shown.progress.statusLabel, shown.progress.percentLabel, shown.progress.bytesLabel}) {
        const HDC dc = ::GetDC(label);
        const LRESULT brush = ::SendMessageW(shown.progress.window.Get(), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                                             reinterpret_cast<LPARAM>(label));
        EXPECT_EQ(reinterpret_cast<HGDIOBJ>(brush), ::GetStockObject(WHITE_BRUSH));
        EXPECT_EQ(::GetTextColor(dc), RGB(42, 47, 52));
        EXPECT_EQ(::GetBkMode(dc), TRANSPARENT);
        ::ReleaseDC(label, dc);
    }
}

TEST(ProgressWindow, DestroyReleasesOnceAndToleratesEmptyRecords) {
    ProgressWindow never;
    never.Destroy();
    never.Destroy();
    EXPECT_EQ(never.window.Get(), nullptr);

    ProgressWindow progress;
    ASSERT_TRUE(progress.Create(L"2.3.1"));
    const HWND window = progress.window.Get();
    const HWND cancel = progress.cancelButton;
    progress.Destroy();
    EXPECT_FALSE(::IsWindow(window));
    EXPECT_EQ(progress.window.Get(), nullptr);
    EXPECT_EQ(progress.icon.Get(), nullptr);
    EXPECT_EQ(progress.bodyFont.Get(), nullptr);
    EXPECT_EQ(progress.titleFont.Get(), nullptr);
    EXPECT_EQ(progress.headingFont.Get(), nullptr);
    EXPECT_EQ(progress.emphasisFont.Get(), nullptr);
    EXPECT_EQ(progress.cancelButton, cancel) << "control fields are left as they were";
    progress.Destroy();
    // Nothing left to act on: updates after the window is gone are ignored.
    UpdateProgress(progress, 1, 2);
    EXPECT_EQ(progress.lastProgressTick, 0u);
}

struct CancelWay {
    const char* name;
    void (*act)(ProgressWindow& progress);
};

const CancelWay kCancelWays[] = {
    {"Cancel button clicked", [](ProgressWindow& p) { ::SendMessageW(p.cancelButton, BM_CLICK, 0, 0); }},
    {"title bar close button", [](ProgressWindow& p) { ::PostMessageW(p.window.Get(), WM_SYSCOMMAND, SC_CLOSE, 0); }},
    {"WM_CLOSE", [](ProgressWindow& p) { ::PostMessageW(p.window.Get(), WM_CLOSE, 0, 0); }},
    {"Alt+F4", [](ProgressWindow& p) { window_probe::PostAltKey(p.window.Get(), VK_F4); }},
    {"WM_QUIT posted to the thread", [](ProgressWindow&) { ::PostQuitMessage(0); }},
};

TEST(ProgressWindow, EveryWayToCancelSetsTheFlagOnceAndKeepsTheWindow) {
    for (const CancelWay& way : kCancelWays) {
        SCOPED_TRACE(way.name);
        ShownWindow shown;
        ASSERT_TRUE(shown.created());
        ProgressWindow& progress = shown.progress;
        ASSERT_EQ(TextOf(progress.cancelButton), L"Cancel");

        way.act(progress);
        PumpMessages(progress);
        EXPECT_TRUE(progress.cancelRequested);
        EXPECT_EQ(TextOf(progress.cancelButton), kCancellingButton);
        EXPECT_FALSE(::IsWindowEnabled(progress.cancelButton));
        EXPECT_EQ(TextOf(progress.statusLabel), kCancellingStatus);
        EXPECT_EQ(TextOf(progress.detailLabel), kCancellingDetail);
        EXPECT_TRUE(::IsWindow(progress.window.Get()));
        EXPECT_TRUE(::IsWindowVisible(progress.window.Get()));
        EXPECT_FALSE(QueueHolds(WM_QUIT)) << "no later code may see the quit message";

        // A later status wins over the cancelling texts, and a second request leaves it standing.
        ShowStatus(progress, L"Verifying publisher and file integrity\u2026", L"Checking the signature.");
        way.act(progress);
        PumpMessages(progress);
        EXPECT_TRUE(progress.cancelRequested);
        EXPECT_EQ(TextOf(progress.statusLabel), L"Verifying publisher and file integrity\u2026");
        EXPECT_EQ(TextOf(progress.detailLabel), L"Checking the signature.");
        EXPECT_TRUE(::IsWindow(progress.window.Get()));
        EXPECT_FALSE(QueueHolds(WM_QUIT));
    }
}

TEST(ProgressWindow, ShowStatusRewritesBothLinesAndPumps) {
    ShownWindow shown;
    ASSERT_TRUE(shown.created());
    ::PostMessageW(shown.progress.window.Get(), WM_NULL, 0, 0);
    ShowStatus(shown.progress, L"Downloading the verified installer\u2026", L"Fetched over HTTPS.");
    EXPECT_EQ(TextOf(shown.progress.statusLabel), L"Downloading the verified installer\u2026");
    EXPECT_EQ(TextOf(shown.progress.detailLabel), L"Fetched over HTTPS.");
    EXPECT_FALSE(QueueHolds(WM_NULL));
    EXPECT_FALSE(shown.progress.cancelRequested);
}

struct ProgressCase {
    const char* name;
    std::uint64_t received;
    std::uint64_t total;
    LRESULT position;
    const wchar_t* percent;
    const wchar_t* bytes;
};

TEST(ProgressWindow, ProgressFiguresOnTheBarAndLabels) {
    const ProgressCase cases[] = {
        {"half way", 52428800, 104857600, 5000, L"50%", L"52.4 MB of 104.9 MB"},
        {"first update", 0, 104857600, 0, L"0%", L"0.0 MB of 104.9 MB"},
        {"complete", 104857600, 104857600, 10000, L"100%", L"104.9 MB of 104.9 MB"},
        {"more than the total is shown as the total", 104857601, 104857600, 10000, L"100%",
         L"104.9 MB of 104.9 MB"},
        {"a third: hundredths and percent truncate", 1, 3, 3333, L"33%", L"0.0 MB of 0.0 MB"},
        {"largest package", 314572800, 629145600, 5000, L"50%", L"314.6 MB of 629.1 MB"},
    };
    ShownWindow shown;
    ASSERT_TRUE(shown.created());
    ProgressWindow& progress = shown.progress;
    for (const ProgressCase& c : cases) {
        SCOPED_TRACE(c.name);
        progress.lastProgressTick = 0;
        tickForTest = 5000;
        UpdateProgress(progress, c.received, c.total, kTickStandIn);
        EXPECT_EQ(::SendMessageW(progress.progressBar, PBM_GETPOS, 0, 0), c.position);
        EXPECT_EQ(TextOf(progress.percentLabel), c.percent);
        EXPECT_EQ(TextOf(progress.bytesLabel), c.bytes);
        EXPECT_EQ(progress.lastProgressTick, 5000u);
    }

    // A total of 0 shows nothing and does not even read the clock.
    progress.lastProgressTick = 77;
    tickReads = 0;
    UpdateProgress(progress, 10, 0, kTickStandIn);
    EXPECT_EQ(tickReads, 0);
    EXPECT_EQ(progress.lastProgressTick, 77u);
    EXPECT_EQ(TextOf(progress.percentLabel), L"50%");
}

TEST(ProgressWindow, RedrawsAtMostEveryHundredMillisecondsButAlwaysAtTheEnd) {
    ShownWindow shown;
    ASSERT_TRUE(shown.created());
    ProgressWindow& progress = shown.progress;
    constexpr std::uint64_t kTotal = 1000;

    tickForTest = 10000;
    UpdateProgress(progress, 100, kTotal, kTickStandIn);
    EXPECT_EQ(TextOf(progress.percentLabel), L"10%");
    EXPECT_EQ(progress.lastProgressTick, 10000u);

    // 99 ms later: skipped entirely, and the queue is left alone.
    ::PostMessageW(progress.window.Get(), WM_NULL, 0, 0);
    tickForTest = 10099;
    UpdateProgress(progress, 200, kTotal, kTickStandIn);
    EXPECT_EQ(TextOf(progress.percentLabel), L"10%");
    EXPECT_EQ(TextOf(progress.bytesLabel), L"0.0 MB of 0.0 MB");
    EXPECT_EQ(::SendMessageW(progress.progressBar, PBM_GETPOS, 0, 0), 1000);
    EXPECT_EQ(progress.lastProgressTick, 10000u);
    EXPECT_TRUE(QueueHolds(WM_NULL));

    // 100 ms after the last shown one: shown, and the queue drained.
    tickForTest = 10100;
    UpdateProgress(progress, 300, kTotal, kTickStandIn);
    EXPECT_EQ(TextOf(progress.percentLabel), L"30%");
    EXPECT_EQ(progress.lastProgressTick, 10100u);
    EXPECT_FALSE(QueueHolds(WM_NULL));

    // The final update shows even within the interval.
    tickForTest = 10101;
    UpdateProgress(progress, kTotal, kTotal, kTickStandIn);
    EXPECT_EQ(TextOf(progress.percentLabel), L"100%");
    EXPECT_EQ(::SendMessageW(progress.progressBar, PBM_GETPOS, 0, 0), 10000);
    EXPECT_EQ(progress.lastProgressTick, 10101u);
}

// Not a check: leaves a picture of the window mid-download under build/harness/screenshots for review.
TEST(ProgressWindow, ScreenshotMidDownload) {
    for (UINT dpi : {96u, 144u}) {
        dpiForTest = dpi;
        ShownWindow shown(L"2.3.1", kDpiStandIn);
        ASSERT_TRUE(shown.created());
        ShowStatus(shown.progress, L"Downloading the verified installer\u2026",
                   L"Receiving the package over a secure connection.");
        UpdateProgress(shown.progress, 52428800, 104857600);
        for (int i = 0; i < 10; ++i) {
            PumpMessages(shown.progress);
            ::Sleep(30);
        }
        const std::wstring folder = test_support::HarnessPath("screenshots");
        ::CreateDirectoryW(folder.c_str(), nullptr);
        EXPECT_TRUE(window_probe::SaveWindowImage(
            shown.progress.window.Get(), folder + L"\\progress_window_" + std::to_wstring(dpi) + L".bmp"));
    }
}

}  // namespace
