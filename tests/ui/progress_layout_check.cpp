#include "ui/progress_layout_check.h"

#include <commctrl.h>

#include <gtest/gtest.h>

#include <map>
#include <utility>
#include <vector>

#include "ui/progress_window.h"
#include "ui/window_probe.h"

using window_probe::ChildrenOf;
using window_probe::Control;
using window_probe::TextOf;

namespace {

int Scaled(int designPixels, int dpi) { return ::MulDiv(designPixels, dpi, 96); }

LOGFONTW FontOf(HFONT font) {
    LOGFONTW description{};
    ::GetObjectW(font, sizeof description, &description);
    return description;
}

// A control's font by its size and weight; controls with the same one share one font object.
struct FontSpec {
    int points;
    LONG weight;
};
constexpr FontSpec kNoFont = {0, 0};
constexpr FontSpec kBodyFont = {10, FW_NORMAL};
constexpr FontSpec kTitleFont = {18, FW_SEMIBOLD};
constexpr FontSpec kHeadingFont = {11, FW_SEMIBOLD};
constexpr FontSpec kEmphasisFont = {10, FW_BOLD};

struct ExpectedControl {
    const wchar_t* className;
    const wchar_t* text;
    LONG style;
    int x, y, width, height;
    int id;
    FontSpec font;
};

// The control's text, laid out in its font as the control lays it out (wrapped at words within its
// width), takes no more than its height: nothing is cut.
void ExpectTextFits(const Control& control, HFONT font) {
    const HDC dc = ::GetDC(control.handle);
    const HGDIOBJ previous = ::SelectObject(dc, font);
    RECT needed{0, 0, control.rect.right - control.rect.left, 0};
    const bool button = (control.style & BS_TYPEMASK) == BS_PUSHBUTTON && control.className == L"Button";
    UINT format = DT_CALCRECT | DT_NOPREFIX;
    format |= button ? DT_SINGLELINE : DT_WORDBREAK;
    ::DrawTextW(dc, control.text.c_str(), -1, &needed, format);
    ::SelectObject(dc, previous);
    ::ReleaseDC(control.handle, dc);
    EXPECT_LE(needed.bottom, control.rect.bottom - control.rect.top) << "text cut: " << testing::PrintToString(control.text);
    EXPECT_LE(needed.right, control.rect.right - control.rect.left) << "text cut: " << testing::PrintToString(control.text);
}

}  // namespace

