#pragma once
#include "common/wide_string.h"

// Ensures the per-user staging folder exists and names this run's files after a fresh GUID.
// Writes the outputs only on success.
bool MakeStagingPaths(WideString& partialPath, WideString& finalPath);
