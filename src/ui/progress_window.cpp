#include "ui/progress_window.h"

#include <commctrl.h>

#include <cwchar>
#include <iterator>
#include <utility>

#include "common/platform_compat.h"
#include "common/product_texts.h"
#include "common/resource_ids.h"
#include "ui/error_box.h"

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

HWND MakeChild(HWND parent, HMODULE module, const Scaler& scale, const ChildLayout& layout, const wchar_t* text) {
    return ::CreateWindowExW(0, layout.className, text, WS_CHILD | WS_VISIBLE | layout.style, scale.Length(layout.x),
                             scale.Length(layout.y), scale.Length(layout.width), scale.Length(layout.height), parent,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(layout.id)), module, nullptr);
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

// Which of the window's fonts a control draws with.
enum class FontKind { None, Body, Title, Heading, Emphasis };

// Every control in creation order, with its font.
constexpr struct {
    const ChildLayout* layout;
    FontKind font;
} kChildren[] = {
    {&kIconLayout, FontKind::None},        {&kTitleLayout, FontKind::Title},     {&kVersionLayout, FontKind::Body},
    {&kSeparatorLayout, FontKind::None},   {&kStatusLayout, FontKind::Heading}, {&kDetailLayout, FontKind::Body},
    {&kBarLayout, FontKind::None},         {&kPercentLayout, FontKind::Emphasis}, {&kBytesLayout, FontKind::Body},
    {&kNoteLayout, FontKind::Body},        {&kCancelLayout, FontKind::Body},
};
constexpr std::size_t kIconChild = 0;

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

    dpi_ = dpi;
    MakeDrawingObjects(module, dpi);
    MakeChildren(module, version);
    SetDrawingObjects();
    ColourBar();

    // The focus rectangle shows only once the keyboard is used, as in a dialog box opened by the mouse.
    ::SendMessageW(window_.Get(), WM_CHANGEUISTATE, MAKEWPARAM(UIS_SET, UISF_HIDEFOCUS), 0);
    ::ShowWindow(window_.Get(), SW_SHOWNORMAL);
    // The one control a keyboard can reach has the focus from the start (and whenever the window is
    // activated again: WM_SETFOCUS).
    if (cancelButton_) {
        ::SetFocus(cancelButton_);
    }
    ::UpdateWindow(window_.Get());
    PumpMessages();
    return true;
}

void ProgressWindow::MakeDrawingObjects(HMODULE module, int dpi) {
    const Scaler scale(dpi);
    bodyFont_.Reset(MakeFont(scale, 10, FW_NORMAL));
    titleFont_.Reset(MakeFont(scale, 18, FW_SEMIBOLD));
    headingFont_.Reset(MakeFont(scale, 11, FW_SEMIBOLD));
    emphasisFont_.Reset(MakeFont(scale, 10, FW_BOLD));
    const int iconSize = scale.Length(kDesignIconSize);
    icon_.Reset(static_cast<HICON>(::LoadImageW(module, MAKEINTRESOURCEW(APPLICATION_ICON_ID), IMAGE_ICON, iconSize,
                                                iconSize, LR_DEFAULTCOLOR)));
}

void ProgressWindow::SetDrawingObjects() {
    for (std::size_t i = 0; i < std::size(kChildren); ++i) {
        const HWND child = children_[i];
        HFONT font = nullptr;
        switch (kChildren[i].font) {
            case FontKind::Body: font = bodyFont_.Get(); break;
            case FontKind::Title: font = titleFont_.Get(); break;
            case FontKind::Heading: font = headingFont_.Get(); break;
            case FontKind::Emphasis: font = emphasisFont_.Get(); break;
            case FontKind::None: break;
        }
        if (child && font) {
            ::SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
        }
    }
    if (children_[kIconChild]) {
        ::SendMessageW(children_[kIconChild], STM_SETICON, reinterpret_cast<WPARAM>(icon_.Get()), 0);
    }
}

void ProgressWindow::ChangeDpi(int dpi, const RECT& suggested) {
    if (dpi <= 0 || !window_) {
        return;
    }
    dpi_ = dpi;
    // The controls keep drawing with the old fonts and icon until they have the new ones.
    UniqueFont oldFonts[] = {std::move(bodyFont_), std::move(titleFont_), std::move(headingFont_),
                             std::move(emphasisFont_)};
    UniqueIcon oldIcon = std::move(icon_);
    MakeDrawingObjects(::GetModuleHandleW(nullptr), dpi);
    const Scaler scale(dpi);
    for (std::size_t i = 0; i < std::size(kChildren); ++i) {
        const ChildLayout& layout = *kChildren[i].layout;
        if (children_[i]) {
            ::SetWindowPos(children_[i], nullptr, scale.Length(layout.x), scale.Length(layout.y),
                           scale.Length(layout.width), scale.Length(layout.height),
                           SWP_NOZORDER | SWP_NOACTIVATE);
        }
    }
    SetDrawingObjects();
    ::SetWindowPos(window_.Get(), nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                   suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
    ::InvalidateRect(window_.Get(), nullptr, TRUE);
}

bool ProgressWindow::HighContrast() const {
    HIGHCONTRASTW contrast{};
    contrast.cbSize = sizeof contrast;
    return calls_.systemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof contrast, &contrast, 0) &&
           (contrast.dwFlags & HCF_HIGHCONTRASTON) != 0;
}

