#pragma once
// Progress display, message pump and cooperative cancellation on the driver's only thread.
#include <windows.h>

#include <cstdint>

#include "common/wide_string.h"
#include "transfer/download_observer.h"
#include "ui/progress_window.h"

// The tick counter behind the redraw throttle; tests step it by hand instead of sleeping.
struct ProgressCalls {
    decltype(&::GetTickCount64) getTickCount64 = ::GetTickCount64;
};

void PumpMessages(ProgressWindow& progress);
void RequestCancel(ProgressWindow& progress);
void UpdateProgress(ProgressWindow& progress, std::uint64_t received, std::uint64_t total,
                    const ProgressCalls& calls = {});
void ShowStatus(ProgressWindow& progress, const WideString& status, const WideString& detail);

// Connects a download to the progress window: before every read the window's messages are handled and
// a cancel request stops the download; every block moves the bar.
class ProgressWindowObserver final : public DownloadObserver {
public:
    explicit ProgressWindowObserver(ProgressWindow& progress) : progress_(progress) {}
    bool ContinueDownload() override;
    void BlockReceived(std::uint64_t received, std::uint64_t total) override;

private:
    ProgressWindow& progress_;
};
