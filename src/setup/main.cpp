#include <windows.h>

#include "setup/setup_driver.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    // First, before anything resolves a DLL by search path: this elevated program usually starts from a
    // Downloads folder where anyone can drop a winhttp.dll or version.dll beside it. Only KnownDLLs are
    // imported statically; every other system DLL is delay-loaded, and so found in System32 alone.
    ::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    return static_cast<int>(RunSetup(kSystemStages));
}
