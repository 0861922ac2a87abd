#pragma once
// Everything the user sees of a run, as the driver tells it: the progress window with its status and
// progress, whether the user lets the run go on, and the one box that ends a failed run. The progress
// window is the program's; tests record what a run showed through one of their own. The download
// receives the same object, as the DownloadObserver it is.
#include <windows.h>

#include "common/wide_string.h"
#include "transfer/download_observer.h"

class RunObserver : public DownloadObserver {
public:
    // Opens the progress window for the release's version; false when it cannot be shown.
    virtual bool Open(const WideString& version) = 0;
    // Rewrites the two status lines.
    virtual void ShowStatus(const WideString& status, const WideString& detail) = 0;
    // Closes the progress window; nothing happens when none is open.
    virtual void Close() = 0;
    // The box that ends a run, with its text exactly as given: no owner window, the product's caption,
    // style (MB_ICONERROR, MB_ICONWARNING or MB_ICONINFORMATION) brought to the foreground.
    virtual void ShowFailure(const WideString& text, UINT style) = 0;
    // The same for a refusal made before Common Controls may load: no Common Controls class is drawn.
    virtual void ShowFailureWithoutCommonControls(const WideString& text, UINT style) = 0;
    // ContinueDownload and BlockReceived (DownloadObserver): whether the user lets the run go on, and how
    // far the download has come.

protected:
    ~RunObserver() = default;
};
