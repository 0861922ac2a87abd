// Waits for a message box with the given caption, prints its text and style, and presses its button.
// Usage: answer_box.exe CAPTION [TIMEOUT_MS] [BUTTON_ID]   (BUTTON_ID defaults to IDOK)
// Exit code: 0 when a box was answered, 1 when none appeared in time.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        std::fputs("usage: answer_box CAPTION [TIMEOUT_MS] [BUTTON_ID]\n", stderr);
        return 2;
    }
    const DWORD timeout = argc > 2 ? std::wcstoul(argv[2], nullptr, 10) : 30000;
    const WPARAM button = argc > 3 ? std::wcstoul(argv[3], nullptr, 10) : IDOK;
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < timeout) {
        HWND box = FindWindowW(L"#32770", argv[1]);
        if (box) {
            Sleep(200);  // let the box finish creating its children
            wchar_t text[2048] = {};
            GetDlgItemTextW(box, 0xFFFF, text, 2048);
            HWND icon = GetDlgItem(box, 0x14);  // the icon's static control
            const LONG iconStyle = icon ? GetWindowLongW(icon, GWL_STYLE) : 0;
            char utf8[8192] = {};
            WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof utf8, nullptr, nullptr);
            std::printf("text=%s\nicon_control=%d\n", utf8, iconStyle != 0);
            std::fflush(stdout);
            PostMessageW(box, WM_COMMAND, button, 0);
            return 0;
        }
        Sleep(100);
    }
    return 1;
}