void ProgressWindow::ColourBar() {
    if (!progressBar_) {
        return;
    }
    const bool system = HighContrast();
    // Visual styles may ignore these; they matter on the classic look.
    ::SendMessageW(progressBar_, PBM_SETBARCOLOR, 0, system ? CLR_DEFAULT : kBarColour);
    ::SendMessageW(progressBar_, PBM_SETBKCOLOR, 0, system ? CLR_DEFAULT : kBarBackgroundColour);
}

void ProgressWindow::MakeChildren(HMODULE module, const WideString& version) {
    const HWND parent = window_.Get();
    const Scaler scale(dpi_);
    const WideString versionLine = kVersionPrefix + version + kVersionSuffix;
    const wchar_t* const texts[] = {nullptr,          kTitleText,           versionLine.c_str(), nullptr,
                                    kInitialStatusText, kInitialDetailText, nullptr,             kInitialPercentText,
                                    kInitialBytesText,  kReassuranceText,   kCancelText};
    static_assert(std::size(texts) == std::size(kChildren));
    for (std::size_t i = 0; i < std::size(kChildren); ++i) {
        children_[i] = MakeChild(parent, module, scale, *kChildren[i].layout, texts[i]);
        if (kChildren[i].layout == &kBarLayout && children_[i]) {
            ::SendMessageW(children_[i], PBM_SETRANGE32, 0, kBarRange);
        }
    }
    statusLabel_ = children_[4];
    detailLabel_ = children_[5];
    progressBar_ = children_[6];
    percentLabel_ = children_[7];
    bytesLabel_ = children_[8];
    cancelButton_ = children_[10];
}

void ProgressWindow::Destroy() {
    // The window first: its children still draw with the fonts and the icon until it is gone.
    window_.Reset();
    for (HWND& child : children_) {
        child = nullptr;
    }
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

void ProgressWindow::ShowFailure(const WideString& text, UINT style) { ShowErrorBox(text, style); }

void ProgressWindow::ShowFailureWithoutCommonControls(const WideString& text, UINT style) {
    ShowPlainErrorBox(text, style);
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

bool ProgressWindow::TakeKey(const MSG& msg) {
    // The keys a dialog box takes, for this window's own controls: Esc and Enter cancel, Tab stays on
    // the one tab stop. Space reaches the focused button, which clicks itself. (IsDialogMessage would do
    // the same, but it resets the keyboard cues of the window on every message, which under Wine shows
    // the focus rectangle before any key was pressed.)
    if (msg.message != WM_KEYDOWN || !window_ ||
        (msg.hwnd != window_.Get() && !::IsChild(window_.Get(), msg.hwnd))) {
        return false;
    }
    switch (msg.wParam) {
        case VK_ESCAPE:
        case VK_RETURN:
            ::SendMessageW(window_.Get(), WM_CHANGEUISTATE, MAKEWPARAM(UIS_CLEAR, UISF_HIDEFOCUS), 0);
            ::SendMessageW(window_.Get(), WM_COMMAND, MAKEWPARAM(msg.wParam == VK_ESCAPE ? IDCANCEL : kCancelButtonId,
                                                                 BN_CLICKED),
                           reinterpret_cast<LPARAM>(cancelButton_));
            return true;
        case VK_TAB:
            // From now on the user steers with the keyboard: the focus shows where it is.
            ::SendMessageW(window_.Get(), WM_CHANGEUISTATE, MAKEWPARAM(UIS_CLEAR, UISF_HIDEFOCUS), 0);
            if (cancelButton_ && ::IsWindowEnabled(cancelButton_)) {
                ::SetFocus(cancelButton_);
            }
            return true;
        default:
            return false;
    }
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
        if (TakeKey(msg)) {
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
            // The button itself (a click, or Space while it has the focus), Esc (IDCANCEL) and Enter.
            if (LOWORD(wParam) == kCancelButtonId || LOWORD(wParam) == IDCANCEL) {
                progress->RequestCancel();
                return 0;
            }
            break;
        case WM_SETFOCUS:
            if (progress->cancelButton_ && ::IsWindowEnabled(progress->cancelButton_)) {
                ::SetFocus(progress->cancelButton_);
                return 0;
            }
            break;
        case WM_DPICHANGED:
            // The window moved to a monitor of another DPI, or that monitor's scale changed.
            progress->ChangeDpi(LOWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
            return 0;
        case WM_SYSCOLORCHANGE:
        case WM_SETTINGCHANGE:
            // The user may have turned a high-contrast theme on or off.
            progress->ColourBar();
            ::InvalidateRect(window, nullptr, TRUE);
            break;
        case WM_ERASEBKGND:
            if (progress->HighContrast()) {
                RECT client{};
                ::GetClientRect(window, &client);
                ::FillRect(reinterpret_cast<HDC>(wParam), &client, ::GetSysColorBrush(COLOR_WINDOW));
                return 1;
            }
            break;
        case WM_CLOSE:
            // Closing means "cancel"; the window itself stays until the driver destroys it.
            progress->RequestCancel();
            return 0;
        case WM_CTLCOLORSTATIC: {
            const HDC dc = reinterpret_cast<HDC>(wParam);
            ::SetBkMode(dc, TRANSPARENT);
            // In a high-contrast theme the user's own colours, else dark grey on white.
            if (progress->HighContrast()) {
                ::SetTextColor(dc, ::GetSysColor(COLOR_WINDOWTEXT));
                ::SetBkColor(dc, ::GetSysColor(COLOR_WINDOW));
                return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_WINDOW));
            }
            ::SetTextColor(dc, kTextColour);
            return reinterpret_cast<LRESULT>(::GetStockObject(WHITE_BRUSH));
        }
        default:
            break;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}
