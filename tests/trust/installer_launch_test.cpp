// The installer launch with real processes (launch_probe.exe, whose file name says what it does), and the
// installer lock as the driver takes it, tried from another process (lock_probe.exe).
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "common/installer_lock.h"
#include "common/win32_handles.h"
#include "setup/installer_launch.h"
#include "harness/test_support.h"
#include "transfer/staging_paths.h"
#include "trust/installer_trust.h"

namespace {

std::wstring TrustFile(const char* name) { return test_support::HarnessPath(std::string("trust/files/") + name); }

// A copy of the probe under the given name, in a fresh folder whose name has blanks.
std::wstring StageProbe(const std::wstring& folderName, const std::wstring& fileName) {
    const std::wstring folder = test_support::MakeScratchFolder(folderName);
    const std::wstring path = folder + L"\\" + fileName;
    EXPECT_TRUE(::CopyFileW(TrustFile("launch_probe.exe").c_str(), path.c_str(), FALSE));
    return path;
}

// What the probe saw: its command line, its current directory and its own path.
struct ProbeReport {
    std::wstring commandLine;
    std::wstring directory;
    std::wstring image;
};

ProbeReport ReadMarker(const std::wstring& programPath) {
    const std::string bytes = test_support::ReadWholeFile(programPath + L".ran");
    const std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
    const std::size_t first = text.find(L'\n');
    const std::size_t second = text.find(L'\n', first + 1);
    if (first == std::wstring::npos || second == std::wstring::npos) return {text, {}, {}};
    return {text.substr(0, first), text.substr(first + 1, second - first - 1), text.substr(second + 1)};
}

std::wstring FolderOf(const std::wstring& path) { return path.substr(0, path.rfind(L'\\')); }

TEST(InstallerLaunch, APathWithBlanksStartsWithOnlyTheQuotedPathAsCommandLine) {
    const std::wstring path = StageProbe(L"launch with blanks", L"exit-0.exe");
    std::uint32_t exitCode = 1;
    ASSERT_TRUE(LaunchInstaller(path, FolderOf(path), exitCode));
    EXPECT_EQ(exitCode, 0u);
    const ProbeReport report = ReadMarker(path);
    EXPECT_EQ(report.commandLine, L"\"" + path + L"\"");
    EXPECT_EQ(report.directory, FolderOf(path)) << "the installer runs in its own folder";
}

TEST(InstallerLaunch, EveryExitCodeIsHandedBackUnchanged) {
    for (const std::uint32_t code : {0u, 1u, 3010u, 0xFFFFFFFFu}) {
        const std::wstring path =
            StageProbe(L"launch exit codes " + std::to_wstring(code), L"exit-" + std::to_wstring(code) + L".exe");
        std::uint32_t exitCode = code == 1 ? 0 : 1;
        ASSERT_TRUE(LaunchInstaller(path, FolderOf(path), exitCode)) << code;
        EXPECT_EQ(exitCode, code);
    }
}

TEST(InstallerLaunch, AStagedRunStartsInItsOwnFolderInTheMachinesTemporaryFolderWhateverTmpSays) {
    // TMP names a folder with a trailing dot (beside a folder without it), or tmp-link\, a host symbolic
    // link to real-tmp (made by the transfer tests' CTest fixture): a same-user process controls both.
    // Neither is used, and nothing is made in either.
    wchar_t savedTmp[32768] = {};
    wchar_t savedTemp[32768] = {};
    GetEnvironmentVariableW(L"TMP", savedTmp, 32768);
    GetEnvironmentVariableW(L"TEMP", savedTemp, 32768);
    const std::wstring scratch = test_support::MakeScratchFolder(L"launch-tmp");
    CreateDirectoryW((L"\\\\?\\" + scratch + L"\\x.").c_str(), nullptr);
    CreateDirectoryW((scratch + L"\\x").c_str(), nullptr);
    const std::wstring linked = test_support::HarnessPath("transfer-link");
    wchar_t windows[MAX_PATH] = {};
    GetSystemWindowsDirectoryW(windows, MAX_PATH);
    const std::wstring machineTemp = std::wstring(windows) + L"\\Temp\\BrimlowAIQuillo-";

    for (const std::wstring& temp : {scratch + L"\\x.\\", linked + L"\\tmp-link\\"}) {
        SCOPED_TRACE(std::string(temp.begin(), temp.end()));
        SetEnvironmentVariableW(L"TMP", temp.c_str());
        SetEnvironmentVariableW(L"TEMP", temp.c_str());
        StagedRun run;
        const bool staged = static_cast<bool>(MakeStagingPaths(run));
        SetEnvironmentVariableW(L"TMP", savedTmp);
        SetEnvironmentVariableW(L"TEMP", savedTemp);
        ASSERT_TRUE(staged);

        ASSERT_TRUE(::CopyFileW(TrustFile("launch_probe.exe").c_str(), run.FinalPath().c_str(), TRUE));
        std::uint32_t exitCode = 1;
        ASSERT_TRUE(LaunchInstaller(run.FinalPath(), run.FolderPath(), exitCode));
        const ProbeReport report = ReadMarker(run.FinalPath());
        EXPECT_EQ(report.image, run.FinalPath());
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
    const std::wstring path = StageProbe(L"launch waits", L"wait-7.exe");
    const UniqueProcess ready(::CreateEventW(nullptr, TRUE, FALSE, L"Local\\websetup-launch-probe-wait-7.exe.ready"));
    const UniqueProcess go(::CreateEventW(nullptr, TRUE, FALSE, L"Local\\websetup-launch-probe-wait-7.exe.go"));
    ASSERT_TRUE(ready && go);
    Release release{ready.Get(), go.Get(), 0};
    const UniqueThread releaser(::CreateThread(nullptr, 0, ReleaseLater, &release, 0, nullptr));
    ASSERT_TRUE(releaser);

    std::uint32_t exitCode = 1;
    ASSERT_TRUE(LaunchInstaller(path, FolderOf(path), exitCode));
    EXPECT_EQ(release.released, 1) << "the launch returned before the installer was released";
    EXPECT_EQ(exitCode, 7u);
    ::WaitForSingleObject(releaser.Get(), INFINITE);
}

TEST(InstallerLaunch, WhatCannotBeStartedFailsAndLeavesTheExitCode) {
    // A validly signed DLL under an .exe name passes the trust check but is no program.
    for (const std::wstring& path : {TrustFile("signed-library.exe"), TrustFile("does-not-exist.exe")}) {
        std::uint32_t exitCode = 1;
        EXPECT_FALSE(LaunchInstaller(path, FolderOf(path), exitCode));
        EXPECT_EQ(exitCode, 1u);
    }
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
    // The trust system reads the file through the lock; the process loader opens it itself, which the
    // lock's read-only sharing must admit.
    const std::wstring folder = test_support::MakeScratchFolder(L"locked run");
    const std::wstring path = folder + L"\\exit-3010.exe";
    ASSERT_TRUE(::CopyFileW(TrustFile("valid.exe").c_str(), path.c_str(), FALSE));
    const UniqueFile lock = OpenInstallerLock(path);
    ASSERT_TRUE(lock);

    EXPECT_EQ(VerifyInstallerTrust(lock.Get(), path, L"BRIMLOW AI LABS PRIVATE LIMITED").kind, TrustVerdict::Kind::Trusted);
    std::uint32_t exitCode = 1;
    ASSERT_TRUE(LaunchInstaller(path, folder, exitCode));
    EXPECT_EQ(exitCode, 3010u);
}

}  // namespace
