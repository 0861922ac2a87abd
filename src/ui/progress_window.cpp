#include "ui/progress_window.h"

// Placeholder until the window lands.
bool Create(ProgressWindow&, const WideString&) { return false; }
void Destroy(ProgressWindow&) {}
LRESULT CALLBACK ProgressWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return ::DefWindowProcW(window, message, wParam, lParam);
}
