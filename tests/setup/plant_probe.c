/* The control case of the planting test: a program that loads dwmapi.dll without restricting the
   search finds a planted copy beside itself, so the test can see a planted DLL load. */
#include <windows.h>

int main(void) {
    return LoadLibraryW(L"dwmapi.dll") ? 0 : 1;
}
