#include "common/file_cleanup.h"

#include <windows.h>

void RemoveDownloadedFile(const WideString& path) {
    if (!::DeleteFileW(path.c_str())) {
        const DWORD error = ::GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
            ::MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
        }
    }
}
