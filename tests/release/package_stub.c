/* A stand-in for a product setup package: a small Windows program the tests sign and serve. It is built
   twice with different names, so the two architectures' packages differ, and as a DLL, which is no
   program at all. */
#include <windows.h>

#ifdef PACKAGE_DLL
BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    (void)instance;
    (void)reason;
    (void)reserved;
    return TRUE;
}
#else
int wmain(void) {
    static const char kName[] = "Quillo test package " PACKAGE_NAME;
    /* The exit code depends on the name's last character, so the two builds differ in their code even
       when they are linked in the same second (the name alone would be folded away). */
    return (int)(kName[sizeof(kName) - 2] & 0x7F);
}
#endif
