#pragma once
// The progress window's expected layout, checked against the live window at a given system DPI.
#include <string>

#include "ui/progress_window.h"

// Outer size, centring on the work area, each control's place, text, style, id and font, the fonts'
// scaled heights, the icon's size and the bar's range. Reports through GoogleTest.
void ExpectLaidOut(const ProgressWindow& progress, const std::wstring& versionLine, int dpi);
