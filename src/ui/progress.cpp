#include "ui/progress.h"

#include <commctrl.h>

#include <cwchar>

namespace {

constexpr wchar_t kCancellingButtonText[] = L"Cancelling\u2026";
constexpr wchar_t kCancellingStatusText[] = L"Cancelling download\u2026";
constexpr wchar_t kCancellingDetailText[] = L"Removing the partial file safely.";
constexpr wchar_t kBytesFormat[] = L"%.1f MB of %.1f MB";

constexpr std::uint64_t kRedrawIntervalMs = 100;
constexpr std::uint64_t kBarScale = 10000;  // hundredths of a percent, the bar's range
constexpr std::size_t kBytesTextCapacity = 96;
constexpr double kBytesPerMegabyte = 1000000.0;

void SetTextIfPresent(HWND control, const wchar_t* text) {
    if (control) {
        ::SetWindowTextW(control, text);
    }
}

// Records a cancel request and says so in the window: the flag, the disabled button and the two texts.
// Shared by the window procedure (Cancel, the close button) and the pump (WM_QUIT).
void MarkCancelled(ProgressWindow& progress) {
    progress.cancelRequested = true;
    if (progress.cancelButton) {
        ::SetWindowTextW(progress.cancelButton, kCancellingButtonText);
        ::EnableWindow(progress.cancelButton, FALSE);
    }
    SetTextIfPresent(progress.statusLabel, kCancellingStatusText);
    SetTextIfPresent(progress.detailLabel, kCancellingDetailText);
}

}  // namespace

void PumpMessages(ProgressWindow& progress) {
    MSG msg{};
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            // A quit request means "stop", never "leave a loop": there is no loop to leave, and the
            // download must end through its own cancellation path. The message is consumed here.
            if (!progress.cancelRequested) {
                MarkCancelled(progress);
            }
            continue;
        }
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
}

void RequestCancel(ProgressWindow& progress) {
    if (progress.cancelRequested) {
        return;
    }
    MarkCancelled(progress);
}

void UpdateProgress(ProgressWindow& progress, std::uint64_t received, std::uint64_t total,
                    const ProgressCalls& calls) {
    if (!progress.window || total == 0) {
        return;
    }
    const std::uint64_t now = calls.getTickCount64();
    if (received > total) {
        received = total;
    } else if (received < total && now - progress.lastProgressTick < kRedrawIntervalMs) {
        // Blocks arrive far faster than anyone can read; the last one always shows.
        return;
    }
    progress.lastProgressTick = now;

    const std::uint64_t position = received * kBarScale / total;
    if (progress.progressBar) {
        ::SendMessageW(progress.progressBar, PBM_SETPOS, static_cast<WPARAM>(position), 0);
    }

    const std::uint64_t percent = received * 100 / total;
    wchar_t percentText[24] = {};
    ::_snwprintf(percentText, 23, L"%I64u%%", percent);
    SetTextIfPresent(progress.percentLabel, percentText);

    wchar_t bytesText[kBytesTextCapacity] = {};
    ::_snwprintf(bytesText, kBytesTextCapacity - 1, kBytesFormat, static_cast<double>(received) / kBytesPerMegabyte,
                 static_cast<double>(total) / kBytesPerMegabyte);
    SetTextIfPresent(progress.bytesLabel, bytesText);

    PumpMessages(progress);
}

void ShowStatus(ProgressWindow& progress, const WideString& status, const WideString& detail) {
    SetTextIfPresent(progress.statusLabel, status.c_str());
    SetTextIfPresent(progress.detailLabel, detail.c_str());
    PumpMessages(progress);
}

bool ProgressWindowObserver::ContinueDownload() {
    PumpMessages(progress_);
    return !progress_.cancelRequested;
}

void ProgressWindowObserver::BlockReceived(std::uint64_t received, std::uint64_t total) {
    UpdateProgress(progress_, received, total);
}
