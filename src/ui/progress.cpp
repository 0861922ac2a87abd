#include "ui/progress.h"

// Placeholder until progress lands.
void PumpMessages(ProgressWindow&) {}
void RequestCancel(ProgressWindow& progress) { progress.cancelRequested = true; }
void UpdateProgress(ProgressWindow&, std::uint64_t, std::uint64_t) {}
void ShowStatus(ProgressWindow&, const WideString&, const WideString&) {}
