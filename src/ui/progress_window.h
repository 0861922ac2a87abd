#pragma once
// The one window the program owns: modeless, passive, destroyed before any message box or launch. It
// shows what the driver tells it and knows nothing of what is being done.
#include <windows.h>

#include <cstdint>

#include "common/wide_string.h"
#include "common/win32_handles.h"
#include "ui/run_observer.h"

inline constexpr int kProgressBarId = 2001;
inline constexpr int kCancelButtonId = 2002;
inline constexpr int kStatusLabelId = 2003;
inline constexpr int kDetailLabelId = 2004;
inline constexpr int kPercentLabelId = 2005;
inline constexpr int kBytesLabelId = 2006;
inline constexpr wchar_t kProgressWindowClass[] = L"BrimlowAIQuilloInstallerProgress";

// The system DPI is fixed for a process's lifetime, the high-contrast setting cannot be turned on under
// Wine, class registration and window creation do not fail
// on a test machine, and the redraw throttle follows the clock: tests replace these to see the window
// scaled, to see it not made at all, and to step time by hand instead of sleeping.
struct WindowCalls {
    decltype(&::GetDpiForSystem) getDpiForSystem = ::GetDpiForSystem;
    // Wine keeps no high-contrast setting (SPI_SETHIGHCONTRAST is not implemented there): tests stand in
    // for the answer to SPI_GETHIGHCONTRAST to see the window follow the user's contrast theme.
    decltype(&::SystemParametersInfoW) systemParametersInfoW = ::SystemParametersInfoW;
    decltype(&::RegisterClassExW) registerClassExW = ::RegisterClassExW;
    decltype(&::CreateWindowExW) createWindowExW = ::CreateWindowExW;
    decltype(&::GetTickCount64) getTickCount64 = ::GetTickCount64;
};

// Progress, status and cooperative cancellation on the driver's only thread, and the run's message box:
// what the user sees of a run. The program owns one for the run; the window procedure finds it through
// the window, so it is neither copied nor moved.
class ProgressWindow final : public RunObserver {
public:
    // calls: what Open makes the window with.
    explicit ProgressWindow(const WindowCalls& calls = {}) : calls_(calls) {}
    ~ProgressWindow();
    ProgressWindow(const ProgressWindow&) = delete;
    ProgressWindow& operator=(const ProgressWindow&) = delete;

    // Shows a new window for the release's version, with no cancel request. False when the class or the
    // window cannot be made; nothing is then held.
    bool Create(const WideString& version, const WindowCalls& calls = {});
    // Destroys the window (its controls with it), then the icon, then the fonts. Safe when nothing is
    // open and safe to call twice.
    void Destroy();
    bool IsOpen() const;

    // Rewrites the two status lines, then handles queued messages.
    void ShowStatus(const WideString& status, const WideString& detail) override;
    // Moves the bar and rewrites the percentage and byte count, at most every 100 ms but always for the
    // last block, then handles queued messages. Nothing happens when no window is open or total is 0.
    void ShowProgress(std::uint64_t received, std::uint64_t total);
    // Handles every queued message, the keyboard as a dialog box takes it (Tab stays on Cancel, Esc and
    // Enter cancel, Space presses the focused button). A WM_QUIT is taken as a cancel request. False once
    // a cancel has been requested.
    bool PumpMessages();
    // Records a cancel request and says so in the window; a second request changes nothing.
    void RequestCancel();
    bool CancelRequested() const;
    // The window, for tests and tools that read its controls by id; null when none is open.
    HWND Handle() const;

    // What the driver and the download see of it.
    bool Open(const WideString& version) override { return Create(version, calls_); }
    void Close() override { Destroy(); }
    void ShowFailure(const WideString& text, UINT style) override;
    void ShowFailureWithoutCommonControls(const WideString& text, UINT style) override;
    // Handles the window's messages; false once the user has cancelled.
    bool ContinueDownload() override { return PumpMessages(); }
    void BlockReceived(std::uint64_t received, std::uint64_t total) override { ShowProgress(received, total); }

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void MakeChildren(HMODULE module, const WideString& version);
    // Fonts and icon made for dpi; the controls take them in SetDrawingObjects.
    void MakeDrawingObjects(HMODULE module, int dpi);
    void SetDrawingObjects();
    // Moves every control to its place at dpi and gives it the fonts and icon made for it, then puts the
    // window in the rectangle Windows suggests for that DPI.
    void ChangeDpi(int dpi, const RECT& suggested);
    bool HighContrast() const;
    // Esc, Enter and Tab for this window; false for every other message.
    bool TakeKey(const MSG& msg);
    // The bar's colours: the window's own in the ordinary theme, the system's in a high-contrast one.
    void ColourBar();

    UniqueWindow window_;
    // Every control, in creation order; they belong to window_.
    HWND children_[11] = {};
    // The controls the program rewrites; they belong to window_.
    HWND progressBar_ = nullptr;
    HWND statusLabel_ = nullptr;
    HWND detailLabel_ = nullptr;
    HWND percentLabel_ = nullptr;
    HWND bytesLabel_ = nullptr;
    HWND cancelButton_ = nullptr;
    UniqueFont bodyFont_;
    UniqueFont titleFont_;
    UniqueFont headingFont_;
    UniqueFont emphasisFont_;
    UniqueIcon icon_;
    WindowCalls calls_;
    int dpi_ = 96;
    bool cancelRequested_ = false;
    std::uint64_t lastProgressTick_ = 0;
};
