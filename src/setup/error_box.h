#pragma once
#include <windows.h>

#include "common/wide_string.h"

// The run's one message box: no owner window, the product's caption, brought to the foreground.
void ShowErrorBox(const WideString& text, UINT style);
