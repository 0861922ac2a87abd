#include "common/windows_folder.h"

#include <windows.h>

namespace {

bool FolderFrom(UINT(WINAPI* query)(LPWSTR, UINT), WideString& folder) {
    wchar_t path[MAX_PATH + 1] = {};
    const UINT length = query(path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return false;
    }
    folder.assign(path, length);
    if (folder.back() == L'\\') {
        folder.pop_back();
    }
    return true;
}

}  // namespace

bool GetWindowsFolder(WideString& folder) { return FolderFrom(::GetSystemWindowsDirectoryW, folder); }

bool GetSystemFolder(WideString& folder) { return FolderFrom(::GetSystemDirectoryW, folder); }
