#pragma once
// The one window the program owns: modeless, passive, destroyed before any message box or launch.
#include <windows.h>

#include <cstdint>

#include "common/product_texts.h"
#include "common/wide_string.h"
#include "common/win32_handles.h"

inline constexpr int kProgressBarId = 2001;
inline constexpr int kCancelButtonId = 2002;
inline constexpr wchar_t kProgressWindowClass[] = L"BrimlowAIQuilloInstallerProgress";

// The system DPI is fixed for a process's lifetime, and class registration and window creation do not
// fail on a test machine: tests replace these to see the window scaled, and to see it not made at all.
struct WindowCalls {
    decltype(&::GetDpiForSystem) getDpiForSystem = ::GetDpiForSystem;
    decltype(&::RegisterClassExW) registerClassExW = ::RegisterClassExW;
    decltype(&::CreateWindowExW) createWindowExW = ::CreateWindowExW;
};

// The driver owns one as a local. The window procedure finds it through the window, so it never moves.
struct ProgressWindow {
    ProgressWindow() = default;
    ~ProgressWindow() { Destroy(); }
    ProgressWindow(const ProgressWindow&) = delete;
    ProgressWindow& operator=(const ProgressWindow&) = delete;

    // Shows the window for the release's version. False when the class or the window cannot be made;
    // the record then holds nothing.
    bool Create(const WideString& version, const WindowCalls& calls = {});
    // Destroys the window (its controls with it), then the icon, then the fonts. Safe on a record that
    // holds nothing and safe to call twice.
    void Destroy();

    UniqueWindow window;
    // The controls the program writes to; they belong to window.
    HWND progressBar = nullptr;
    HWND statusLabel = nullptr;
    HWND detailLabel = nullptr;
    HWND percentLabel = nullptr;
    HWND bytesLabel = nullptr;
    HWND cancelButton = nullptr;
    UniqueFont bodyFont;
    UniqueFont titleFont;
    UniqueFont headingFont;
    UniqueFont emphasisFont;
    UniqueIcon icon;
    bool cancelRequested = false;
    std::uint64_t lastProgressTick = 0;
};

LRESULT CALLBACK ProgressWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
