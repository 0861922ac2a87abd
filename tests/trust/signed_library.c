/* A DLL to sign: a file with a valid signature that is not a program. */
#include <windows.h>

__declspec(dllexport) int TrustTestValue(void) { return 42; }

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    (void)instance;
    (void)reason;
    (void)reserved;
    return TRUE;
}
