/* Stands in for the vendor's setup program in end-to-end runs: it records that it ran (and from
   where) in the file named by WEBSETUP_MARKER, then exits with WEBSETUP_SETUP_EXIT (default 0). */
#include <stdio.h>
#include <stdlib.h>
#include <windows.h>

#ifndef FLAVOUR
#define FLAVOUR "x86"
#endif

int main(void) {
    const char* marker = getenv("WEBSETUP_MARKER");
    const char* code = getenv("WEBSETUP_SETUP_EXIT");
    if (marker) {
        char self[MAX_PATH] = {0};
        GetModuleFileNameA(NULL, self, MAX_PATH);
        FILE* out = fopen(marker, "w");
        if (out) {
            fprintf(out, "flavour=%s\nimage=%s\n", FLAVOUR, self);
            fclose(out);
        }
    }
    return code ? atoi(code) : 0;
}
