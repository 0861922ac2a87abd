#include "ui/window_probe.h"

#include "common/win32_handles.h"

namespace window_probe {

namespace {

struct FindRequest {
    std::wstring className;
    std::wstring title;
    HWND found = nullptr;
};

BOOL CALLBACK MatchTopLevel(HWND window, LPARAM parameter) {
    auto* request = reinterpret_cast<FindRequest*>(parameter);
    DWORD process = 0;
    ::GetWindowThreadProcessId(window, &process);
    if (process == ::GetCurrentProcessId() && ClassOf(window) == request->className &&
        TextOf(window) == request->title && ::IsWindowVisible(window)) {
        request->found = window;
        return FALSE;
    }
    return TRUE;
}

Control Describe(HWND child) {
    Control control;
    control.handle = child;
    control.className = ClassOf(child);
    control.text = TextOf(child);
    control.style = ::GetWindowLongW(child, GWL_STYLE);
    control.id = ::GetDlgCtrlID(child);
    ::GetWindowRect(child, &control.rect);
    ::MapWindowPoints(nullptr, ::GetParent(child), reinterpret_cast<POINT*>(&control.rect), 2);
    control.enabled = ::IsWindowEnabled(child) != FALSE;
    control.visible = ::IsWindowVisible(child) != FALSE;
    return control;
}

BOOL CALLBACK CollectChild(HWND child, LPARAM parameter) {
    reinterpret_cast<std::vector<Control>*>(parameter)->push_back(Describe(child));
    return TRUE;
}

HWND FocusOf(HWND window) {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (::GetGUIThreadInfo(::GetWindowThreadProcessId(window, nullptr), &info) && info.hwndFocus) {
        return info.hwndFocus;
    }
    return window;
}

}  // namespace

HWND WaitForWindow(const std::wstring& className, const std::wstring& title, DWORD timeoutMs) {
    const ULONGLONG start = ::GetTickCount64();
    for (;;) {
        FindRequest request{className, title};
        ::EnumWindows(MatchTopLevel, reinterpret_cast<LPARAM>(&request));
        if (request.found) {
            // Let the dialog finish laying out and focusing its controls.
            ::Sleep(300);
            return request.found;
        }
        if (::GetTickCount64() - start > timeoutMs) {
            return nullptr;
        }
        ::Sleep(50);
    }
}

std::wstring TextOf(HWND window) {
    const int length = ::GetWindowTextLengthW(window);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    const int copied = ::GetWindowTextW(window, text.data(), length + 1);
    text.resize(static_cast<std::size_t>(copied > 0 ? copied : 0));
    return text;
}

std::wstring ClassOf(HWND window) {
    wchar_t name[256] = {};
    ::GetClassNameW(window, name, 256);
    return name;
}

std::vector<Control> ChildrenOf(HWND parent) {
    std::vector<Control> children;
    for (HWND child = ::GetWindow(parent, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
        children.push_back(Describe(child));
    }
    return children;
}

std::vector<Control> DescendantsOf(HWND parent) {
    std::vector<Control> all;
    ::EnumChildWindows(parent, CollectChild, reinterpret_cast<LPARAM>(&all));
    return all;
}

void PostKey(HWND window, WPARAM virtualKey) {
    const HWND target = FocusOf(window);
    const UINT scan = ::MapVirtualKeyW(static_cast<UINT>(virtualKey), MAPVK_VK_TO_VSC);
    ::PostMessageW(target, WM_KEYDOWN, virtualKey, 1 | (static_cast<LPARAM>(scan) << 16));
    ::PostMessageW(target, WM_KEYUP, virtualKey, 1 | (static_cast<LPARAM>(scan) << 16) | (3u << 30));
}

void PostAltKey(HWND window, WPARAM virtualKey) {
    const HWND target = FocusOf(window);
    const UINT scan = ::MapVirtualKeyW(static_cast<UINT>(virtualKey), MAPVK_VK_TO_VSC);
    constexpr LPARAM kContextAlt = LPARAM{1} << 29;
    ::PostMessageW(target, WM_SYSKEYDOWN, virtualKey, 1 | (static_cast<LPARAM>(scan) << 16) | kContextAlt);
    ::PostMessageW(target, WM_SYSKEYUP, virtualKey,
                   1 | (static_cast<LPARAM>(scan) << 16) | kContextAlt | (LPARAM{3} << 30));
}

Helper::Helper(std::function<void()> work) : work_(std::move(work)) {
    thread_.Reset(::CreateThread(nullptr, 0, Run, this, 0, nullptr));
}

Helper::~Helper() { Join(); }

void Helper::Join() {
    if (thread_) {
        ::WaitForSingleObject(thread_.Get(), INFINITE);
        thread_.Reset();
    }
}

DWORD WINAPI Helper::Run(void* self) {
    static_cast<Helper*>(self)->work_();
    return 0;
}

bool SaveWindowImage(HWND window, const std::wstring& path) {
    RECT rect{};
    ::GetWindowRect(window, &rect);
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    const HDC screen = ::GetDC(nullptr);
    const HDC memory = ::CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    const HBITMAP bitmap = ::CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    const HGDIOBJ old = ::SelectObject(memory, bitmap);
    ::BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
    ::GdiFlush();
    const DWORD stride = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
    const DWORD imageSize = stride * static_cast<DWORD>(height);
    BITMAPFILEHEADER header{};
    header.bfType = 0x4D42;
    header.bfOffBits = sizeof header + sizeof info.bmiHeader;
    header.bfSize = header.bfOffBits + imageSize;
    bool saved = false;
    const UniqueFile file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    if (file) {
        DWORD written = 0;
        saved = ::WriteFile(file.Get(), &header, sizeof header, &written, nullptr) &&
                ::WriteFile(file.Get(), &info.bmiHeader, sizeof info.bmiHeader, &written, nullptr) &&
                ::WriteFile(file.Get(), bits, imageSize, &written, nullptr);
    }
    ::SelectObject(memory, old);
    ::DeleteObject(bitmap);
    ::DeleteDC(memory);
    ::ReleaseDC(nullptr, screen);
    return saved;
}

}  // namespace window_probe
