#pragma once
// Side-by-side redirection: a <program>.exe.local file or folder beside the program can make the loader
// take DLLs from there, Common Controls included (a folder shaped like the side-by-side store's own,
// <program>.exe.local\<assembly folder>\comctl32.dll, can stand in for the manifest's dependency).
#include <windows.h>

enum class DllRedirection {
    None,
    // Something stands under the .local name beside the program, or the activation context does not
    // take Common Controls from the system's side-by-side store; nothing was loaded through it.
    Planted,
    // The process was started with .local redirection in force, or Common Controls came from elsewhere
    // than the checks saw: any further DLL load, a message box's included, may come from there.
    InForce,
};

// The calls that decide where Common Controls resolves. A test replaces one to give an answer this
// Wine never gives (it never consults .local, and always takes Common Controls from its own store).
struct RedirectionCalls {
    decltype(&::FindActCtxSectionStringW) findActCtxSectionStringW = ::FindActCtxSectionStringW;
    decltype(&::QueryActCtxW) queryActCtxW = ::QueryActCtxW;
    decltype(&::LoadLibraryExW) loadLibraryExW = ::LoadLibraryExW;
};

// Call it before any DLL outside the KnownDLLs loads. Checks the loader's flag, the .local name beside
// the program and where the activation context resolves comctl32.dll; when all three are clean, loads
// Common Controls at once, so that its first load follows the checks with nothing in between, and
// checks where it came from.
DllRedirection FindDllRedirection(const RedirectionCalls& calls = {});
