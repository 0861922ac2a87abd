#pragma once
// The file a download is written into before it has been proved: made new, written once in order,
// never shared, and removable through the handle it was written through.
#include <windows.h>

#include "common/wide_string.h"
#include "common/win32_handles.h"

// What the user reads when the file cannot be made.
inline constexpr wchar_t kCreateFailedText[] = L"Could not create the temporary installer file.";

// A file that did not exist before at path, opened for writing and for its own deletion; invalid when
// anything already stands under that name (it is not ours) or the file cannot be made.
UniqueFile CreatePartialFile(const WideString& path);

// Marks the open file for deletion when its last handle closes, through that handle, so that the
// delete meets the file that was written and nothing else put under its name. False when refused.
bool DeleteThroughHandle(HANDLE file);
