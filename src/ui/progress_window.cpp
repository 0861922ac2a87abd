#include "ui/progress_window.h"

#include <commctrl.h>

#include "common/platform_compat.h"
#include "common/resource_ids.h"
#include "ui/progress.h"

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
constexpr wchar_t kFontFace[] = L"Segoe UI";

constexpr int kDesignDpi = 96;
constexpr int kPointsPerInch = 72;
constexpr int kDesignWidth = 600;
constexpr int kDesignHeight = 340;
constexpr int kDesignIconSize = 48;

constexpr COLORREF kTextColour = RGB(42, 47, 52);
constexpr COLORREF kBarColour = RGB(25, 104, 154);
constexpr COLORREF kBarBackgroundColour = RGB(232, 236, 239);
constexpr int kBarRange = 10000;

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
constexpr ChildLayout kStatusLayout = {L"STATIC", SS_LEFT, 28, 112, 534, 26, 0};
constexpr ChildLayout kDetailLayout = {L"STATIC", SS_LEFT, 28, 143, 534, 22, 0};
constexpr ChildLayout kBarLayout = {PROGRESS_CLASSW, PBS_SMOOTH, 28, 176, 534, 18, kProgressBarId};
constexpr ChildLayout kPercentLayout = {L"STATIC", SS_LEFT, 28, 205, 80, 22, 0};
constexpr ChildLayout kBytesLayout = {L"STATIC", SS_RIGHT, 250, 205, 312, 22, 0};
constexpr ChildLayout kNoteLayout = {L"STATIC", SS_LEFT, 28, 242, 405, 40, 0};
constexpr ChildLayout kCancelLayout = {L"BUTTON", BS_PUSHBUTTON | WS_TABSTOP, 458, 244, 104, 34, kCancelButtonId};

void MakeChildren(ProgressWindow& progress, HMODULE module, const Scaler& scale, const WideString& version) {
    const HWND parent = progress.window.Get();
    const HWND iconPicture = MakeChild(parent, module, scale, kIconLayout, nullptr, nullptr);
    if (iconPicture) {
        ::SendMessageW(iconPicture, STM_SETICON, reinterpret_cast<WPARAM>(progress.icon.Get()), 0);
    }
    MakeChild(parent, module, scale, kTitleLayout, kTitleText, progress.titleFont.Get());
    const WideString versionLine = kVersionPrefix + version + kVersionSuffix;
    MakeChild(parent, module, scale, kVersionLayout, versionLine.c_str(), progress.bodyFont.Get());
    MakeChild(parent, module, scale, kSeparatorLayout, nullptr, nullptr);
    progress.statusLabel = MakeChild(parent, module, scale, kStatusLayout, kInitialStatusText, progress.headingFont.Get());
    progress.detailLabel = MakeChild(parent, module, scale, kDetailLayout, kInitialDetailText, progress.bodyFont.Get());
    progress.progressBar = MakeChild(parent, module, scale, kBarLayout, nullptr, nullptr);
    if (progress.progressBar) {
        ::SendMessageW(progress.progressBar, PBM_SETRANGE32, 0, kBarRange);
        // Visual styles may ignore these; they matter on the classic look.
        ::SendMessageW(progress.progressBar, PBM_SETBARCOLOR, 0, kBarColour);
        ::SendMessageW(progress.progressBar, PBM_SETBKCOLOR, 0, kBarBackgroundColour);
    }
    progress.percentLabel =
        MakeChild(parent, module, scale, kPercentLayout, kInitialPercentText, progress.emphasisFont.Get());
    progress.bytesLabel = MakeChild(parent, module, scale, kBytesLayout, kInitialBytesText, progress.bodyFont.Get());
    MakeChild(parent, module, scale, kNoteLayout, kReassuranceText, progress.bodyFont.Get());
    progress.cancelButton = MakeChild(parent, module, scale, kCancelLayout, kCancelText, progress.bodyFont.Get());
}

bool RegisterProgressClass(HMODULE module, const WindowCalls& calls) {
    // Owned here until the class takes them: the class icons then belong to the process for its
    // lifetime, like the class itself.
    UniqueIcon largeIcon(static_cast<HICON>(
        ::LoadImageW(module, MAKEINTRESOURCEW(APPLICATION_ICON_ID), IMAGE_ICON, 32, 32, LR_DEFAULTCOLOR)));
    UniqueIcon smallIcon(static_cast<HICON>(
        ::LoadImageW(module, MAKEINTRESOURCEW(APPLICATION_ICON_ID), IMAGE_ICON, 16, 16, LR_DEFAULTCOLOR)));
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = ProgressWindowProc;
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

}  // namespace

bool ProgressWindow::Create(const WideString& version, const WindowCalls& calls) {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS};
    CallInitCommonControlsEx(&controls);

    const HMODULE module = ::GetModuleHandleW(nullptr);
    if (!RegisterProgressClass(module, calls)) {
        return false;
    }

    const Scaler scale(static_cast<int>(calls.getDpiForSystem()));
    const int width = scale.Length(kDesignWidth);
    const int height = scale.Length(kDesignHeight);
    RECT workArea{};
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &workArea, 0);
    const int x = workArea.left + (workArea.right - workArea.left - width) / 2;
    const int y = workArea.top + (workArea.bottom - workArea.top - height) / 2;

    window.Reset(calls.createWindowExW(WS_EX_APPWINDOW, kProgressWindowClass, kSetupWindowTitle, kWindowStyle, x, y,
                                       width, height, nullptr, nullptr, module, this));
    if (!window) {
        return false;
    }

    bodyFont.Reset(MakeFont(scale, 10, FW_NORMAL));
    titleFont.Reset(MakeFont(scale, 18, FW_SEMIBOLD));
    headingFont.Reset(MakeFont(scale, 11, FW_SEMIBOLD));
    emphasisFont.Reset(MakeFont(scale, 10, FW_BOLD));
    const int iconSize = scale.Length(kDesignIconSize);
    icon.Reset(static_cast<HICON>(::LoadImageW(module, MAKEINTRESOURCEW(APPLICATION_ICON_ID), IMAGE_ICON, iconSize,
                                               iconSize, LR_DEFAULTCOLOR)));

    MakeChildren(*this, module, scale, version);

    ::ShowWindow(window.Get(), SW_SHOWNORMAL);
    ::UpdateWindow(window.Get());
    PumpMessages(*this);
    return true;
}

void ProgressWindow::Destroy() {
    // The window first: its children still draw with the fonts and the icon until it is gone.
    window.Reset();
    icon.Reset();
    bodyFont.Reset();
    titleFont.Reset();
    headingFont.Reset();
    emphasisFont.Reset();
}

LRESULT CALLBACK ProgressWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
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
                RequestCancel(*progress);
                return 0;
            }
            break;
        case WM_CLOSE:
            // Closing means "cancel"; the window itself stays until the driver destroys it.
            RequestCancel(*progress);
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
