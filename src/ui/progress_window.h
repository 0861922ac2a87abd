#pragma once
// The one window the program owns: modeless, passive, destroyed before any message box or launch.
#include <windows.h>

#include <cstdint>

#include "common/wide_string.h"

inline constexpr int kProgressBarId = 2001;
inline constexpr int kCancelButtonId = 2002;
inline constexpr wchar_t kProgressWindowClass[] = L"BrimlowAIQuilloInstallerProgress";
inline constexpr wchar_t kProgressWindowTitle[] = L"Brimlow AI Quillo Setup";

// The driver owns one, zeroed, as a local. Field order is part of the design.
struct ProgressWindow {
    HWND window = nullptr;
    HWND progressBar = nullptr;
    HWND statusLabel = nullptr;
    HWND detailLabel = nullptr;
    HWND percentLabel = nullptr;
    HWND bytesLabel = nullptr;
    HWND cancelButton = nullptr;
    HFONT bodyFont = nullptr;
    HFONT titleFont = nullptr;
    HFONT headingFont = nullptr;
    HFONT emphasisFont = nullptr;
    HICON icon = nullptr;
    bool cancelRequested = false;
    std::uint64_t lastProgressTick = 0;
};

// The system DPI is fixed for a process's lifetime, and class registration and window creation do not
// fail on a test machine: tests swap these to see the window scaled, and to see it not made at all.
struct WindowApi {
    UINT(WINAPI* getDpiForSystem)();
    decltype(&::RegisterClassExW) registerClassExW;
    decltype(&::CreateWindowExW) createWindowExW;
};

extern const WindowApi kSystemWindowApi;

bool Create(ProgressWindow& progress, const WideString& version);
bool Create(ProgressWindow& progress, const WideString& version, const WindowApi& api);
void Destroy(ProgressWindow& progress);
LRESULT CALLBACK ProgressWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
