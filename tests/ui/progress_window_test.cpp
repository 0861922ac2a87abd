// The progress window as a user meets it: real windows on the virtual display, real controls, fonts and
// messages. Only the system DPI and the tick counter are stood in, through the window's own seams.
#include <commctrl.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "harness/test_support.h"
#include "ui/progress_layout_check.h"
#include "ui/progress_window.h"
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
const WindowCalls kDpiStandIn = {.getDpiForSystem = DpiForTest};

DWORD registrationError = 0;
ATOM WINAPI RefuseClass(const WNDCLASSEXW*) {
    ::SetLastError(registrationError);
    return 0;
}
HWND WINAPI RefuseWindow(DWORD, LPCWSTR, LPCWSTR, DWORD, int, int, int, int, HWND, HMENU, HINSTANCE, LPVOID) {
    ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
}

// The user's contrast theme as SPI_GETHIGHCONTRAST reports it; every other question goes to the system.
bool highContrastForTest = false;
BOOL WINAPI ContrastForTest(UINT action, UINT size, PVOID value, UINT flags) {
    if (action != SPI_GETHIGHCONTRAST) {
        return ::SystemParametersInfoW(action, size, value, flags);
    }
    auto* contrast = static_cast<HIGHCONTRASTW*>(value);
    contrast->dwFlags = highContrastForTest ? HCF_HIGHCONTRASTON | HCF_AVAILABLE : HCF_AVAILABLE;
    return TRUE;
}
const WindowCalls kContrastStandIn = {.systemParametersInfoW = ContrastForTest};

ULONGLONG tickForTest = 0;
int tickReads = 0;
ULONGLONG WINAPI TickForTest() {
    ++tickReads;
    return tickForTest;
}
const WindowCalls kTickStandIn = {.getTickCount64 = TickForTest};

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
    HWND Item(int id) const { return ::GetDlgItem(progress.Handle(), id); }
    std::wstring TextOfItem(int id) const { return TextOf(Item(id)); }
    ProgressWindow progress;

private:
    bool created_ = false;
};

bool QueueHolds(UINT message) {
    MSG msg{};
    return ::PeekMessageW(&msg, nullptr, message, message, PM_NOREMOVE) != FALSE;
}

// The fonts and the icon a window's controls draw with, read from the controls.
struct DrawingObjects {
    std::vector<HFONT> fonts;
    HICON icon = nullptr;
};

DrawingObjects DrawingObjectsOf(HWND window) {
    const std::vector<Control> children = ChildrenOf(window);
    DrawingObjects objects;
    // The title, the version line, the status line and the percentage: one control for each font.
    for (std::size_t i : {1u, 2u, 4u, 7u}) {
        objects.fonts.push_back(reinterpret_cast<HFONT>(::SendMessageW(children.at(i).handle, WM_GETFONT, 0, 0)));
    }
    objects.icon = reinterpret_cast<HICON>(::SendMessageW(children.at(0).handle, STM_GETICON, 0, 0));
    return objects;
}

void ExpectReleased(const DrawingObjects& objects) {
    for (HFONT font : objects.fonts) {
        EXPECT_EQ(::GetObjectType(font), 0u) << "a font was not deleted";
    }
    ICONINFO info{};
    EXPECT_FALSE(::GetIconInfo(objects.icon, &info)) << "the icon was not destroyed";
}

TEST(ProgressWindow, OpensCentredAt96DpiWithEveryControlInPlace) {
    ASSERT_EQ(::GetDpiForSystem(), 96u) << "the harness prefix runs at the default DPI";
    ShownWindow shown;
    ASSERT_TRUE(shown.created());
    EXPECT_TRUE(shown.progress.IsOpen());
    ExpectLaidOut(shown.progress.Handle(), L"Version 2.3.1  \u2022  Secure online setup", 96);
    EXPECT_FALSE(shown.progress.CancelRequested());
}

