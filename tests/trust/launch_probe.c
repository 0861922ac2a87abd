/* Stands in for the downloaded installer. It takes no arguments, as the real one gets none, so its
 * behaviour comes from its own file name, or from LAUNCH_PROBE_AS where a staged run has named it:
 *   exit-N.exe   exits with N (decimal, up to 4294967295)
 *   wait-N.exe   signals "<name>.ready", waits for "<name>.go", then exits with N
 * Before exiting it writes its command line, current directory, own path, TEMP, TMP and PATH to
 * "<its path>.ran", one a line, and a file "probe-helper.dll" into its TEMP, as setup programs unpack
 * their helpers there. */
#include <windows.h>
#include <stdlib.h>
#include <wchar.h>

static void EventName(const wchar_t* base, const wchar_t* suffix, wchar_t* out, size_t size) {
    _snwprintf(out, size, L"Local\\websetup-launch-probe-%ls%ls", base, suffix);
    out[size - 1] = L'\0';
}

int wmain(void) {
    wchar_t path[MAX_PATH];
    if (!GetModuleFileNameW(NULL, path, MAX_PATH)) return 100;
    const wchar_t* base = wcsrchr(path, L'\\');
    base = base ? base + 1 : path;
    wchar_t as[MAX_PATH] = {0};
    if (GetEnvironmentVariableW(L"LAUNCH_PROBE_AS", as, MAX_PATH) > 0) base = as;

    const wchar_t* dash = wcschr(base, L'-');
    if (!dash) return 101;
    const unsigned long code = wcstoul(dash + 1, NULL, 10);

    if (wcsncmp(base, L"wait-", 5) == 0) {
        wchar_t name[MAX_PATH + 64];
        EventName(base, L".ready", name, MAX_PATH + 64);
        HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, name);
        EventName(base, L".go", name, MAX_PATH + 64);
        HANDLE go = OpenEventW(SYNCHRONIZE, FALSE, name);
        if (!ready || !go) return 102;
        SetEvent(ready);
        WaitForSingleObject(go, INFINITE);
    }

    wchar_t marker[MAX_PATH + 8];
    _snwprintf(marker, MAX_PATH + 8, L"%ls.ran", path);
    marker[MAX_PATH + 7] = L'\0';
    HANDLE file = CreateFileW(marker, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) return 103;
    wchar_t directory[MAX_PATH] = {0};
    GetCurrentDirectoryW(MAX_PATH, directory);
    static wchar_t temp[32768], tmp[32768], search[32768];
    GetEnvironmentVariableW(L"TEMP", temp, 32768);
    GetEnvironmentVariableW(L"TMP", tmp, 32768);
    GetEnvironmentVariableW(L"PATH", search, 32768);
    const wchar_t* lines[] = {GetCommandLineW(), L"\n", directory, L"\n", path, L"\n", temp, L"\n", tmp, L"\n",
                              search};
    for (size_t i = 0; i < sizeof lines / sizeof lines[0]; ++i) {
        DWORD written = 0;
        WriteFile(file, lines[i], (DWORD)(wcslen(lines[i]) * sizeof(wchar_t)), &written, NULL);
    }
    CloseHandle(file);
    wchar_t helper[32768 + 32];
    _snwprintf(helper, 32768 + 32, L"%ls\\probe-helper.dll", temp);
    helper[32768 + 31] = L'\0';
    HANDLE unpacked = CreateFileW(helper, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (unpacked != INVALID_HANDLE_VALUE) CloseHandle(unpacked);
    return (int)code;
}
