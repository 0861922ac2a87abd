#include <windows.h>

#include "setup/dll_redirection.h"
#include "setup/setup_driver.h"
#include "ui/progress_window.h"

namespace {

// The system DLLs this program uses beyond the KnownDLLs it imports. They are delay-loaded, and
// loaded here once more by name from System32 so that any system DLL that asks for one of them later
// is handed this copy. Not comctl32: version 6, which has the task dialog, comes from the side-by-side
// store through the application manifest, and the redirection check loads it from there.
constexpr const wchar_t* kSystemLibraries[] = {L"bcrypt.dll", L"crypt32.dll", L"wintrust.dll", L"winhttp.dll"};

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    // First, before anything resolves a DLL by search path: this elevated program usually starts from a
    // Downloads folder where anyone can drop a winhttp.dll or version.dll beside it. Only KnownDLLs are
    // imported statically; every other system DLL is found in System32 alone. This loads nothing.
    ::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    // Then, before any DLL beyond the KnownDLLs loads: a .local file or folder that anyone could have put
    // beside this program would choose the DLLs it runs elevated. Where nothing is found, Common Controls
    // is loaded here, from the system's side-by-side store, and stays: every later use finds it loaded.
    // What the user sees of the run. Making it loads nothing; its window opens only after the prompt.
    ProgressWindow face;
    const DllRedirection redirection = FindDllRedirection();
    if (redirection != DllRedirection::None) {
        return static_cast<int>(RefuseDllRedirection(redirection, face));
    }
    for (const wchar_t* library : kSystemLibraries) {
        ::LoadLibraryExW(library, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    }
    return static_cast<int>(RunSetup(face));
}