TEST(ProgressWindow, ScalesWindowControlsFontsAndIconAt144Dpi) {
    dpiForTest = 144;
    ShownWindow shown(L"2.3.1", kDpiStandIn);
    ASSERT_TRUE(shown.created());
    RECT frame{};
    ::GetWindowRect(shown.progress.Handle(), &frame);
    EXPECT_EQ(frame.right - frame.left, 900);
    EXPECT_EQ(frame.bottom - frame.top, 510);
    ExpectLaidOut(shown.progress.Handle(), L"Version 2.3.1  \u2022  Secure online setup", 144);
}

TEST(ProgressWindow, MovedToAMonitorOfAnotherDpiItIsLaidOutAgainWithFontsAndIconMadeForIt) {
    const struct {
        UINT from;
        UINT to;
    } cases[] = {{96, 192}, {192, 96}, {96, 144}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.from << " to " << c.to << " DPI");
        dpiForTest = c.from;
        ShownWindow shown(L"2.3.1", kDpiStandIn);
        ASSERT_TRUE(shown.created());
        const HWND window = shown.progress.Handle();
        const DrawingObjects before = DrawingObjectsOf(window);
        // What Windows sends as the window crosses to the other monitor: the new DPI and the frame it
        // suggests there, here the frame the window would have had if made at that DPI.
        RECT work{};
        ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
        const int width = ::MulDiv(600, static_cast<int>(c.to), 96);
        const int height = ::MulDiv(340, static_cast<int>(c.to), 96);
        const int left = work.left + (work.right - work.left - width) / 2;
        const int top = work.top + (work.bottom - work.top - height) / 2;
        RECT suggested{left, top, left + width, top + height};
        ::SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(c.to, c.to), reinterpret_cast<LPARAM>(&suggested));
        shown.progress.PumpMessages();
        ExpectLaidOut(window, L"Version 2.3.1  \u2022  Secure online setup", static_cast<int>(c.to));
        ExpectReleased(before);
        // The bar and the labels go on working at the new size.
        shown.progress.ShowProgress(52428800, 104857600);
        EXPECT_EQ(shown.TextOfItem(kPercentLabelId), L"50%");
        if (c.to == 192) {
            const std::wstring folder = test_support::HarnessPath("screenshots");
            ::CreateDirectoryW(folder.c_str(), nullptr);
            for (int i = 0; i < 10; ++i) {
                shown.progress.PumpMessages();
                ::Sleep(30);
            }
            EXPECT_TRUE(window_probe::SaveWindowImage(window, folder + L"\\progress_window_dpichanged_192.bmp"));
        }
    }
}

// Keys as the keyboard sends them: to the control that has the focus.
struct KeyWay {
    const char* name;
    WPARAM key;
};

TEST(ProgressWindow, TheKeyboardReachesCancelAtOnceAndTabStaysOnIt) {
    const KeyWay cancelling[] = {{"Esc", VK_ESCAPE}, {"Enter", VK_RETURN}, {"Space", VK_SPACE}};
    for (const KeyWay& way : cancelling) {
        SCOPED_TRACE(way.name);
        ShownWindow shown;
        ASSERT_TRUE(shown.created());
        EXPECT_EQ(::GetFocus(), shown.Item(kCancelButtonId)) << "Cancel has the focus as the window opens";
        EXPECT_EQ(::GetActiveWindow(), shown.progress.Handle());

        // Tab, and Shift+Tab's reverse order, find no other control and leave the run alone.
        window_probe::PostKey(shown.progress.Handle(), VK_TAB);
        EXPECT_TRUE(shown.progress.PumpMessages());
        EXPECT_EQ(::GetFocus(), shown.Item(kCancelButtonId));
        EXPECT_FALSE(shown.progress.CancelRequested());

        window_probe::PostKey(shown.progress.Handle(), way.key);
        EXPECT_FALSE(shown.progress.PumpMessages());
        EXPECT_TRUE(shown.progress.CancelRequested());
        EXPECT_EQ(shown.TextOfItem(kCancelButtonId), kCancellingButton);
        EXPECT_TRUE(::IsWindow(shown.progress.Handle()));
    }
}

