/* A stand-in for a product setup package: a small Windows program the tests sign and serve. It is built
   twice with different names, so the two architectures' packages differ. */
#include <windows.h>

int wmain(void) {
    static const char kName[] = "Quillo test package " PACKAGE_NAME;
    return (int)(sizeof(kName) & 0x7F);
}
