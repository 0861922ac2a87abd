// What the user waits for between the download's last byte and the setup program's start ("Verifying
// publisher and file integrity…"), for the benchmark command. The program's own stages do the work:
// the driver runs with its real stages, except that the prompt is answered here and that the download,
// the re-hash under the lock and the trust check are wrapped to note when they return. The setup
// program notes its own start (tests/e2e/fake_setup.c, WEBSETUP_STARTED_AT). The installer itself is
// not changed for this.
//   bench_verify.exe run STARTED_AT_FILE   the run against the demo release; prints, in milliseconds,
//                                          "total rehash trust launch": last byte to setup start, and
//                                          its parts (the rename, lock and re-hash; the trust check;
//                                          the progress window's end and the launch)
//   bench_verify.exe trust FILE            WinVerifyTrust alone, through the installer's own call (verify
//                                          and close); milliseconds
#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "setup/confirm_install.h"
#include "setup/setup_driver.h"
#include "trust/authenticode.h"
#include "trust/installer_trust.h"
#include "ui/progress_window.h"

namespace {

LARGE_INTEGER downloadEnd{};
LARGE_INTEGER rehashEnd{};
LARGE_INTEGER trustEnd{};
const SetupStages& real = kSystemStages;

double Milliseconds(LONGLONG from, LONGLONG to) {
    LARGE_INTEGER frequency;
    ::QueryPerformanceFrequency(&frequency);
    return static_cast<double>(to - from) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

int Run(const wchar_t* startedAtFile) {
    // As the installer's wWinMain does first, so that DLL loading costs the same.
    ::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    SetupStages stages = real;
    stages.confirmInstall = [](const ReleaseManifest&) { return kInstallButtonId; };
    stages.staging.downloadInto = [](const PackageEntry& package, HANDLE partialFile, DownloadObserver* observer) {
        Outcome downloaded = real.staging.downloadInto(package, partialFile, observer);
        ::QueryPerformanceCounter(&downloadEnd);
        return downloaded;
    };
    stages.staging.fileMatchesPackage = [](HANDLE lock, const PackageEntry& package) {
        Outcome same = real.staging.fileMatchesPackage(lock, package);
        ::QueryPerformanceCounter(&rehashEnd);
        return same;
    };
    stages.staging.verifyTrust = [](HANDLE lock, const WideString& path, const WideString& publisher) {
        TrustVerdict verdict = real.staging.verifyTrust(lock, path, publisher);
        ::QueryPerformanceCounter(&trustEnd);
        return verdict;
    };
    ProgressWindow face;
    const SetupResult result = RunSetup(face, stages);
    if (result != SetupResult::Success) {
        std::fprintf(stderr, "the run ended with %d\n", static_cast<int>(result));
        return 1;
    }
    LONGLONG started = 0;
    FILE* in = _wfopen(startedAtFile, L"r");
    const bool read = in && std::fscanf(in, "%lld", &started) == 1;
    if (in) std::fclose(in);
    if (!read || downloadEnd.QuadPart == 0 || rehashEnd.QuadPart == 0 || trustEnd.QuadPart == 0) {
        std::fputs("the setup program's start or a stage's end was not noted\n", stderr);
        return 1;
    }
    std::printf("%.0f %.0f %.0f %.0f\n", Milliseconds(downloadEnd.QuadPart, started),
                Milliseconds(downloadEnd.QuadPart, rehashEnd.QuadPart), Milliseconds(rehashEnd.QuadPart, trustEnd.QuadPart),
                Milliseconds(trustEnd.QuadPart, started));
    return 0;
}

int Trust(const wchar_t* path) {
    LARGE_INTEGER start;
    LARGE_INTEGER end;
    ::QueryPerformanceCounter(&start);
    const long status = VerifyAuthenticode(nullptr, path, nullptr);
    ::QueryPerformanceCounter(&end);
    if (status != 0) {
        std::fprintf(stderr, "WinVerifyTrust: 0x%08lx\n", static_cast<unsigned long>(status));
        return 1;
    }
    std::printf("%.0f\n", Milliseconds(start.QuadPart, end.QuadPart));
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 3 && wcscmp(argv[1], L"run") == 0) return Run(argv[2]);
    if (argc == 3 && wcscmp(argv[1], L"trust") == 0) return Trust(argv[2]);
    std::fputs("usage: bench_verify run STARTED_AT_FILE | trust FILE\n", stderr);
    return 2;
}
