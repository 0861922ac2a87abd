#pragma once
// Progress display, message pump and cooperative cancellation on the driver's only thread.
#include <cstdint>

#include "common/wide_string.h"
#include "ui/progress_window.h"

void PumpMessages(ProgressWindow& progress);
void RequestCancel(ProgressWindow& progress);
void UpdateProgress(ProgressWindow& progress, std::uint64_t received, std::uint64_t total);
void ShowStatus(ProgressWindow& progress, const WideString& status, const WideString& detail);