TEST(ProgressWindow, InAHighContrastThemeTheUsersColoursAreUsed) {
    for (bool high : {false, true}) {
        SCOPED_TRACE(high ? "high contrast" : "ordinary theme");
        highContrastForTest = high;
        ShownWindow shown(L"2.3.1", kContrastStandIn);
        ASSERT_TRUE(shown.created());
        for (int id : {kStatusLabelId, kBytesLabelId}) {
            const HWND label = shown.Item(id);
            const HDC dc = ::GetDC(label);
            const LRESULT brush = ::SendMessageW(shown.progress.Handle(), WM_CTLCOLORSTATIC,
                                                 reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(label));
            EXPECT_EQ(reinterpret_cast<HGDIOBJ>(brush),
                      high ? ::GetSysColorBrush(COLOR_WINDOW) : ::GetStockObject(WHITE_BRUSH));
            EXPECT_EQ(::GetTextColor(dc), high ? ::GetSysColor(COLOR_WINDOWTEXT) : RGB(42, 47, 52));
            ::ReleaseDC(label, dc);
        }
        const HWND bar = shown.Item(kProgressBarId);
        EXPECT_EQ(static_cast<COLORREF>(::SendMessageW(bar, PBM_GETBARCOLOR, 0, 0)),
                  high ? CLR_DEFAULT : RGB(25, 104, 154));
        EXPECT_EQ(static_cast<COLORREF>(::SendMessageW(bar, PBM_GETBKCOLOR, 0, 0)),
                  high ? CLR_DEFAULT : RGB(232, 236, 239));
    }
    // Turned on while the window is open: the next change of settings gives the bar the system's colours.
    highContrastForTest = false;
    ShownWindow shown(L"2.3.1", kContrastStandIn);
    ASSERT_TRUE(shown.created());
    highContrastForTest = true;
    ::SendMessageW(shown.progress.Handle(), WM_SETTINGCHANGE, SPI_SETHIGHCONTRAST, 0);
    EXPECT_EQ(static_cast<COLORREF>(::SendMessageW(shown.Item(kProgressBarId), PBM_GETBARCOLOR, 0, 0)), CLR_DEFAULT);
    highContrastForTest = false;
}

TEST(ProgressWindow, EmptyVersionAndSecondWindowInOneProcess) {
    // The class is registered by the first window of the process; later windows reuse it.
    ShownWindow first(L"");
    ASSERT_TRUE(first.created());
    ShownWindow second(L"10.0.0-beta.1");
    ASSERT_TRUE(second.created());
    EXPECT_EQ(TextOf(ChildrenOf(first.progress.Handle())[2].handle), L"Version   \u2022  Secure online setup");
    EXPECT_EQ(TextOf(ChildrenOf(second.progress.Handle())[2].handle),
              L"Version 10.0.0-beta.1  \u2022  Secure online setup");
}

TEST(ProgressWindow, AVersionWithAnAmpersandIsShownAsItIs) {
    // Without SS_NOPREFIX the "&" would vanish and underline the "D" after it.
    ShownWindow shown(L"2.3.1 R&D");
    ASSERT_TRUE(shown.created());
    const HWND label = ChildrenOf(shown.progress.Handle())[2].handle;
    EXPECT_EQ(TextOf(label), L"Version 2.3.1 R&D  \u2022  Secure online setup");
    EXPECT_TRUE(::GetWindowLongW(label, GWL_STYLE) & SS_NOPREFIX);
}

