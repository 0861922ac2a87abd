#include "ui/progress_window.h"

#include <commctrl.h>

#include <cwchar>

#include "common/platform_compat.h"
#include "common/product_texts.h"
#include "common/resource_ids.h"

namespace {

constexpr wchar_t kTitleText[] = L"Installing Brimlow AI Quillo";
constexpr wchar_t kVersionSuffix[] = L"  \u2022  Secure online setup";
constexpr wchar_t kInitialStatusText[] = L"Connecting to Brimlow secure servers\u2026";
constexpr wchar_t kInitialDetailText[] = L"Preparing the verified installer download.";
constexpr wchar_t kInitialPercentText[] = L"0%";
constexpr wchar_t kInitialBytesText[] = L"Preparing\u2026";
constexpr wchar_t kReassuranceText[] =
    L"\u2713  Publisher and SHA-256 integrity will be verified before installation.";
constexpr wchar_t kCancelText[] = L"Cancel";
constexpr wchar_t kCancellingButtonText[] = L"Cancelling\u2026";
constexpr wchar_t kCancellingStatusText[] = L"Cancelling download\u2026";
constexpr wchar_t kCancellingDetailText[] = L"Removing the partial file safely.";
constexpr wchar_t kBytesFormat[] = L"%.1f MB of %.1f MB";
constexpr wchar_t kFontFace[] = L"Segoe UI";

constexpr int kDesignDpi = 96;
constexpr int kPointsPerInch = 72;
constexpr int kDesignWidth = 600;
constexpr int kDesignHeight = 340;
constexpr int kDesignIconSize = 48;

constexpr COLORREF kTextColour = RGB(42, 47, 52);
constexpr COLORREF kBarColour = RGB(25, 104, 154);
constexpr COLORREF kBarBackgroundColour = RGB(232, 236, 239);
// The bar counts hundredths of a percent.
constexpr int kBarRange = 10000;

constexpr std::uint64_t kRedrawIntervalMs = 100;
constexpr std::size_t kBytesTextCapacity = 96;
constexpr double kBytesPerMegabyte = 1000000.0;

// The window is passive: a caption with close and minimise, no resizing, no maximising.
constexpr DWORD kWindowStyle = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;

class Scaler {
public:
    explicit Scaler(int dpi) : dpi_(dpi) {}
    int Length(int designPixels) const { return ::MulDiv(designPixels, dpi_, kDesignDpi); }
    int FontHeight(int points) const { return -::MulDiv(points, dpi_, kPointsPerInch); }

private:
    int dpi_;
};

HFONT MakeFont(const Scaler& scale, int points, int weight) {
    return ::CreateFontW(scale.FontHeight(points), 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                         OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, 0, kFontFace);
}

struct ChildLayout {
    const wchar_t* className;
    DWORD style;
    int x;
    int y;
    int width;
    int height;
    int id;
};

HWND MakeChild(HWND parent, HMODULE module, const Scaler& scale, const ChildLayout& layout, const wchar_t* text,
               HFONT font) {
    const HWND child = ::CreateWindowExW(0, layout.className, text, WS_CHILD | WS_VISIBLE | layout.style,
                                         scale.Length(layout.x), scale.Length(layout.y), scale.Length(layout.width),
                                         scale.Length(layout.height), parent,
                                         reinterpret_cast<HMENU>(static_cast<INT_PTR>(layout.id)), module, nullptr);
    if (child && font) {
        ::SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    }
    return child;
}

// Design coordinates at 96 DPI, client pixels.
constexpr ChildLayout kIconLayout = {L"STATIC", SS_ICON, 28, 24, 48, 48, 0};
constexpr ChildLayout kTitleLayout = {L"STATIC", SS_LEFT, 92, 22, 470, 34, 0};
// The version comes from the manifest and is shown as it is: an "&" in it is a character, not the
// mark of an underlined access key.
constexpr ChildLayout kVersionLayout = {L"STATIC", SS_LEFT | SS_NOPREFIX, 92, 57, 470, 22, 0};
constexpr ChildLayout kSeparatorLayout = {L"STATIC", SS_ETCHEDHORZ, 28, 91, 534, 2, 0};
constexpr ChildLayout kStatusLayout = {L"STATIC", SS_LEFT, 28, 112, 534, 26, kStatusLabelId};
constexpr ChildLayout kDetailLayout = {L"STATIC", SS_LEFT, 28, 143, 534, 22, kDetailLabelId};
constexpr ChildLayout kBarLayout = {PROGRESS_CLASSW, PBS_SMOOTH, 28, 176, 534, 18, kProgressBarId};
constexpr ChildLayout kPercentLayout = {L"STATIC", SS_LEFT, 28, 205, 80, 22, kPercentLabelId};
constexpr ChildLayout kBytesLayout = {L"STATIC", SS_RIGHT, 250, 205, 312, 22, kBytesLabelId};
constexpr ChildLayout kNoteLayout = {L"STATIC", SS_LEFT, 28, 242, 405, 40, 0};
constexpr ChildLayout kCancelLayout = {L"BUTTON", BS_PUSHBUTTON | WS_TABSTOP, 458, 244, 104, 34, kCancelButtonId};

bool RegisterProgressClass(HMODULE module, const WindowCalls& calls, WNDPROC windowProc) {
    // Owned here until the class takes them: the class icons then belong to the process for its
    // lifetime, like the class itself.
    UniqueIcon largeIcon(static_cast<HICON>(
        ::LoadImageW(module, MAKEINTRESOURCEW(APPLICATION_ICON_ID), IMAGE_ICON, 32, 32, LR_DEFAULTCOLOR)));
    UniqueIcon smallIcon(static_cast<HICON>(
        ::LoadImageW(module, MAKEINTRESOURCEW(APPLICATION_ICON_ID), IMAGE_ICON, 16, 16, LR_DEFAULTCOLOR)));
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = windowProc;
    windowClass.hInstance = module;
    windowClass.hIcon = largeIcon.Get();
    windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH));
    windowClass.lpszClassName = kProgressWindowClass;
    windowClass.hIconSm = smallIcon.Get();
    if (calls.registerClassExW(&windowClass) != 0) {
        largeIcon.Release();
        smallIcon.Release();
        return true;
    }
    return ::GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

