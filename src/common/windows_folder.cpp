#include "common/windows_folder.h"

#include <windows.h>

bool GetWindowsFolder(WideString& folder) {
    wchar_t windows[MAX_PATH + 1] = {};
    const UINT length = ::GetSystemWindowsDirectoryW(windows, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return false;
    }
    folder.assign(windows, length);
    if (folder.back() == L'\\') {
        folder.pop_back();
    }
    return true;
}
