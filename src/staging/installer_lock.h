#pragma once
#include <windows.h>

#include "common/wide_string.h"
#include "common/win32_handles.h"

// Opens the lock held on a downloaded installer from its last check until it has run: readers only, so
// the trust check and the loader can open the file while nobody can write, rename or delete it. The
// returned owner is invalid when the file cannot be opened that way.
inline UniqueFile OpenInstallerLock(const WideString& path) {
    return UniqueFile(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
}
