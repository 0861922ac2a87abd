// Benchmark, not a test: downloads one package through DownloadPackage and reports the time and the
// process's peak memory. Driven by tools/bench-download.sh.
// Usage: bench_download URL SIZE SHA256 PARTIAL_PATH
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cstdlib>

#include "transfer/package_download.h"

int wmain(int argc, wchar_t** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: bench_download URL SIZE SHA256 PARTIAL_PATH\n");
        return 2;
    }
    const PackageEntry package{argv[1], argv[3], std::wcstoull(argv[2], nullptr, 10)};
    // A window record with no window: the pump and the cancel test run, nothing is drawn.
    ProgressWindow progress;
    ErrorText error;
    const ULONGLONG start = GetTickCount64();
    const bool ok = DownloadPackage(package, argv[4], &progress, error);
    const ULONGLONG elapsed = GetTickCount64() - start;
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof(counters);
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));
    const double seconds = elapsed / 1000.0;
    std::printf("result=%s bytes=%llu seconds=%.2f MiBps=%.1f peak_working_set_KiB=%lu\n", ok ? "ok" : "failed",
                static_cast<unsigned long long>(package.size), seconds,
                seconds > 0 ? package.size / 1048576.0 / seconds : 0.0,
                static_cast<unsigned long>(counters.PeakWorkingSetSize / 1024));
    if (!ok) std::fwprintf(stderr, L"%ls\n", error.c_str());
    return ok ? 0 : 1;
}
