// The installer launch with real processes (launch_probe.exe, whose file name, or LAUNCH_PROBE_AS, says
// what it does), staged as a run stages its setup program, and the installer lock as the run takes it,
// tried from another process (lock_probe.exe).
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>

#include "common/win32_handles.h"
#include "harness/test_support.h"
#include "setup/installer_launch.h"
#include "staging/installer_lock.h"
#include "staging/staged_run.h"
#include "trust/installer_trust.h"

namespace {

std::wstring TrustFile(const char* name) { return test_support::HarnessPath(std::string("trust/files/") + name); }

constexpr char kProbe[] = "launch_probe.exe";
constexpr char kSignedProbe[] = "valid.exe";
constexpr char kSignedLibrary[] = "signed-library.exe";

// The bytes of one of the trust files, as the download would write them.
template <const char* kName>
Outcome WriteTrustFile(const PackageEntry&, HANDLE file, DownloadObserver*) {
    const std::string bytes = test_support::ReadWholeFile(TrustFile(kName));
    DWORD written = 0;
    return WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                   written == bytes.size()
               ? Outcome()
               : Outcome::Failure(L"Could not securely save the downloaded installer.");
}

// A file staged as the download would leave it, and, unless realTrust, a trust check that passes: most
// cases here are about the launch, which accepts only what a run has verified.
template <const char* kName = kProbe>
StagingCalls ProbeCalls(bool realTrust = false) {
    StagingCalls calls;
    calls.downloadInto = WriteTrustFile<kName>;
    calls.fileMatchesPackage = [](HANDLE, const PackageEntry&) { return Outcome(); };
    if (!realTrust) {
        calls.verifyTrust = [](HANDLE, const WideString&, const WideString&) {
            TrustVerdict verdict;
            verdict.kind = TrustVerdict::Kind::Trusted;
            return verdict;
        };
    }
    return calls;
}

// Takes run from its folder to a verified probe.
void StageProbe(StagedRun& run, std::optional<VerifiedInstaller>& installer) {
    const PackageEntry package{L"https://x/probe", std::wstring(64, L'0'), 1};
    ASSERT_TRUE(run.Open());
    ASSERT_TRUE(run.Download(package, nullptr));
    ASSERT_TRUE(run.Promote());
    ASSERT_TRUE(run.Seal(package));
    ASSERT_TRUE(run.Verify(L"BRIMLOW AI LABS PRIVATE LIMITED", installer));
}

// What the probe saw, a line each.
struct ProbeReport {
    std::wstring commandLine;
    std::wstring directory;
    std::wstring image;
    std::wstring temp;
    std::wstring tmp;
    std::wstring path;
};

ProbeReport ReadMarker(const std::wstring& programPath) {
    const std::string bytes = test_support::ReadWholeFile(programPath + L".ran");
    std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
    std::wstring lines[6];
    for (std::wstring& line : lines) {
        const std::size_t end = text.find(L'\n');
        line = text.substr(0, end);
        text = end == std::wstring::npos ? std::wstring() : text.substr(end + 1);
    }
    return {lines[0], lines[1], lines[2], lines[3], lines[4], lines[5]};
}

// Sets an environment variable of this process for one scope.
class ScopedVariable {
public:
    ScopedVariable(const wchar_t* name, const std::wstring& value) : name_(name) {
        wchar_t saved[32768] = {};
        had_ = GetEnvironmentVariableW(name, saved, 32768) > 0;
        saved_ = saved;
        SetEnvironmentVariableW(name, value.c_str());
    }
    ~ScopedVariable() { SetEnvironmentVariableW(name_, had_ ? saved_.c_str() : nullptr); }

private:
    const wchar_t* name_;
    bool had_ = false;
    std::wstring saved_;
};

TEST(InstallerLaunch, APathWithBlanksStartsWithOnlyTheQuotedPathAsCommandLine) {
    // A run in the user's temporary folder (as the release tool stages), here one whose name has blanks.
    const ScopedVariable tmp(L"TMP", test_support::MakeScratchFolder(L"launch with blanks") + L"\\");
    StagedRun run(RunFolderPlace::UserTemp, ProbeCalls());
    std::optional<VerifiedInstaller> installer;
    StageProbe(run, installer);
    ASSERT_TRUE(installer);
    ASSERT_NE(installer->Path().find(L' '), std::wstring::npos);
    std::uint32_t exitCode = 1;
    ASSERT_TRUE(LaunchInstaller(*installer, exitCode));
    EXPECT_EQ(exitCode, 0u);
    const ProbeReport report = ReadMarker(installer->Path());
    EXPECT_EQ(report.commandLine, L"\"" + installer->Path() + L"\"");
    EXPECT_EQ(report.directory, installer->Folder()) << "the installer runs in its own folder";
}

TEST(InstallerLaunch, EveryExitCodeIsHandedBackUnchanged) {
    for (const std::uint32_t code : {0u, 1u, 3010u, 0xFFFFFFFFu}) {
        const ScopedVariable as(L"LAUNCH_PROBE_AS", L"exit-" + std::to_wstring(code) + L".exe");
        StagedRun run(RunFolderPlace::MachineTemp, ProbeCalls());
        std::optional<VerifiedInstaller> installer;
        StageProbe(run, installer);
        ASSERT_TRUE(installer);
        std::uint32_t exitCode = code == 1 ? 0 : 1;
        ASSERT_TRUE(LaunchInstaller(*installer, exitCode)) << code;
        EXPECT_EQ(exitCode, code);
    }
}

TEST(InstallerLaunch, AStagedRunStartsInItsOwnFolderInTheMachinesTemporaryFolderWhateverTmpSays) {
    // TMP names a folder with a trailing dot (beside a folder without it), or tmp-link\, a host symbolic
    // link to real-tmp (made by the transfer tests' CTest fixture): a same-user process controls both.
    // Neither is used, and nothing is made in either.
    const std::wstring scratch = test_support::MakeScratchFolder(L"launch-tmp");
    CreateDirectoryW((L"\\\\?\\" + scratch + L"\\x.").c_str(), nullptr);
    CreateDirectoryW((scratch + L"\\x").c_str(), nullptr);
    const std::wstring linked = test_support::HarnessPath("transfer-link");
    wchar_t windows[MAX_PATH] = {};
    GetSystemWindowsDirectoryW(windows, MAX_PATH);
    const std::wstring machineTemp = std::wstring(windows) + L"\\Temp\\BrimlowAIQuillo-";

    for (const std::wstring& temp : {scratch + L"\\x.\\", linked + L"\\tmp-link\\"}) {
        SCOPED_TRACE(std::string(temp.begin(), temp.end()));
        const ScopedVariable tmp(L"TMP", temp);
        const ScopedVariable temp2(L"TEMP", temp);
        StagedRun run(RunFolderPlace::MachineTemp, ProbeCalls());
        std::optional<VerifiedInstaller> installer;
        StageProbe(run, installer);
        ASSERT_TRUE(installer);

        std::uint32_t exitCode = 1;
        ASSERT_TRUE(LaunchInstaller(*installer, exitCode));
        const ProbeReport report = ReadMarker(installer->Path());
        EXPECT_EQ(report.image, installer->Path());
        EXPECT_EQ(::CompareStringOrdinal(report.image.c_str(), static_cast<int>(machineTemp.size()),
                                         machineTemp.c_str(), -1, TRUE),
                  CSTR_EQUAL)
            << std::string(report.image.begin(), report.image.end());
        EXPECT_EQ(report.directory, run.FolderPath()) << "the installer runs in the run folder";

        const std::wstring folder = run.FolderPath();
        run.Remove();
        EXPECT_FALSE(test_support::FileExists(folder)) << "the probe's marker goes with the run's folder";
    }
    EXPECT_EQ(test_support::CountEntries(scratch + L"\\x."), 0);
    EXPECT_EQ(test_support::CountEntries(scratch + L"\\x"), 0);
    EXPECT_EQ(test_support::CountEntries(linked + L"\\real-tmp"), 0);
}

TEST(InstallerLaunch, TheSetupProgramGetsTheRunsTemporaryFolderAndOnlyTheSystemsPath) {
    // What the user's own processes may have set: a temporary folder and a PATH entry of theirs.
    const std::wstring users = test_support::MakeScratchFolder(L"launch-user-env");
    const ScopedVariable tmp(L"TMP", users);
    const ScopedVariable temp(L"TEMP", users);
    const ScopedVariable path(L"PATH", users + L";C:\\windows\\system32");
    const ScopedVariable kept(L"WEBSETUP_KEPT", L"as it was");
    StagedRun run(RunFolderPlace::MachineTemp, ProbeCalls());
    std::optional<VerifiedInstaller> installer;
    StageProbe(run, installer);
    ASSERT_TRUE(installer);
    std::uint32_t exitCode = 1;
    ASSERT_TRUE(LaunchInstaller(*installer, exitCode));

    const ProbeReport report = ReadMarker(installer->Path());
    EXPECT_EQ(report.temp, run.FolderPath() + L"\\Temp");
    EXPECT_EQ(report.tmp, run.FolderPath() + L"\\Temp");
    EXPECT_EQ(report.path.find(users), std::wstring::npos) << std::string(report.path.begin(), report.path.end());
    wchar_t system[MAX_PATH] = {};
    GetSystemDirectoryW(system, MAX_PATH);
    EXPECT_EQ(report.path.rfind(system, 0), 0u) << "the system's folders, the system folder first";
    EXPECT_TRUE(test_support::FileExists(run.FolderPath() + L"\\Temp\\probe-helper.dll"));
    EXPECT_EQ(test_support::CountEntries(users), 0) << "nothing in the user's temporary folder";

    const std::wstring folder = run.FolderPath();
    run.Remove();
    EXPECT_FALSE(test_support::FileExists(folder)) << "what it unpacked goes with the run";
}

TEST(InstallerEnvironment, OnlyTheTemporaryFoldersThePathAndTheWindowsFolderAreReplaced) {
    const wchar_t current[] = L"=C:=C:\\users\0Path=Z:\\user\0temp=Z:\\t\0TMP=Z:\\t\0windir=Z:\\w\0"
                              L"SYSTEMROOT=Z:\\w\0USERNAME=someone\0ZED=last\0";
    const std::wstring block = setup_internal::MakeInstallerEnvironment(current, L"C:\\run\\Temp",
                                                                        L"C:\\windows", L"C:\\windows\\system32");
    std::wstring expected;
    for (const wchar_t* entry :
         {L"=C:=C:\\users", L"PATH=C:\\windows\\system32;C:\\windows;C:\\windows\\system32\\Wbem;"
                              L"C:\\windows\\system32\\WindowsPowerShell\\v1.0\\",
          L"SystemRoot=C:\\windows", L"TEMP=C:\\run\\Temp", L"TMP=C:\\run\\Temp", L"USERNAME=someone",
          L"windir=C:\\windows", L"ZED=last"}) {
        expected += entry;
        expected += L'\0';
    }
    expected += L'\0';
    EXPECT_EQ(block, expected);
}

struct Release {
    HANDLE ready;
    HANDLE go;
    volatile LONG released;
};

DWORD WINAPI ReleaseLater(void* parameter) {
    auto* release = static_cast<Release*>(parameter);
    if (::WaitForSingleObject(release->ready, 30000) != WAIT_OBJECT_0) {
        return 1;
    }
    // Long enough that a launch that did not wait would have returned already.
    ::Sleep(1500);
    ::InterlockedExchange(&release->released, 1);
    ::SetEvent(release->go);
    return 0;
}

TEST(InstallerLaunch, AnInstallerThatWaitsIsWaitedFor) {
    const ScopedVariable as(L"LAUNCH_PROBE_AS", L"wait-7.exe");
    StagedRun run(RunFolderPlace::MachineTemp, ProbeCalls());
    std::optional<VerifiedInstaller> installer;
    StageProbe(run, installer);
    ASSERT_TRUE(installer);
    const UniqueProcess ready(::CreateEventW(nullptr, TRUE, FALSE, L"Local\\websetup-launch-probe-wait-7.exe.ready"));
    const UniqueProcess go(::CreateEventW(nullptr, TRUE, FALSE, L"Local\\websetup-launch-probe-wait-7.exe.go"));
    ASSERT_TRUE(ready && go);
    Release release{ready.Get(), go.Get(), 0};
    const UniqueThread releaser(::CreateThread(nullptr, 0, ReleaseLater, &release, 0, nullptr));
    ASSERT_TRUE(releaser);

    std::uint32_t exitCode = 1;
    ASSERT_TRUE(LaunchInstaller(*installer, exitCode));
    EXPECT_EQ(release.released, 1) << "the launch returned before the installer was released";
    EXPECT_EQ(exitCode, 7u);
    ::WaitForSingleObject(releaser.Get(), INFINITE);
}

TEST(InstallerLaunch, WhatCannotBeStartedFailsAndLeavesTheExitCode) {
    // A validly signed DLL under an .exe name passes the trust check but is no program.
    StagedRun run(RunFolderPlace::MachineTemp, ProbeCalls<kSignedLibrary>(true));
    std::optional<VerifiedInstaller> installer;
    StageProbe(run, installer);
    ASSERT_TRUE(installer);
    std::uint32_t exitCode = 1;
    EXPECT_FALSE(LaunchInstaller(*installer, exitCode));
    EXPECT_EQ(exitCode, 1u);
}

std::uint32_t RunLockProbe(const std::wstring& target) {
    const std::wstring probe = TrustFile("lock_probe.exe");
    std::wstring commandLine = L"\"" + probe + L"\" \"" + target + L"\"";
    STARTUPINFOW startupInfo{};
    startupInfo.cb = sizeof(startupInfo);
    PROCESS_INFORMATION processInfo{};
    if (!::CreateProcessW(probe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startupInfo, &processInfo)) {
        return 0xDEAD;
    }
    const UniqueProcess process(processInfo.hProcess);
    const UniqueThread thread(processInfo.hThread);
    ::WaitForSingleObject(process.Get(), INFINITE);
    DWORD code = 0xDEAD;
    ::GetExitCodeProcess(process.Get(), &code);
    return code;
}

constexpr std::uint32_t kRead = 1, kWrite = 2, kRename = 4, kDelete = 8;

TEST(InstallerLock, OthersCanReadTheLockedFileButNotWriteRenameOrDeleteIt) {
    const std::wstring folder = test_support::MakeScratchFolder(L"installer lock");
    const std::wstring path = folder + L"\\locked installer.exe";
    ASSERT_TRUE(::CopyFileW(TrustFile("valid.exe").c_str(), path.c_str(), FALSE));
    {
        const UniqueFile lock = OpenInstallerLock(path);
        ASSERT_TRUE(lock);
        EXPECT_EQ(RunLockProbe(path), kRead);
        // A second handle in this process is refused the same way.
        const UniqueFile writer(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        EXPECT_FALSE(writer);
        EXPECT_TRUE(test_support::FileExists(path));
    }
    // Once the lock is closed, everything the lock refused succeeds: the probe's own attempts work.
    EXPECT_EQ(RunLockProbe(path), kRead | kWrite | kRename | kDelete);
    EXPECT_FALSE(test_support::FileExists(path));
}

TEST(InstallerLock, TheLockedFileIsStillVerifiedAndStartedWhileTheLockIsHeld) {
    // The real trust check through the lock's handle, and the process loader, which opens the file
    // itself: the lock's read-only sharing must admit both.
    const ScopedVariable as(L"LAUNCH_PROBE_AS", L"exit-3010.exe");
    StagedRun run(RunFolderPlace::MachineTemp, ProbeCalls<kSignedProbe>(true));
    std::optional<VerifiedInstaller> installer;
    StageProbe(run, installer);
    ASSERT_TRUE(installer);
    std::uint32_t exitCode = 1;
    ASSERT_TRUE(LaunchInstaller(*installer, exitCode));
    EXPECT_EQ(exitCode, 3010u);
}

}  // namespace
