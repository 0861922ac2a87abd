#pragma once
#include <windows.h>

#include "common/outcome.h"

// A failure with text and the thread's last error. Called right after the call that failed, before
// another call can overwrite that error.
inline Outcome FailedCall(const wchar_t* text) { return Outcome::Failure(text, ::GetLastError()); }
