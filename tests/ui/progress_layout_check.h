#pragma once
// The progress window's expected layout, checked against the live window at a given system DPI.
#include <windows.h>

#include <string>

// Outer size, centring on the work area, each control's place, text, style, id and font, the fonts'
// scaled heights, the icon's size and the bar's range. Reports through GoogleTest.
void ExpectLaidOut(HWND window, const std::wstring& versionLine, int dpi);
