#pragma once
// The Windows directory and the system directory as the system reports them, never from an environment
// variable: the system's own folders (its temporary folder, its side-by-side store, the programs a setup
// program may call) are found from them.
#include "common/wide_string.h"

// Each gives the folder without a trailing backslash; false when the system gives none that fits MAX_PATH.
bool GetWindowsFolder(WideString& folder);
bool GetSystemFolder(WideString& folder);
