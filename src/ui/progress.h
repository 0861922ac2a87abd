#pragma once
// Progress display, message pump and cooperative cancellation on the driver's only thread.
#include <windows.h>

#include <cstdint>

#include "common/wide_string.h"
#include "ui/progress_window.h"

// The tick counter behind the redraw throttle; tests step it by hand instead of sleeping.
struct ProgressApi {
    ULONGLONG(WINAPI* getTickCount64)();
};

extern const ProgressApi kSystemProgressApi;

void PumpMessages(ProgressWindow& progress);
void RequestCancel(ProgressWindow& progress);
void UpdateProgress(ProgressWindow& progress, std::uint64_t received, std::uint64_t total);
void UpdateProgress(ProgressWindow& progress, std::uint64_t received, std::uint64_t total, const ProgressApi& api);
void ShowStatus(ProgressWindow& progress, const WideString& status, const WideString& detail);