void ExpectLaidOut(HWND window, const std::wstring& versionLine, int dpi) {
    ASSERT_TRUE(window);
    EXPECT_EQ(window_probe::ClassOf(window), kProgressWindowClass);
    EXPECT_EQ(TextOf(window), L"Brimlow AI Quillo Setup");
    const LONG style = ::GetWindowLongW(window, GWL_STYLE);
    EXPECT_EQ(style & 0x00CF0000, 0x00CA0000) << std::hex << style;  // caption, close, minimise; no resize
    EXPECT_TRUE(style & WS_VISIBLE);
    EXPECT_TRUE(::GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_APPWINDOW);

    RECT frame{};
    ::GetWindowRect(window, &frame);
    RECT work{};
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    const int width = Scaled(600, dpi);
    const int height = Scaled(340, dpi);
    EXPECT_EQ(frame.right - frame.left, width);
    EXPECT_EQ(frame.bottom - frame.top, height);
    EXPECT_EQ(frame.left, work.left + (work.right - work.left - width) / 2);
    EXPECT_EQ(frame.top, work.top + (work.bottom - work.top - height) / 2);

    const ExpectedControl expected[] = {
        {L"Static", L"", 0x50000003, 28, 24, 48, 48, 0, kNoFont},
        {L"Static", L"Installing Brimlow AI Quillo", 0x50000000, 92, 22, 470, 34, 0, kTitleFont},
        {L"Static", versionLine.c_str(), 0x50000080, 92, 57, 470, 22, 0, kBodyFont},
        {L"Static", L"", 0x50000010, 28, 91, 534, 2, 0, kNoFont},
        {L"Static", L"Connecting to Brimlow secure servers\u2026", 0x50000000, 28, 112, 534, 26, kStatusLabelId,
         kHeadingFont},
        {L"Static", L"Preparing the verified installer download.", 0x50000000, 28, 143, 534, 22, kDetailLabelId,
         kBodyFont},
        {L"msctls_progress32", L"", 0x50000001, 28, 176, 534, 18, kProgressBarId, kNoFont},
        {L"Static", L"0%", 0x50000000, 28, 205, 80, 22, kPercentLabelId, kEmphasisFont},
        {L"Static", L"Preparing\u2026", 0x50000002, 250, 205, 312, 22, kBytesLabelId, kBodyFont},
        {L"Static", L"\u2713  Publisher and SHA-256 integrity will be verified before installation.", 0x50000000,
         28, 242, 405, 40, 0, kBodyFont},
        {L"Button", L"Cancel", 0x50010000, 458, 244, 104, 34, kCancelButtonId, kBodyFont},
    };
    const std::vector<Control> children = ChildrenOf(window);
    ASSERT_EQ(children.size(), std::size(expected));
    RECT client{};
    ::GetClientRect(window, &client);
    std::map<std::pair<int, LONG>, HFONT> fontBySpec;
    for (std::size_t i = 0; i < children.size(); ++i) {
        SCOPED_TRACE(testing::Message() << "control " << i + 1);
        const Control& actual = children[i];
        const ExpectedControl& want = expected[i];
        EXPECT_EQ(::CompareStringOrdinal(actual.className.c_str(), -1, want.className, -1, TRUE), CSTR_EQUAL);
        EXPECT_EQ(actual.text, want.text);
        EXPECT_EQ(actual.style, want.style) << std::hex << actual.style;
        EXPECT_EQ(actual.id, want.id);
        if (want.id != 0) {
            // The controls that are rewritten later are found by their ids.
            EXPECT_EQ(::GetDlgItem(window, want.id), actual.handle);
        }
        EXPECT_EQ(actual.rect.left, Scaled(want.x, dpi));
        EXPECT_EQ(actual.rect.top, Scaled(want.y, dpi));
        // An etched line sizes itself to the system's edge metrics (Wine: 2 px high and 2 px wider at
        // 144 DPI), so only its place is the window's to decide.
        const int slack = (want.style & SS_TYPEMASK) == SS_ETCHEDHORZ ? 2 : 0;
        EXPECT_NEAR(actual.rect.right - actual.rect.left, Scaled(want.width, dpi), slack);
        EXPECT_NEAR(actual.rect.bottom - actual.rect.top, Scaled(want.height, dpi), slack);
        EXPECT_GE(actual.rect.left, client.left);
        EXPECT_GE(actual.rect.top, client.top);
        EXPECT_LE(actual.rect.right, client.right) << "outside the client area";
        EXPECT_LE(actual.rect.bottom, client.bottom) << "outside the client area";
        if (want.font.points == 0) {
            continue;
        }
        const HFONT font = reinterpret_cast<HFONT>(::SendMessageW(actual.handle, WM_GETFONT, 0, 0));
        ASSERT_TRUE(font);
        ExpectTextFits(actual, font);
        const LOGFONTW description = FontOf(font);
        EXPECT_EQ(description.lfHeight, -::MulDiv(want.font.points, dpi, 72));
        EXPECT_EQ(description.lfWeight, want.font.weight);
        EXPECT_STREQ(description.lfFaceName, L"Segoe UI");
        EXPECT_EQ(description.lfQuality, CLEARTYPE_QUALITY);
        const auto [shared, first] = fontBySpec.try_emplace({want.font.points, want.font.weight}, font);
        if (!first) {
            EXPECT_EQ(font, shared->second) << "one font object for each size and weight";
        }
    }
    EXPECT_EQ(fontBySpec.size(), 4u);

    const HICON icon = reinterpret_cast<HICON>(::SendMessageW(children[0].handle, STM_GETICON, 0, 0));
    ASSERT_TRUE(icon);
    ICONINFO iconInfo{};
    ASSERT_TRUE(::GetIconInfo(icon, &iconInfo));
    BITMAP iconBitmap{};
    ::GetObjectW(iconInfo.hbmColor, sizeof iconBitmap, &iconBitmap);
    EXPECT_EQ(iconBitmap.bmWidth, Scaled(48, dpi));
    ::DeleteObject(iconInfo.hbmColor);
    ::DeleteObject(iconInfo.hbmMask);

    const HWND bar = ::GetDlgItem(window, kProgressBarId);
    PBRANGE range{};
    ::SendMessageW(bar, PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
    EXPECT_EQ(range.iLow, 0);
    EXPECT_EQ(range.iHigh, 10000);
    EXPECT_EQ(::SendMessageW(bar, PBM_GETPOS, 0, 0), 0);
}