// The window's frame at its scaled size, centred on the work area.
RECT CentredFrame(const Scaler& scale) {
    const int width = scale.Length(kDesignWidth);
    const int height = scale.Length(kDesignHeight);
    RECT workArea{};
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &workArea, 0);
    const int x = workArea.left + (workArea.right - workArea.left - width) / 2;
    const int y = workArea.top + (workArea.bottom - workArea.top - height) / 2;
    return {x, y, x + width, y + height};
}

void SetTextIfPresent(HWND control, const wchar_t* text) {
    if (control) {
        ::SetWindowTextW(control, text);
    }
}

}  // namespace

ProgressWindow::~ProgressWindow() { Destroy(); }

bool ProgressWindow::Create(const WideString& version, const WindowCalls& calls) {
    Destroy();
    calls_ = calls;
    cancelRequested_ = false;
    lastProgressTick_ = 0;

    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS};
    CallInitCommonControlsEx(&controls);

    const HMODULE module = ::GetModuleHandleW(nullptr);
    if (!RegisterProgressClass(module, calls, WindowProc)) {
        return false;
    }

    const int dpi = static_cast<int>(calls.getDpiForSystem());
    const Scaler scale(dpi);
    const RECT frame = CentredFrame(scale);
    window_.Reset(calls.createWindowExW(WS_EX_APPWINDOW, kProgressWindowClass, kSetupWindowTitle, kWindowStyle,
                                        frame.left, frame.top, frame.right - frame.left, frame.bottom - frame.top,
                                        nullptr, nullptr, module, this));
    if (!window_) {
        return false;
    }

    bodyFont_.Reset(MakeFont(scale, 10, FW_NORMAL));
    titleFont_.Reset(MakeFont(scale, 18, FW_SEMIBOLD));
    headingFont_.Reset(MakeFont(scale, 11, FW_SEMIBOLD));
    emphasisFont_.Reset(MakeFont(scale, 10, FW_BOLD));
    const int iconSize = scale.Length(kDesignIconSize);
    icon_.Reset(static_cast<HICON>(::LoadImageW(module, MAKEINTRESOURCEW(APPLICATION_ICON_ID), IMAGE_ICON, iconSize,
                                                iconSize, LR_DEFAULTCOLOR)));

    MakeChildren(module, dpi, version);

    ::ShowWindow(window_.Get(), SW_SHOWNORMAL);
    ::UpdateWindow(window_.Get());
    PumpMessages();
    return true;
}

void ProgressWindow::MakeChildren(HMODULE module, int dpi, const WideString& version) {
    const HWND parent = window_.Get();
    const Scaler scale(dpi);
    const HWND iconPicture = MakeChild(parent, module, scale, kIconLayout, nullptr, nullptr);
    if (iconPicture) {
        ::SendMessageW(iconPicture, STM_SETICON, reinterpret_cast<WPARAM>(icon_.Get()), 0);
    }
    MakeChild(parent, module, scale, kTitleLayout, kTitleText, titleFont_.Get());
    const WideString versionLine = kVersionPrefix + version + kVersionSuffix;
    MakeChild(parent, module, scale, kVersionLayout, versionLine.c_str(), bodyFont_.Get());
    MakeChild(parent, module, scale, kSeparatorLayout, nullptr, nullptr);
    statusLabel_ = MakeChild(parent, module, scale, kStatusLayout, kInitialStatusText, headingFont_.Get());
    detailLabel_ = MakeChild(parent, module, scale, kDetailLayout, kInitialDetailText, bodyFont_.Get());
    progressBar_ = MakeChild(parent, module, scale, kBarLayout, nullptr, nullptr);
    if (progressBar_) {
        ::SendMessageW(progressBar_, PBM_SETRANGE32, 0, kBarRange);
        // Visual styles may ignore these; they matter on the classic look.
        ::SendMessageW(progressBar_, PBM_SETBARCOLOR, 0, kBarColour);
        ::SendMessageW(progressBar_, PBM_SETBKCOLOR, 0, kBarBackgroundColour);
    }
    percentLabel_ = MakeChild(parent, module, scale, kPercentLayout, kInitialPercentText, emphasisFont_.Get());
    bytesLabel_ = MakeChild(parent, module, scale, kBytesLayout, kInitialBytesText, bodyFont_.Get());
    MakeChild(parent, module, scale, kNoteLayout, kReassuranceText, bodyFont_.Get());
    cancelButton_ = MakeChild(parent, module, scale, kCancelLayout, kCancelText, bodyFont_.Get());
}

