#pragma once
#include <windows.h>

#include "common/wide_string.h"

// The run's one message box: no owner window, the product's caption, brought to the foreground.
void ShowErrorBox(const WideString& text, UINT style);

// The same box under the empty activation context, for a refusal made before Common Controls may load:
// its buttons are the system's own classes, and no Common Controls 6 class is drawn, or loaded, for it.
// Shows nothing where that context cannot be made active.
void ShowPlainErrorBox(const WideString& text, UINT style);
