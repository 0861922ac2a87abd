/* Stands in for the vendor's setup program in end-to-end runs: it records that it ran (from which
   file, in which current directory) in the file named by WEBSETUP_MARKER, then exits with WEBSETUP_SETUP_EXIT (default 0).
   With WEBSETUP_LINGER set it first starts a copy of itself that keeps running for that many
   milliseconds, holding its image open, as an installer's leftover child can. It also tries to
   overwrite and to rename its own file, and records whether anything let it: while it runs, the
   installer that verified the file must keep anyone from replacing it. With WEBSETUP_STARTED_AT set,
   the first thing it does is to write its QueryPerformanceCounter value there, for the benchmark. It
   records its TEMP, TMP and PATH too, and unpacks a helper file into its TEMP, as setup programs do. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#ifndef FLAVOUR
#define FLAVOUR "x86"
#endif

int main(int argc, char** argv) {
    const char* startedAt = getenv("WEBSETUP_STARTED_AT");
    if (startedAt) {
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        FILE* out = fopen(startedAt, "w");
        if (out) {
            fprintf(out, "%lld\n", (long long)now.QuadPart);
            fclose(out);
        }
    }
    const char* linger = getenv("WEBSETUP_LINGER");
    if (argc > 1 && strcmp(argv[1], "child") == 0) {
        Sleep(linger ? (DWORD)atoi(linger) : 0);
        return 0;
    }
    if (linger) {
        char self[MAX_PATH] = {0};
        char command[MAX_PATH + 16];
        STARTUPINFOA startup = {sizeof startup};
        PROCESS_INFORMATION child;
        GetModuleFileNameA(NULL, self, MAX_PATH);
        snprintf(command, sizeof command, "\"%s\" child", self);
        if (CreateProcessA(self, command, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &child)) {
            CloseHandle(child.hThread);
            CloseHandle(child.hProcess);
        }
    }
    const char* marker = getenv("WEBSETUP_MARKER");
    const char* code = getenv("WEBSETUP_SETUP_EXIT");
    if (marker) {
        char self[MAX_PATH] = {0};
        char moved[MAX_PATH + 8];
        GetModuleFileNameA(NULL, self, MAX_PATH);
        snprintf(moved, sizeof moved, "%s.moved", self);
        HANDLE writer = CreateFileA(self, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    NULL, OPEN_EXISTING, 0, NULL);
        const int writable = writer != INVALID_HANDLE_VALUE;
        if (writable) CloseHandle(writer);
        const int renamed = MoveFileExA(self, moved, 0) != 0;
        if (renamed) MoveFileExA(moved, self, 0);
        FILE* out = fopen(marker, "w");
        if (out) {
            char directory[MAX_PATH] = {0};
            GetCurrentDirectoryA(MAX_PATH, directory);
            const char* temp = getenv("TEMP");
            const char* tmp = getenv("TMP");
            const char* path = getenv("PATH");
            fprintf(out, "flavour=%s\nimage=%s\ncwd=%s\nreplace=%s\ntemp=%s\ntmp=%s\npath=%s\n", FLAVOUR, self,
                    directory, writable || renamed ? "allowed" : "refused", temp ? temp : "", tmp ? tmp : "",
                    path ? path : "");
            fclose(out);
            if (temp) {
                char helper[MAX_PATH + 32];
                snprintf(helper, sizeof helper, "%s\\setup-helper.dll", temp);
                FILE* unpacked = fopen(helper, "wb");
                if (unpacked) fclose(unpacked);
            }
        }
    }
    return code ? atoi(code) : 0;
}