TEST(ProgressWindow, AClassOrWindowThatCannotBeMadeLeavesNothingHeld) {
    // The first window registers the class. Each case then asks the same record for a new window, which
    // replaces the one it held, or nothing does.
    ShownWindow shown;
    ASSERT_TRUE(shown.created());
    const struct {
        const char* what;
        WindowCalls calls;
        DWORD error;
        bool created;
    } cases[] = {
        {"class already there", {.registerClassExW = RefuseClass, .getTickCount64 = TickForTest},
         ERROR_CLASS_ALREADY_EXISTS, true},
        {"class refused", {.registerClassExW = RefuseClass, .getTickCount64 = TickForTest}, ERROR_NOT_ENOUGH_MEMORY,
         false},
        {"window refused", {.createWindowExW = RefuseWindow, .getTickCount64 = TickForTest}, 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const HWND earlier = shown.progress.Handle();
        const DrawingObjects earlierObjects = earlier ? DrawingObjectsOf(earlier) : DrawingObjects{};

        registrationError = c.error;
        EXPECT_EQ(shown.progress.Create(L"2.3.1", c.calls), c.created);
        if (earlier) {
            EXPECT_FALSE(::IsWindow(earlier));
            ExpectReleased(earlierObjects);
        }
        EXPECT_EQ(shown.progress.IsOpen(), c.created);
        if (c.created) {
            continue;
        }
        EXPECT_EQ(shown.progress.Handle(), nullptr);
        EXPECT_EQ(::FindWindowW(kProgressWindowClass, nullptr), nullptr);
        // Nothing to draw on: an update reads no clock, and a status goes nowhere.
        tickReads = 0;
        shown.progress.ShowProgress(1, 2);
        shown.progress.ShowStatus(L"status", L"detail");
        EXPECT_EQ(tickReads, 0);
    }
}

TEST(ProgressWindow, StaticsDrawDarkGreyOnWhite) {
    ShownWindow shown;
    ASSERT_TRUE(shown.created());
    for (int id : {kStatusLabelId, kPercentLabelId, kBytesLabelId}) {
        const HWND label = shown.Item(id);
        const HDC dc = ::GetDC(label);
        const LRESULT brush = ::SendMessageW(shown.progress.Handle(), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                                             reinterpret_cast<LPARAM>(label));
        EXPECT_EQ(reinterpret_cast<HGDIOBJ>(brush), ::GetStockObject(WHITE_BRUSH));
        EXPECT_EQ(::GetTextColor(dc), RGB(42, 47, 52));
        EXPECT_EQ(::GetBkMode(dc), TRANSPARENT);
        ::ReleaseDC(label, dc);
    }
}

TEST(ProgressWindow, DestroyReleasesOnceAndToleratesNothingOpen) {
    ProgressWindow never;
    never.Destroy();
    never.Destroy();
    EXPECT_FALSE(never.IsOpen());
    EXPECT_EQ(never.Handle(), nullptr);

    ProgressWindow progress;
    ASSERT_TRUE(progress.Create(L"2.3.1", kTickStandIn));
    const HWND window = progress.Handle();
    const DrawingObjects objects = DrawingObjectsOf(window);
    progress.Destroy();
    EXPECT_FALSE(::IsWindow(window));
    EXPECT_FALSE(progress.IsOpen());
    EXPECT_EQ(progress.Handle(), nullptr);
    ExpectReleased(objects);
    progress.Destroy();
    // Nothing left to act on: updates after the window is gone are ignored.
    tickReads = 0;
    progress.ShowProgress(1, 2);
    EXPECT_EQ(tickReads, 0);
}

struct CancelWay {
    const char* name;
    void (*act)(const ShownWindow& shown);
};

const CancelWay kCancelWays[] = {
    {"Cancel button clicked", [](const ShownWindow& s) { ::SendMessageW(s.Item(kCancelButtonId), BM_CLICK, 0, 0); }},
    {"title bar close button",
     [](const ShownWindow& s) { ::PostMessageW(s.progress.Handle(), WM_SYSCOMMAND, SC_CLOSE, 0); }},
    {"WM_CLOSE", [](const ShownWindow& s) { ::PostMessageW(s.progress.Handle(), WM_CLOSE, 0, 0); }},
    {"Alt+F4", [](const ShownWindow& s) { window_probe::PostAltKey(s.progress.Handle(), VK_F4); }},
    {"WM_QUIT posted to the thread", [](const ShownWindow&) { ::PostQuitMessage(0); }},
};

TEST(ProgressWindow, EveryWayToCancelSetsTheFlagOnceAndKeepsTheWindow) {
    for (const CancelWay& way : kCancelWays) {
        SCOPED_TRACE(way.name);
        ShownWindow shown;
        ASSERT_TRUE(shown.created());
        ProgressWindow& progress = shown.progress;
        ASSERT_EQ(shown.TextOfItem(kCancelButtonId), L"Cancel");
        EXPECT_TRUE(progress.PumpMessages());

        way.act(shown);
        EXPECT_FALSE(progress.PumpMessages());
        EXPECT_TRUE(progress.CancelRequested());
        EXPECT_EQ(shown.TextOfItem(kCancelButtonId), kCancellingButton);
        EXPECT_FALSE(::IsWindowEnabled(shown.Item(kCancelButtonId)));
        EXPECT_EQ(shown.TextOfItem(kStatusLabelId), kCancellingStatus);
        EXPECT_EQ(shown.TextOfItem(kDetailLabelId), kCancellingDetail);
        EXPECT_TRUE(::IsWindow(progress.Handle()));
        EXPECT_TRUE(::IsWindowVisible(progress.Handle()));
        EXPECT_FALSE(QueueHolds(WM_QUIT)) << "no later code may see the quit message";

        // A later status wins over the cancelling texts, and a second request leaves it standing.
        progress.ShowStatus(L"Verifying publisher and file integrity\u2026", L"Checking the signature.");
        way.act(shown);
        EXPECT_FALSE(progress.PumpMessages());
        EXPECT_TRUE(progress.CancelRequested());
        EXPECT_EQ(shown.TextOfItem(kStatusLabelId), L"Verifying publisher and file integrity\u2026");
        EXPECT_EQ(shown.TextOfItem(kDetailLabelId), L"Checking the signature.");
        EXPECT_TRUE(::IsWindow(progress.Handle()));
        EXPECT_FALSE(QueueHolds(WM_QUIT));
    }
}

TEST(ProgressWindow, ANewWindowStartsWithNoCancelRequestAndItsOwnRedrawInterval) {
    ShownWindow shown(L"2.3.1", kTickStandIn);
    ASSERT_TRUE(shown.created());
    ProgressWindow& progress = shown.progress;
    progress.RequestCancel();
    tickForTest = 10000;
    progress.ShowProgress(100, 1000);
    ASSERT_EQ(shown.TextOfItem(kPercentLabelId), L"10%");

    ASSERT_TRUE(progress.Create(L"2.3.1", kTickStandIn));
    EXPECT_FALSE(progress.CancelRequested());
    EXPECT_TRUE(progress.PumpMessages());
    EXPECT_EQ(shown.TextOfItem(kCancelButtonId), L"Cancel");
    EXPECT_TRUE(::IsWindowEnabled(shown.Item(kCancelButtonId)));
    // 1 ms after the old window's last redraw, the new one's first is shown.
    tickForTest = 10001;
    progress.ShowProgress(200, 1000);
    EXPECT_EQ(shown.TextOfItem(kPercentLabelId), L"20%");
}

TEST(ProgressWindow, ACancelRequestedWithNoWindowOpenIsKept) {
    ProgressWindow progress;
    EXPECT_TRUE(progress.PumpMessages());
    progress.RequestCancel();
    EXPECT_TRUE(progress.CancelRequested());
    EXPECT_FALSE(progress.PumpMessages());
}

TEST(ProgressWindow, ShowStatusRewritesBothLinesAndPumps) {
    ShownWindow shown;
    ASSERT_TRUE(shown.created());
    ::PostMessageW(shown.progress.Handle(), WM_NULL, 0, 0);
    shown.progress.ShowStatus(L"Downloading the verified installer\u2026", L"Fetched over HTTPS.");
    EXPECT_EQ(shown.TextOfItem(kStatusLabelId), L"Downloading the verified installer\u2026");
    EXPECT_EQ(shown.TextOfItem(kDetailLabelId), L"Fetched over HTTPS.");
    EXPECT_FALSE(QueueHolds(WM_NULL));
    EXPECT_FALSE(shown.progress.CancelRequested());
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
    ShownWindow shown(L"2.3.1", kTickStandIn);
    ASSERT_TRUE(shown.created());
    ProgressWindow& progress = shown.progress;
    tickForTest = 5000;
    for (const ProgressCase& c : cases) {
        SCOPED_TRACE(c.name);
        // Each case comes a second after the one before, well past the redraw interval.
        tickForTest += 1000;
        progress.ShowProgress(c.received, c.total);
        EXPECT_EQ(::SendMessageW(shown.Item(kProgressBarId), PBM_GETPOS, 0, 0), c.position);
        EXPECT_EQ(shown.TextOfItem(kPercentLabelId), c.percent);
        EXPECT_EQ(shown.TextOfItem(kBytesLabelId), c.bytes);
    }

    // A total of 0 shows nothing and does not even read the clock.
    tickReads = 0;
    progress.ShowProgress(10, 0);
    EXPECT_EQ(tickReads, 0);
    EXPECT_EQ(shown.TextOfItem(kPercentLabelId), L"50%");
}

TEST(ProgressWindow, RedrawsAtMostEveryHundredMillisecondsButAlwaysAtTheEnd) {
    ShownWindow shown(L"2.3.1", kTickStandIn);
    ASSERT_TRUE(shown.created());
    ProgressWindow& progress = shown.progress;
    constexpr std::uint64_t kTotal = 1000000000;
    const struct {
        const char* what;
        ULONGLONG tick;
        std::uint64_t received;
        bool redrawn;  // otherwise skipped entirely, the queue left alone
        const wchar_t* percent;
        const wchar_t* bytes;
    } steps[] = {
        {"a new window counts the interval from tick 0", 99, 50000000, false, L"0%", L"Preparing\u2026"},
        {"the first update after it", 10000, 100000000, true, L"10%", L"100.0 MB of 1000.0 MB"},
        {"99 ms later", 10099, 200000000, false, L"10%", L"100.0 MB of 1000.0 MB"},
        {"100 ms after the last shown one", 10100, 300000000, true, L"30%", L"300.0 MB of 1000.0 MB"},
        {"the final update, within the interval", 10101, kTotal, true, L"100%", L"1000.0 MB of 1000.0 MB"},
        {"99 ms after the final one", 10200, 400000000, false, L"100%", L"1000.0 MB of 1000.0 MB"},
        {"100 ms after the final one", 10201, 400000000, true, L"40%", L"400.0 MB of 1000.0 MB"},
    };
    LRESULT position = 0;
    for (const auto& step : steps) {
        SCOPED_TRACE(step.what);
        ::PostMessageW(progress.Handle(), WM_NULL, 0, 0);
        tickForTest = step.tick;
        progress.ShowProgress(step.received, kTotal);
        if (step.redrawn) {
            position = static_cast<LRESULT>(step.received / 100000);
        }
        EXPECT_EQ(::SendMessageW(shown.Item(kProgressBarId), PBM_GETPOS, 0, 0), position);
        EXPECT_EQ(shown.TextOfItem(kPercentLabelId), step.percent);
        EXPECT_EQ(shown.TextOfItem(kBytesLabelId), step.bytes);
        EXPECT_EQ(QueueHolds(WM_NULL), !step.redrawn);
        progress.PumpMessages();
    }
}

// Not a check: leaves a picture of the window mid-download under build/harness/screenshots for review.
TEST(ProgressWindow, ScreenshotMidDownload) {
    for (UINT dpi : {96u, 144u}) {
        dpiForTest = dpi;
        ShownWindow shown(L"2.3.1", kDpiStandIn);
        ASSERT_TRUE(shown.created());
        shown.progress.ShowStatus(L"Downloading the verified installer\u2026",
                                  L"Receiving the package over a secure connection.");
        shown.progress.ShowProgress(52428800, 104857600);
        for (int i = 0; i < 10; ++i) {
            shown.progress.PumpMessages();
            ::Sleep(30);
        }
        const std::wstring folder = test_support::HarnessPath("screenshots");
        ::CreateDirectoryW(folder.c_str(), nullptr);
        EXPECT_TRUE(window_probe::SaveWindowImage(
            shown.progress.Handle(), folder + L"\\progress_window_" + std::to_wstring(dpi) + L".bmp"));
    }
}

}  // namespace
