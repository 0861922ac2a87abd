#pragma once
// Test-only helpers that look at real windows the way a user (or an accessibility tool) would: find
// them, read their controls, and press their keys and buttons. Only windows of this process count, so
// other test programs sharing the virtual display never interfere.
#include <windows.h>

#include "common/win32_handles.h"

#include <functional>
#include <string>
#include <vector>

namespace window_probe {

struct Control {
    HWND handle = nullptr;
    std::wstring className;
    std::wstring text;
    LONG style = 0;
    int id = 0;
    RECT rect{};  // in the parent's client coordinates
    bool enabled = false;
    bool visible = false;
};

// A top-level window of this process with that class and title, waiting up to timeoutMs for it.
HWND WaitForWindow(const std::wstring& className, const std::wstring& title, DWORD timeoutMs = 10000);

std::wstring TextOf(HWND window);
std::wstring ClassOf(HWND window);

// Every direct child, in z-order (creation order for the windows made here).
std::vector<Control> ChildrenOf(HWND parent);
// Every descendant, at any depth.
std::vector<Control> DescendantsOf(HWND parent);

// Keystrokes go where the keyboard would send them: the focused window of the window's thread.
void PostKey(HWND window, WPARAM virtualKey);
void PostAltKey(HWND window, WPARAM virtualKey);

// Runs a function on a second thread while the calling thread sits in a modal loop.
class Helper {
public:
    explicit Helper(std::function<void()> work);
    ~Helper();
    Helper(const Helper&) = delete;
    Helper& operator=(const Helper&) = delete;
    void Join();

private:
    static DWORD WINAPI Run(void* self);
    std::function<void()> work_;
    UniqueThread thread_;
};

// Copies what is on screen inside the window's rectangle into a 24-bit BMP file.
bool SaveWindowImage(HWND window, const std::wstring& path);

}  // namespace window_probe