void ProgressWindow::Destroy() {
    // The window first: its children still draw with the fonts and the icon until it is gone.
    window_.Reset();
    progressBar_ = nullptr;
    statusLabel_ = nullptr;
    detailLabel_ = nullptr;
    percentLabel_ = nullptr;
    bytesLabel_ = nullptr;
    cancelButton_ = nullptr;
    icon_.Reset();
    bodyFont_.Reset();
    titleFont_.Reset();
    headingFont_.Reset();
    emphasisFont_.Reset();
}

bool ProgressWindow::IsOpen() const { return static_cast<bool>(window_); }

HWND ProgressWindow::Handle() const { return window_.Get(); }

bool ProgressWindow::CancelRequested() const { return cancelRequested_; }

void ProgressWindow::ShowStatus(const WideString& status, const WideString& detail) {
    SetTextIfPresent(statusLabel_, status.c_str());
    SetTextIfPresent(detailLabel_, detail.c_str());
    PumpMessages();
}

void ProgressWindow::ShowProgress(std::uint64_t received, std::uint64_t total) {
    if (!window_ || total == 0) {
        return;
    }
    const std::uint64_t now = calls_.getTickCount64();
    if (received > total) {
        received = total;
    } else if (received < total && now - lastProgressTick_ < kRedrawIntervalMs) {
        // Blocks arrive far faster than anyone can read; the last one always shows.
        return;
    }
    lastProgressTick_ = now;

    const std::uint64_t position = received * kBarRange / total;
    if (progressBar_) {
        ::SendMessageW(progressBar_, PBM_SETPOS, static_cast<WPARAM>(position), 0);
    }

    const std::uint64_t percent = received * 100 / total;
    wchar_t percentText[24] = {};
    ::_snwprintf(percentText, 23, L"%I64u%%", percent);
    SetTextIfPresent(percentLabel_, percentText);

    wchar_t bytesText[kBytesTextCapacity] = {};
    ::_snwprintf(bytesText, kBytesTextCapacity - 1, kBytesFormat, static_cast<double>(received) / kBytesPerMegabyte,
                 static_cast<double>(total) / kBytesPerMegabyte);
    SetTextIfPresent(bytesLabel_, bytesText);

    PumpMessages();
}

bool ProgressWindow::PumpMessages() {
    MSG msg{};
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            // A quit request means "stop", never "leave a loop": there is no loop to leave, and the
            // download must end through its own cancellation path. The message is consumed here.
            RequestCancel();
            continue;
        }
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
    return !cancelRequested_;
}

void ProgressWindow::RequestCancel() {
    if (cancelRequested_) {
        return;
    }
    cancelRequested_ = true;
    if (cancelButton_) {
        ::SetWindowTextW(cancelButton_, kCancellingButtonText);
        ::EnableWindow(cancelButton_, FALSE);
    }
    SetTextIfPresent(statusLabel_, kCancellingStatusText);
    SetTextIfPresent(detailLabel_, kCancellingDetailText);
}

LRESULT CALLBACK ProgressWindow::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* progress = reinterpret_cast<ProgressWindow*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (message == WM_NCCREATE) {
        progress = static_cast<ProgressWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(progress));
    }
    if (!progress) {
        return ::DefWindowProcW(window, message, wParam, lParam);
    }
    switch (message) {
        case WM_COMMAND:
            if (LOWORD(wParam) == kCancelButtonId) {
                progress->RequestCancel();
                return 0;
            }
            break;
        case WM_CLOSE:
            // Closing means "cancel"; the window itself stays until the driver destroys it.
            progress->RequestCancel();
            return 0;
        case WM_CTLCOLORSTATIC: {
            const HDC dc = reinterpret_cast<HDC>(wParam);
            ::SetBkMode(dc, TRANSPARENT);
            ::SetTextColor(dc, kTextColour);
            return reinterpret_cast<LRESULT>(::GetStockObject(WHITE_BRUSH));
        }
        default:
            break;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}
