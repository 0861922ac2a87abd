#include "common/file_cleanup.h"

#include <windows.h>

void RemoveDownloadedFile(const WideString& path) {
    if (!::DeleteFileW(path.c_str()) && !IsAlreadyGone(::GetLastError())) {
        ::MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    }
}
