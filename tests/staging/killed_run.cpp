// A web setup's run ended from outside in the middle of its download: it opens a run, writes part of
// the package, writes the run folder's path to the file named by its argument, signals
// "Local\websetup-killed-run.ready" and waits to be killed.
#include <windows.h>

#include <cstdio>

#include "staging/staged_run.h"

namespace {

HANDLE ready = nullptr;

Outcome WriteThenHang(const PackageEntry&, HANDLE file, DownloadObserver*) {
    DWORD written = 0;
    ::WriteFile(file, "MZ partial", 10, &written, nullptr);
    ::FlushFileBuffers(file);
    ::SetEvent(ready);
    ::Sleep(INFINITE);
    return {};
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) return 2;
    ready = ::OpenEventW(EVENT_MODIFY_STATE, FALSE, L"Local\\websetup-killed-run.ready");
    if (ready == nullptr) return 3;
    StagingCalls calls;
    calls.downloadInto = WriteThenHang;
    StagedRun run(RunFolderPlace::MachineTemp, calls);
    if (!run.Open()) return 4;
    FILE* out = _wfopen(argv[1], L"wb");
    if (out == nullptr) return 5;
    std::fwrite(run.FolderPath().data(), sizeof(wchar_t), run.FolderPath().size(), out);
    std::fclose(out);
    const PackageEntry package{L"https://x/p", std::wstring(64, L'0'), 100};
    (void)run.Download(package, nullptr);
    return 6;
}
