// Waits for a message box with the given caption, prints its text and style, and presses its button.
// Usage: answer_box.exe CAPTION [TIMEOUT_MS] [BUTTON_ID] [task|box|progress|watch] [PROGRAM.exe] [WATCH_MS]
// BUTTON_ID defaults to IDOK. With "task" the window is a task dialog, and its button is pressed with
// TDM_CLICK_BUTTON. With "progress" the window is the installer's progress window: once its bar has
// moved, so that a download is under way, the button is clicked (BUTTON_ID 0 clicks nothing).
// With "watch" the window is the progress window too: from the moment it shows, it is asked for a reply
// every 100 ms, as Windows asks before it calls a window "Not Responding"; after WATCH_MS the button is
// clicked, and the asking goes on until the window is gone and the run's message box has appeared. It
// prints the longest wait for a reply and the time from the click to the box.
// With PROGRAM only a window of a process running that program counts, so that other programs'
// windows on the same desktop are left alone.
// Exit code: 0 when a box was answered, 1 when none appeared in time.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/win32_handles.h"
#include "ui/progress_window.h"

static bool IsWindowOfProgram(HWND window, const wchar_t* program) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    const UniqueProcess process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    if (!process) return false;
    wchar_t image[MAX_PATH] = {};
    DWORD size = MAX_PATH;
    const BOOL ok = QueryFullProcessImageNameW(process.Get(), 0, image, &size);
    const wchar_t* name = wcsrchr(image, L'\\');
    return ok && _wcsicmp(name ? name + 1 : image, program) == 0;
}

// The first top-level window of that class and caption, of a process running program when one is named.
static HWND FindProgramWindow(const wchar_t* windowClass, const wchar_t* caption, const wchar_t* program) {
    HWND window = nullptr;
    while ((window = FindWindowExW(nullptr, window, windowClass, caption)) != nullptr) {
        if (!program || IsWindowOfProgram(window, program)) break;
    }
    return window;
}

// Once the progress bar has moved, clicks the button (0: none) and prints the bar's position.
static bool AnswerProgress(HWND window, WPARAM button) {
    const LRESULT position = SendDlgItemMessageW(window, kProgressBarId, PBM_GETPOS, 0, 0);
    if (position <= 0) return false;
    std::printf("progress=%ld\n", static_cast<long>(position));
    std::fflush(stdout);
    if (button != 0) {
        PostMessageW(window, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(window, static_cast<int>(button))));
    }
    return true;
}

// Prints the box's text and whether it has an icon, then presses the button.
static void AnswerBox(HWND box, WPARAM button, bool taskDialog) {
    // A message box may still be creating its children: wait for its text, a few seconds at most.
    wchar_t text[2048] = {};
    for (int tries = 0; !taskDialog && tries < 50 && GetDlgItemTextW(box, 0xFFFF, text, 2048) == 0; ++tries) {
        Sleep(100);
    }
    Sleep(100);
    HWND icon = GetDlgItem(box, 0x14);  // the icon's static control
    const LONG iconStyle = icon ? GetWindowLongW(icon, GWL_STYLE) : 0;
    char utf8[8192] = {};
    WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof utf8, nullptr, nullptr);
    std::printf("text=%s\nicon_control=%d\n", utf8, iconStyle != 0);
    std::fflush(stdout);
    PostMessageW(box, taskDialog ? WM_USER + 102 : WM_COMMAND, button, 0);
}

// Asks the window for a reply every 100 ms; clicks the button after watchMs; ends when the program's box
// is there (true) or at the deadline (false).
static bool WatchProgress(HWND window, WPARAM button, DWORD watchMs, const wchar_t* program, DWORD deadline) {
    const ULONGLONG shown = GetTickCount64();
    ULONGLONG longest = 0;
    ULONGLONG longestAt = 0;
    ULONGLONG clicked = 0;
    int replies = 0;
    while (GetTickCount64() < deadline) {
        if (IsWindow(window)) {
            const ULONGLONG asked = GetTickCount64();
            DWORD_PTR result = 0;
            if (SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, 10000, &result)) {
                ++replies;
            }
            // A window destroyed while it was asked ends the wait too; that wait counts as well.
            if (GetTickCount64() - asked > longest) {
                longest = GetTickCount64() - asked;
                longestAt = asked - shown;
            }
        }
        if (clicked == 0 && GetTickCount64() - shown >= watchMs) {
            clicked = GetTickCount64();
            PostMessageW(window, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                         reinterpret_cast<LPARAM>(GetDlgItem(window, static_cast<int>(button))));
        }
        if (clicked != 0 && FindProgramWindow(L"#32770", L"Brimlow AI Quillo", program)) {
            std::printf("replies=%d\nlongest_reply_ms=%llu\nlongest_reply_asked_at_ms=%llu\nclicked_at_ms=%llu\n"
                        "click_to_box_ms=%llu\n",
                        replies, longest, longestAt, clicked - shown, GetTickCount64() - clicked);
            std::fflush(stdout);
            return true;
        }
        Sleep(clicked != 0 ? 20 : 100);
    }
    std::printf("replies=%d\nlongest_reply_ms=%llu\nno box\n", replies, longest);
    return false;
}

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        std::fputs("usage: answer_box CAPTION [TIMEOUT_MS] [BUTTON_ID] [task|box|progress] [PROGRAM.exe]\n", stderr);
        return 2;
    }
    const DWORD timeout = argc > 2 ? std::wcstoul(argv[2], nullptr, 10) : 30000;
    const WPARAM button = argc > 3 ? std::wcstoul(argv[3], nullptr, 10) : IDOK;
    const wchar_t* kind = argc > 4 ? argv[4] : L"box";
    const wchar_t* program = argc > 5 ? argv[5] : nullptr;
    const bool watch = wcscmp(kind, L"watch") == 0;
    const bool progress = watch || wcscmp(kind, L"progress") == 0;
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < timeout) {
        if (watch) {
            const HWND window = FindProgramWindow(kProgressWindowClass, argv[1], program);
            if (window) {
                const DWORD watchMs = argc > 6 ? std::wcstoul(argv[6], nullptr, 10) : 10000;
                return WatchProgress(window, button, watchMs, program, GetTickCount64() + timeout) ? 0 : 1;
            }
            Sleep(20);
            continue;
        }
        const HWND window = FindProgramWindow(progress ? kProgressWindowClass : L"#32770", argv[1], program);
        if (window && progress && AnswerProgress(window, button)) {
            return 0;
        }
        if (window && !progress) {
            AnswerBox(window, button, wcscmp(kind, L"task") == 0);
            return 0;
        }
        Sleep(progress ? 50 : 100);
    }
    return 1;
}
