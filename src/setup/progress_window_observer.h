#pragma once
// Connects a download to the progress window: before every read the window's messages are handled and
// a cancel request stops the download; every block moves the bar. The download knows nothing of windows
// and the window nothing of downloads; the driver puts them together through this.
#include <cstdint>

#include "transfer/download_observer.h"
#include "ui/progress_window.h"

class ProgressWindowObserver final : public DownloadObserver {
public:
    explicit ProgressWindowObserver(ProgressWindow& progress) : progress_(progress) {}
    bool ContinueDownload() override { return progress_.PumpMessages(); }
    void BlockReceived(std::uint64_t received, std::uint64_t total) override {
        progress_.ShowProgress(received, total);
    }

private:
    ProgressWindow& progress_;
};
