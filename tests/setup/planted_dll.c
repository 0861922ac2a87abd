/* A DLL planted beside the installer under the name of a system DLL. If it is ever loaded, its
   DllMain leaves a marker file next to itself: the attack has worked. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) {
        wchar_t path[MAX_PATH + 16];
        DWORD n = GetModuleFileNameW(instance, path, MAX_PATH);
        if (n > 0 && n < MAX_PATH) {
            lstrcatW(path, L".loaded");
            HANDLE marker = CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
            if (marker != INVALID_HANDLE_VALUE) CloseHandle(marker);
        }
    }
    return TRUE;
}
