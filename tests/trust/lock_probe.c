/* Tries, from another process, what the installer lock must allow and forbid on the file named by
 * argv[1]. The exit code has one bit per attempt that succeeded:
 *   1 open for reading, 2 open for writing, 4 rename, 8 delete
 * A rename that succeeds is undone, so the delete attempt sees the file at its own name. */
#include <windows.h>
#include <wchar.h>

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) return 64;
    const wchar_t* path = argv[1];
    int result = 0;

    HANDLE reader = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (reader != INVALID_HANDLE_VALUE) {
        char byte;
        DWORD read = 0;
        if (ReadFile(reader, &byte, 1, &read, NULL) && read == 1) result |= 1;
        CloseHandle(reader);
    }

    HANDLE writer = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (writer != INVALID_HANDLE_VALUE) {
        result |= 2;
        CloseHandle(writer);
    }

    wchar_t moved[MAX_PATH + 8];
    _snwprintf(moved, MAX_PATH + 8, L"%ls.moved", path);
    moved[MAX_PATH + 7] = L'\0';
    if (MoveFileExW(path, moved, 0)) {
        result |= 4;
        MoveFileExW(moved, path, 0);
    }

    if (DeleteFileW(path)) result |= 8;
    return result;
}
