#pragma once
#include <windows.h>

#include "common/wide_string.h"

// Whether a delete failed only because the file or folder is not there (any more): nothing to clean up.
inline bool IsAlreadyGone(DWORD error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// Deletes a downloaded file. Where the delete fails (the file is still open somewhere, for instance a
// child of the installer that holds its own image), the elevated program schedules it for deletion
// at the next restart, so that nothing downloaded outlives the run for good. A file that is not there
// is left at that. Results are not shown.
void RemoveDownloadedFile(const WideString& path);
