#pragma once
// The Windows directory as the system reports it, never from an environment variable: the system's own
// folders (its temporary folder, its side-by-side store) are found from it.
#include "common/wide_string.h"

// The folder without a trailing backslash; false when the system gives none that fits MAX_PATH.
bool GetWindowsFolder(WideString& folder);
