#pragma once
#include <windows.h>

// Whether Windows itself is 64-bit (x64 or ARM64), also when this 32-bit program runs under WOW64.
bool IsNative64BitWindows();

namespace setup_internal {
// Whether a processor architecture the system reports is one of the 64-bit ones.
bool Is64BitArchitecture(WORD processorArchitecture);
}  // namespace setup_internal
