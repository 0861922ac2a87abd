#include "ui/progress_layout_check.h"

#include <commctrl.h>

#include <gtest/gtest.h>

#include <vector>

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

struct ExpectedControl {
    const wchar_t* className;
    const wchar_t* text;
    LONG style;
    int x, y, width, height;
    int id;
    UniqueFont ProgressWindow::*font;  // null member: no font
};

}  // namespace

void ExpectLaidOut(const ProgressWindow& progress, const std::wstring& versionLine, int dpi) {
    ASSERT_TRUE(progress.window.Get());
    EXPECT_EQ(window_probe::ClassOf(progress.window.Get()), kProgressWindowClass);
    EXPECT_EQ(TextOf(progress.window.Get()), L"Brimlow AI Quillo Setup");
    const LONG style = ::GetWindowLongW(progress.window.Get(), GWL_STYLE);
    EXPECT_EQ(style & 0x00CF0000, 0x00CA0000) << std::hex << style;  // caption, close, minimise; no resize
    EXPECT_TRUE(style & WS_VISIBLE);
    EXPECT_TRUE(::GetWindowLongW(progress.window.Get(), GWL_EXSTYLE) & WS_EX_APPWINDOW);

    RECT frame{};
    ::GetWindowRect(progress.window.Get(), &frame);
    RECT work{};
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    const int width = Scaled(600, dpi);
    const int height = Scaled(340, dpi);
    EXPECT_EQ(frame.right - frame.left, width);
    EXPECT_EQ(frame.bottom - frame.top, height);
    EXPECT_EQ(frame.left, work.left + (work.right - work.left - width) / 2);
    EXPECT_EQ(frame.top, work.top + (work.bottom - work.top - height) / 2);

    const ExpectedControl expected[] = {
        {L"Static", L"", 0x50000003, 28, 24, 48, 48, 0, nullptr},
        {L"Static", L"Installing Brimlow AI Quillo", 0x50000000, 92, 22, 470, 34, 0, &ProgressWindow::titleFont},
        {L"Static", versionLine.c_str(), 0x50000080, 92, 57, 470, 22, 0, &ProgressWindow::bodyFont},
        {L"Static", L"", 0x50000010, 28, 91, 534, 2, 0, nullptr},
        {L"Static", L"Connecting to Brimlow secure servers\u2026", 0x50000000, 28, 112, 534, 26, 0,
         &ProgressWindow::headingFont},
        {L"Static", L"Preparing the verified installer download.", 0x50000000, 28, 143, 534, 22, 0,
         &ProgressWindow::bodyFont},
        {L"msctls_progress32", L"", 0x50000001, 28, 176, 534, 18, kProgressBarId, nullptr},
        {L"Static", L"0%", 0x50000000, 28, 205, 80, 22, 0, &ProgressWindow::emphasisFont},
        {L"Static", L"Preparing\u2026", 0x50000002, 250, 205, 312, 22, 0, &ProgressWindow::bodyFont},
        {L"Static", L"\u2713  Publisher and SHA-256 integrity will be verified before installation.", 0x50000000,
         28, 242, 405, 40, 0, &ProgressWindow::bodyFont},
        {L"Button", L"Cancel", 0x50010000, 458, 244, 104, 34, kCancelButtonId, &ProgressWindow::bodyFont},
    };
    const std::vector<Control> children = ChildrenOf(progress.window.Get());
    ASSERT_EQ(children.size(), std::size(expected));
    for (std::size_t i = 0; i < children.size(); ++i) {
        SCOPED_TRACE(testing::Message() << "control " << i + 1);
        const Control& actual = children[i];
        const ExpectedControl& want = expected[i];
        EXPECT_EQ(::CompareStringOrdinal(actual.className.c_str(), -1, want.className, -1, TRUE), CSTR_EQUAL);
        EXPECT_EQ(actual.text, want.text);
        EXPECT_EQ(actual.style, want.style) << std::hex << actual.style;
        EXPECT_EQ(actual.id, want.id);
        EXPECT_EQ(actual.rect.left, Scaled(want.x, dpi));
        EXPECT_EQ(actual.rect.top, Scaled(want.y, dpi));
        // An etched line sizes itself to the system's edge metrics (Wine: 2 px high and 2 px wider at
        // 144 DPI), so only its place is the window's to decide.
        const int slack = (want.style & SS_TYPEMASK) == SS_ETCHEDHORZ ? 2 : 0;
        EXPECT_NEAR(actual.rect.right - actual.rect.left, Scaled(want.width, dpi), slack);
        EXPECT_NEAR(actual.rect.bottom - actual.rect.top, Scaled(want.height, dpi), slack);
        const HFONT font = reinterpret_cast<HFONT>(::SendMessageW(actual.handle, WM_GETFONT, 0, 0));
        if (want.font) {
            EXPECT_EQ(font, (progress.*want.font).Get());
        }
    }

    // The record holds the controls that are rewritten later.
    EXPECT_EQ(progress.statusLabel, children[4].handle);
    EXPECT_EQ(progress.detailLabel, children[5].handle);
    EXPECT_EQ(progress.progressBar, children[6].handle);
    EXPECT_EQ(progress.percentLabel, children[7].handle);
    EXPECT_EQ(progress.bytesLabel, children[8].handle);
    EXPECT_EQ(progress.cancelButton, children[10].handle);

    const struct {
        HFONT font;
        int points;
        LONG weight;
    } fonts[] = {{progress.bodyFont.Get(), 10, 400},
                 {progress.titleFont.Get(), 18, 600},
                 {progress.headingFont.Get(), 11, 600},
                 {progress.emphasisFont.Get(), 10, 700}};
    for (const auto& font : fonts) {
        ASSERT_TRUE(font.font);
        const LOGFONTW description = FontOf(font.font);
        EXPECT_EQ(description.lfHeight, -::MulDiv(font.points, dpi, 72));
        EXPECT_EQ(description.lfWeight, font.weight);
        EXPECT_STREQ(description.lfFaceName, L"Segoe UI");
        EXPECT_EQ(description.lfQuality, CLEARTYPE_QUALITY);
    }

    ASSERT_TRUE(progress.icon.Get());
    ICONINFO iconInfo{};
    ASSERT_TRUE(::GetIconInfo(progress.icon.Get(), &iconInfo));
    BITMAP iconBitmap{};
    ::GetObjectW(iconInfo.hbmColor, sizeof iconBitmap, &iconBitmap);
    EXPECT_EQ(iconBitmap.bmWidth, Scaled(48, dpi));
    ::DeleteObject(iconInfo.hbmColor);
    ::DeleteObject(iconInfo.hbmMask);
    EXPECT_EQ(reinterpret_cast<HICON>(::SendMessageW(children[0].handle, STM_GETICON, 0, 0)), progress.icon.Get());

    PBRANGE range{};
    ::SendMessageW(progress.progressBar, PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
    EXPECT_EQ(range.iLow, 0);
    EXPECT_EQ(range.iHigh, 10000);
    EXPECT_EQ(::SendMessageW(progress.progressBar, PBM_GETPOS, 0, 0), 0);
}

