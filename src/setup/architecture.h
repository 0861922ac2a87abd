#pragma once
#include <windows.h>

// Whether Windows itself is 64-bit (x64 or ARM64), also when this 32-bit program runs under WOW64.
bool IsNative64BitWindows();
bool Is64BitArchitecture(WORD processorArchitecture);
